#include "LoginWatches.h"
#include "store/SlicedWork.h"

LoginWatches::LoginWatches(std::function<void(const QString&)> ask)
    : m_ask(std::move(ask))
    , m_turn([this] { Run(); })
{
}

void LoginWatches::Start(std::vector<QString> users)
{
    m_users = std::move(users);
    m_next = 0;
    m_turn.Stop();
    // The first few at once, the rest in turns.
    for (int asked = 0; asked < SlicedWork::kItemsAtOnce && Pending(); ++asked) {
        const QString user = m_users[m_next++];
        m_ask(user);
    }
    if (Pending())
        m_turn.Wake();
    else
        Stop();
}

void LoginWatches::Stop()
{
    m_users.clear();
    m_next = 0;
    m_turn.Stop();
}

void LoginWatches::Run()
{
    const QDeadlineTimer until = TurnTaker::Budget();
    int asked = 0;
    while (Pending()) {
        // Taken first: ask() may stop the whole (a connection lost on writing).
        const QString user = m_users[m_next++];
        m_ask(user);
        if (++asked % SlicedWork::kItemsAtOnce == 0 && until.hasExpired() && Pending()) {
            m_turn.Wake();
            return;
        }
    }
    m_users.clear();
    m_next = 0;
}
