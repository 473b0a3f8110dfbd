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
    return !m_waiting.empty() && Connecting() < kMaxConnecting;
}

void OutgoingAttempts::StartNext(const std::function<quint64(const Attempt&)>& open)
{
    while (!m_waiting.empty()) {
        Attempt attempt = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (const quint64 serial = open(attempt)) {
            m_connecting.emplace(serial, std::move(attempt));
            return;
        }
        Release(attempt);
    }
}

void OutgoingAttempts::Settled(quint64 serial)
{
    const auto it = m_connecting.find(serial);
    if (it == m_connecting.end())
        return;
    Release(it->second);
    m_connecting.erase(it);
}

void OutgoingAttempts::Release(const Attempt& attempt)
{
    if (!attempt.brokered)
        return;
    auto it = m_brokeredPerUser.find(attempt.user);
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
        Release(attempt);
    return stale;
}
