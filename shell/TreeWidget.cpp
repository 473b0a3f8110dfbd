#include "TreeWidget.h"
#include <QPaintEvent>
#include <QPointer>
#include <QStyledItemDelegate>

namespace {

class ExposedCellsDelegate : public QStyledItemDelegate {
public:
    explicit ExposedCellsDelegate(TreeWidget* tree)
        : QStyledItemDelegate(tree)
        , m_tree(tree)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRegion* region = m_tree->RegionBeingPainted();
        if (region && !region->intersects(option.rect))
            return;
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    TreeWidget* m_tree;
};

} // namespace

TreeWidget::TreeWidget(QWidget* parent)
    : QTreeWidget(parent)
{
    setItemDelegate(new ExposedCellsDelegate(this));
}

void TreeWidget::ExpandItems(const QList<QTreeWidgetItem*>& rows)
{
    // With a layout pending the view only notes each row open.
    scheduleDelayedItemsLayout();
    for (QTreeWidgetItem* row : rows)
        expand(indexFromItem(row));
}

void TreeWidget::keyPressEvent(QKeyEvent* event)
{
    // The owner may delete the tree from its handler (closing a tab on a key).
    QPointer<TreeWidget> self(this);
    emit KeyPressed(event);
    if (self)
        QTreeWidget::keyPressEvent(event);
}

void TreeWidget::paintEvent(QPaintEvent* event)
{
    const QRegion region = event->region();
    m_painting = &region;
    QTreeWidget::paintEvent(event);
    m_painting = nullptr;
}
