#include "WidgetFunctions.h"

#include <QTabWidget>
#include <QVariant>

namespace {
const char kFocusProperty[] = "get_focus";
}

QTabWidget* GetWidgetTabWidget(QWidget* widget, int& index)
{
    index = -1;
    // A tab page sits in the tab widget's stack, so its grandparent is the tab
    // widget; indexOf tells whether it really is one of the tabs.
    for (QWidget* page = widget; page; page = page->parentWidget()) {
        QWidget* stack = page->parentWidget();
        if (!stack)
            break;
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            const int i = tabs->indexOf(page);
            if (i >= 0) {
                index = i;
                return tabs;
            }
        }
    }
    return nullptr;
}

void FocusWidget(QWidget* widget)
{
    if (!widget)
        return;
    widget->window()->activateWindow();
    // Pages first: a widget on a page that is not shown cannot keep the focus.
    QWidget* inner = widget;
    int index;
    while (QTabWidget* tabs = GetWidgetTabWidget(inner, index)) {
        tabs->setCurrentIndex(index);
        inner = tabs;
    }
    // A page takes no keys itself: its first useful widget does.
    if (widget->focusPolicy() == Qt::NoFocus && FindWidgetFocusProperty(widget, 0) > 0)
        return;
    widget->setFocus();
}

void FocusWidgetAndParents(QWidget* widget)
{
    FocusWidget(widget);
}

void RegisterWidgetForTabFocus(QWidget* widget, int order)
{
    if (widget)
        widget->setProperty(kFocusProperty, order);
}

int FindWidgetFocusProperty(QWidget* widget, int n)
{
    // Only what the user sees: a page that became current inside a page that
    // is not shown must not pull the typing away from the page that is.
    if (!widget || !widget->isVisible())
        return n;
    const QVariant mark = widget->property(kFocusProperty);
    if (mark.isValid()) {
        bool ok = false;
        const int order = mark.toInt(&ok);
        if (ok && order > n) {
            n = order;
            widget->setFocus();
        }
    }
    for (QObject* child : widget->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && !w->isWindow())
            n = FindWidgetFocusProperty(w, n);
    }
    return n;
}
