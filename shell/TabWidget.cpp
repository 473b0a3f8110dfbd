#include "TabWidget.h"
#include "Kit.h"
#include "TabBar.h"
#include "WidgetFunctions.h"
#include <QStackedWidget>
#include <QTabBar>
#include <QVector>

TabWidget::TabWidget(QWidget* parent)
    : QTabWidget(parent)
{
    // In place of the plain bar, before any tab goes in; named, shaped and
    // drawn as that one.
    auto* bar = new TabBar(this);
    bar->setObjectName(QStringLiteral("qt_tabwidget_tabbar"));
    bar->setDrawBase(false);
    bar->setShape(tabBar()->shape());
    setTabBar(bar);
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
    tabBar()->setFocusPolicy(Qt::NoFocus); // no tab yet
}

RoomTabWidget::RoomTabWidget(QWidget* parent)
    : TabWidget(parent)
{
}

void TabWidget::tabInserted(int index)
{
    QTabWidget::tabInserted(index);
    m_tabCount = count();
    const QString label = tabBar()->tabText(index);
    const QString shown = ElidedLabel(label, tabBar()->fontMetrics());
    // A label that needs nothing is not set again: that would lay out every tab.
    if (const QString plain = PlainLabel(shown); plain != label)
        tabBar()->setTabText(index, plain);
    if (shown != label)
        tabBar()->setTabToolTip(index, PlainToolTip(label));
}

int TabWidget::AddNamedTab(QWidget* page, const QIcon& icon, const QString& label)
{
    const QString shown = ElidedLabel(label, tabBar()->fontMetrics());
    const int index = addTab(page, icon, shown);
    if (shown != label)
        tabBar()->setTabToolTip(index, PlainToolTip(label));
    return index;
}

void TabWidget::tabRemoved(int index)
{
    QTabWidget::tabRemoved(index);
    m_tabCount = count();
}

bool TabWidget::FocusWentWithItsPage() const
{
    QWidget* focus = window()->focusWidget();
    if (!focus)
        return true; // destroyed with the page that held it
    for (QWidget* w = focus; w; w = w->parentWidget()) {
        if (indexOf(w) >= 0)
            return false;
        if (w->parentWidget() == this) // the page stack on no page left, or an empty tab bar
            return qobject_cast<QStackedWidget*>(w) != nullptr || count() == 0;
    }
    return false;
}

void TabWidget::MarkTabActivity(QWidget* widget)
{
    if (!widget)
        return;
    QVector<QWidget*> passed { widget };
    for (QWidget* ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        if (auto* tabs = qobject_cast<TabWidget*>(ancestor)) {
            // Nearest passed widget first: the page itself sits right below
            // the tab widget's stack.
            for (auto it = passed.crbegin(); it != passed.crend(); ++it) {
                const int index = tabs->indexOf(*it);
                if (index == -1)
                    continue;
                if (index != tabs->currentIndex())
                    tabs->tabBar()->setTabTextColor(index, QColor(Qt::blue));
                break;
            }
        }
        passed.append(ancestor);
    }
}

void TabWidget::FocusEnclosingPage()
{
    // The page just removed shows until its stack hides it: hidden first, it
    // is out of the search.
    if (auto* stack = findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly))
        for (QWidget* gone : stack->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            gone->hide();
    int index;
    QTabWidget* pages = GetWidgetTabWidget(this, index);
    if (pages && FindWidgetFocusProperty(pages->widget(index), 0) == 0)
        pages->tabBar()->setFocus();
}

void TabWidget::OnTabChanged(int i_tab)
{
    tabBar()->setFocusPolicy(i_tab < 0 ? Qt::NoFocus : Qt::TabFocus);
    if (count() != m_tabCount) {
        if (count() < m_tabCount && isVisible() && FocusWentWithItsPage()) {
            if (count() > 0)
                tabBar()->setFocus();
            else
                FocusEnclosingPage();
        }
    } else if (i_tab >= 0) {
        FindWidgetFocusProperty(widget(i_tab), 0);
    }
    if (i_tab < 0)
        return;
    QColor color(Qt::black);
    if (g_dataLoaded) {
        // A colour that does not parse leaves the style's own tab colour.
        color = QColor::fromString(SettingText("color_button_text"));
    }
    tabBar()->setTabTextColor(i_tab, color);
}
