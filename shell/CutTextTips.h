#pragma once
// A list's cell whose text shows cut (a long user, file or folder name in a
// narrow column) shows the whole text in a tool tip on hover, as plain text
// through the text bound. A cell with a tool tip of its own keeps that one.
#include <QObject>

class QAbstractItemView;

class CutTextTips : public QObject {
    Q_OBJECT
public:
    // The tips live as long as the view.
    static void Attach(QAbstractItemView* view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit CutTextTips(QAbstractItemView* view);

    QAbstractItemView* m_view;
};
