#pragma once
// Helpers that bring a widget to the front of the tabbed pages and hand out the
// keyboard focus when a tab page is shown.
#include <QWidget>

class QTabWidget;

// Activates the widget's window, makes current every enclosing tab page up to
// the window, and gives the widget the keyboard focus; a page that takes no
// focus itself hands it to its widget marked for tab focus.
void FocusWidget(QWidget* widget);
void FocusWidgetAndParents(QWidget* widget);

// The nearest enclosing tab widget that has a tab holding the widget or one of
// its ancestors, with that tab's index; null and -1 when there is none.
QTabWidget* GetWidgetTabWidget(QWidget* widget, int& index);

// Marks the widget to take the focus when its page is shown; among the visible
// marked widgets of a page the highest order wins.
void RegisterWidgetForTabFocus(QWidget* widget, int order);

// The largest "get_focus" order above n on the widget and its visible
// descendants (n when there is none). Each widget that raises the maximum gets
// the focus on the way, so the winner ends with it. A widget that is not
// visible (hidden itself or inside something hidden) is skipped together with
// everything inside it.
int FindWidgetFocusProperty(QWidget* widget, int n);
