#include "OutgoingAttempts.h"
#include "PeerCodes.h"
#include <algorithm>

QString OutgoingAttempts::Refusal(const QString& user) const
{
    const auto mine = m_brokeredPerUser.find(user);
    if (mine != m_brokeredPerUser.end() && mine->second >= kMaxBrokeredPerUser)
        return QStringLiteral("%1 of its requests are under way").arg(mine->second);
    if (int(m_waiting.size()) >= kMaxWaitingConnects)
        return QStringLiteral("%1 connections wait their turn").arg(m_waiting.size());
    return QString();
}

void OutgoingAttempts::Queue(Attempt attempt)
{
    auto at = m_waiting.end();
    if (attempt.brokered)
        ++m_brokeredPerUser[attempt.user];
    else
        at = std::find_if(m_waiting.begin(), m_waiting.end(), [](const Attempt& waiting) { return waiting.brokered; });
    m_waiting.insert(at, std::move(attempt));
}

bool OutgoingAttempts::Ready() const
{
    return !m_waiting.empty() && m_connecting < kMaxConnecting;
}

OutgoingAttempts::Attempt OutgoingAttempts::Start()
{
    Attempt attempt = std::move(m_waiting.front());
    m_waiting.pop_front();
    ++m_connecting;
    return attempt;
}

void OutgoingAttempts::Settled(bool brokered, const QString& user)
{
    --m_connecting;
    if (brokered)
        Release(user);
}

void OutgoingAttempts::Release(const QString& user)
{
    auto it = m_brokeredPerUser.find(user);
    if (it != m_brokeredPerUser.end() && --it->second <= 0)
        m_brokeredPerUser.erase(it);
}

std::vector<OutgoingAttempts::Attempt> OutgoingAttempts::Expire(qint64 now)
{
    // The peer that asked through the server has given up by now; so has
    // our own attempt (failed with its request).
    std::vector<Attempt> stale;
    std::erase_if(m_waiting, [&](const Attempt& attempt) {
        if (now - attempt.queued <= kRequestTimeout)
            return false;
        stale.push_back(attempt);
        return true;
    });
    for (const Attempt& attempt : stale)
        if (attempt.brokered)
            Release(attempt.user);
    return stale;
}
