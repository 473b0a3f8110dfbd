#include "PrivateMessaging.h"

#include "ClientSession.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

#include <QDateTime>

#include <algorithm>

namespace {

// Unacknowledged messages kept for one receiver; more are refused.
constexpr int MaxKeptPerUser = 1000;

}

bool PrivateMessaging::handle(ClientSession& session, quint32 code, WireReader& in)
{
    if (code == 22)
        store(session, in);
    else if (code == 23)
        acknowledge(session, in);
    else
        return false;
    return true;
}

void PrivateMessaging::store(ClientSession& session, WireReader& in)
{
    const QString to = in.str();
    const QString text = in.str();
    if (!in.ok() || to.isEmpty())
        return;
    const auto kept = std::count_if(
        m_messages.cbegin(), m_messages.cend(), [&](const Message& message) { return message.to == to; });
    if (kept >= MaxKeptPerUser)
        return;
    const Message message { m_nextId++, quint32(QDateTime::currentSecsSinceEpoch()), session.user, to, text };
    m_messages.append(message);
    deliver(message, true);
}

void PrivateMessaging::acknowledge(ClientSession& session, WireReader& in)
{
    const quint32 id = in.u32();
    if (!in.ok())
        return;
    m_messages.removeIf(
        [&](const Message& message) { return message.id == id && message.to == session.user; });
}

void PrivateMessaging::deliver(const Message& message, bool isNew)
{
    m_server.sendTo(message.to, 22,
        WireWriter().u32(message.id).u32(message.time).str(message.from).str(message.text).boolean(isNew));
}

void PrivateMessaging::loggedIn(ClientSession& session, quint32)
{
    for (const Message& message : std::as_const(m_messages)) {
        if (message.to == session.user)
            deliver(message, false);
    }
}
