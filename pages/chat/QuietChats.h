#pragma once
// The half-minute check of the chat tabs of a page (ChatLines::CheckInactivity).
// The page holding the tabs connects once to the shared timer and calls
// Check(), however many tabs it holds. A tick looks only at the tabs with a
// conversation going on, the only ones that can end one; ending one adds a
// line to its view, so the ends go a slice of tabs a pass, in turn with the
// other work of the event loop (the first in the pass after the tick).
#include "store/TurnTaker.h"
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

class ChatLines;
class QTabWidget;

class QuietChats {
public:
    // lines(page): the chat of a page of the tabs, null for a page without one.
    QuietChats(QTabWidget* tabs, std::function<ChatLines*(QWidget*)> lines);

    // What a tick of the timer does.
    void Check();

private:
    void Run();

    QTabWidget* m_tabs;
    std::function<ChatLines*(QWidget*)> m_lines;
    // Tabs with a conversation going on at the tick, from m_next on not
    // looked at yet; a tab closed meanwhile is null.
    std::vector<QPointer<QWidget>> m_left;
    size_t m_next = 0;
    TurnTaker m_turn;
};
