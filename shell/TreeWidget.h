#pragma once
// A tree widget that tells its owner of every key press before handling it.
#include <QTreeWidget>

class QKeyEvent;

class TreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit TreeWidget(QWidget* parent = nullptr);

signals:
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
