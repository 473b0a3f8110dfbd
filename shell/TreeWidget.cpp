#include "TreeWidget.h"
#include <QPointer>

TreeWidget::TreeWidget(QWidget* parent)
    : QTreeWidget(parent)
{
}

void TreeWidget::keyPressEvent(QKeyEvent* event)
{
    // The owner may delete the tree from its handler (closing a tab on a key).
    QPointer<TreeWidget> self(this);
    emit KeyPressed(event);
    if (self)
        QTreeWidget::keyPressEvent(event);
}
