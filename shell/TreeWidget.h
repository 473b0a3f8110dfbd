#pragma once
// A tree widget that tells its owner of every key press before handling it,
// and paints only the cells of a row that lie in the part being repainted:
// the view repaints whole rows, so one changed cell would lay out the text of
// every column of its row.
#include <QTreeWidget>

class QKeyEvent;

class TreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit TreeWidget(QWidget* parent = nullptr);

    // The part of the viewport being painted while the view paints it;
    // null at other times (cells drawn for a drag image, say).
    const QRegion* RegionBeingPainted() const { return m_painting; }
    // Opens the rows with one layout of the view for them all: opened one by
    // one, each would lay out again every row below it.
    void ExpandItems(const QList<QTreeWidgetItem*>& rows);

signals:
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const QRegion* m_painting = nullptr;
};
