#include "QuietChats.h"
#include "ChatLines.h"
#include <QTabWidget>

QuietChats::QuietChats(QTabWidget* tabs, std::function<ChatLines*(QWidget*)> lines)
    : m_tabs(tabs)
    , m_lines(std::move(lines))
    , m_turn([this] { Run(); })
{
}

void QuietChats::Check()
{
    m_left.clear();
    m_next = 0;
    for (int i = 0; i < m_tabs->count(); ++i) {
        QWidget* page = m_tabs->widget(i);
        if (const ChatLines* lines = m_lines(page); lines && lines->ChatStarted())
            m_left.emplace_back(page);
    }
    // In its turn, not in the tick: the timer's other handlers run then.
    if (!m_left.empty())
        m_turn.Wake();
}

void QuietChats::Run()
{
    const QDeadlineTimer until = TurnTaker::Budget();
    while (m_next < m_left.size()) {
        QWidget* page = m_left[m_next++];
        if (ChatLines* lines = page ? m_lines(page) : nullptr) {
            lines->CheckInactivity();
            if (until.hasExpired() && m_next < m_left.size()) {
                m_turn.Wake();
                return;
            }
        }
    }
    m_left.clear();
    m_next = 0;
}
