#include "TabBar.h"
#include <QEvent>
#include <QStyleOptionTab>

namespace {

// Sizes kept at most; a bar with more labels than this measures them again.
constexpr qsizetype kKeptSizes = 8192;

} // namespace

size_t qHash(const TabBar::Shape& shape, size_t seed)
{
    return qHashMulti(seed, shape.text, shape.left.width(), shape.right.width(), shape.icon.width(),
        shape.barShape, shape.documentMode, shape.selected);
}

TabBar::TabBar(QWidget* parent)
    : QTabBar(parent)
{
}

QSize TabBar::tabSizeHint(int index) const
{
    if (index < 0 || index >= count())
        return QSize();
    const QWidget* left = tabButton(index, LeftSide);
    const QWidget* right = tabButton(index, RightSide);
    // A style may size the current tab apart; the key tells it.
    const Shape key { tabText(index), left ? left->size() : QSize(), right ? right->size() : QSize(),
        tabIcon(index).isNull() ? QSize() : iconSize(), int(shape()), documentMode(),
        index == currentIndex() };
    if (auto it = m_sizes.constFind(key); it != m_sizes.cend())
        return *it;
    const QSize size = QTabBar::tabSizeHint(index);
    if (m_sizes.size() >= kKeptSizes)
        m_sizes.clear();
    m_sizes.insert(key, size);
    return size;
}

void TabBar::initStyleOption(QStyleOptionTab* option, int index) const
{
    if (!option || index < 0 || index >= count())
        return;
    const QRect place = tabRect(index);
    if (place.intersects(rect()))
        QTabBar::initStyleOption(option, index);
    else
        FillOutOfSight(option, index, place);
}

void TabBar::FillOutOfSight(QStyleOptionTab* option, int index, const QRect& place) const
{
    // All a tab out of sight is asked: where it and its buttons go (its
    // place, shape, direction, buttons and whether it is the current one),
    // and the colours of the torn edge drawn where the row is cut off.
    option->state = isEnabled() && isTabEnabled(index) ? QStyle::State_Enabled : QStyle::State_None;
    if (index == currentIndex())
        option->state |= QStyle::State_Selected;
    option->direction = layoutDirection();
    option->rect = place;
    option->palette = palette();
    option->shape = shape();
    option->documentMode = documentMode();
    const QWidget* left = tabButton(index, LeftSide);
    const QWidget* right = tabButton(index, RightSide);
    option->leftButtonSize = left ? left->size() : QSize();
    option->rightButtonSize = right ? right->size() : QSize();
    option->tabIndex = index;
}

void TabBar::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        m_sizes.clear();
        break;
    default:
        break;
    }
    QTabBar::changeEvent(event);
}
