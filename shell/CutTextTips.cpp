#include "CutTextTips.h"
#include "Kit.h"
#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

void CutTextTips::Attach(QAbstractItemView* view)
{
    if (view)
        new CutTextTips(view);
}

CutTextTips::CutTextTips(QAbstractItemView* view)
    : QObject(view)
    , m_view(view)
{
    view->viewport()->installEventFilter(this);
}

bool CutTextTips::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || watched != m_view->viewport())
        return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = m_view->indexAt(help->pos());
    if (!index.isValid() || !index.data(Qt::ToolTipRole).isNull())
        return false;
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = m_view->visualRect(index);
    // The cell as the view draws it in full (text, icon and margins) is
    // wider than the room it has: the text shows cut.
    if (text.isEmpty() || m_view->sizeHintForIndex(index).width() <= cell.width())
        return false;
    QToolTip::showText(help->globalPos(), PlainToolTip(text), m_view->viewport(), cell);
    return true;
}
