// Outgoing sockets: at most kMaxConnecting are connecting at once, in the
// order they were asked for (our own before the server's requests); the rest
// wait their turn. A socket that comes up or fails lets the next one go.
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessenger.h"
#include "PeerRequest.h"
#include "server/Server.h"
#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {

// How soon attempts that wait for room in the connection table look again.
constexpr int kRoomRetryMs = 100;

} // namespace

void PeerMessenger::QueueOutgoing(Outgoing attempt)
{
    // Our own attempts go ahead of those the server asked for: a flood of
    // requests from others never holds up the user's own.
    auto at = m_waitingOutgoing.end();
    if (!attempt.brokered)
        at = std::find_if(m_waitingOutgoing.begin(), m_waitingOutgoing.end(),
            [](const Outgoing& waiting) { return waiting.brokered; });
    m_waitingOutgoing.insert(at, std::move(attempt));
    if (!m_outgoingQueued)
        StartWaitingOutgoing();
}

void PeerMessenger::ScheduleWaitingOutgoing()
{
    if (m_outgoingQueued)
        return;
    m_outgoingQueued = true;
    QTimer::singleShot(0, this, &PeerMessenger::StartWaitingOutgoing);
}

void PeerMessenger::StartWaitingOutgoing()
{
    m_outgoingQueued = false;
    while (!m_waitingOutgoing.empty() && m_connecting < kMaxConnecting) {
        if (!RoomForOutgoing()) {
            // Every connection is busy: look again in a moment.
            m_outgoingQueued = true;
            QTimer::singleShot(kRoomRetryMs, this, &PeerMessenger::StartWaitingOutgoing);
            return;
        }
        const Outgoing attempt = std::move(m_waitingOutgoing.front());
        m_waitingOutgoing.pop_front();
        Launch(attempt);
    }
}

void PeerMessenger::Launch(const Outgoing& attempt)
{
    if (attempt.brokered) {
        LaunchBrokered(attempt);
        return;
    }
    // Our own attempt may have been settled the other way while it waited.
    auto it = m_requests.find(attempt.token);
    if (it != m_requests.end() && !it->second->direct && !it->second->directFailed)
        LaunchDirect(*it->second, attempt);
}

void PeerMessenger::Settled(PeerConnection* connection)
{
    --m_connecting;
    if (connection->brokered)
        ReleaseBrokered(connection->user);
    if (!m_waitingOutgoing.empty())
        ScheduleWaitingOutgoing();
}

void PeerMessenger::ReleaseBrokered(const QString& user)
{
    auto it = m_brokeredPerUser.find(user);
    if (it != m_brokeredPerUser.end() && --it->second <= 0)
        m_brokeredPerUser.erase(it);
}

PeerConnection* PeerMessenger::NewOutgoing(const Outgoing& attempt)
{
    PeerConnection* connection = NewConnection(new QTcpSocket, true, attempt.obfuscated);
    ++m_connecting;
    connection->token = attempt.token;
    connection->user = attempt.user;
    connection->type = attempt.type;
    connection->brokered = attempt.brokered;
    connection->requestedByUs = !attempt.brokered;
    connect(connection, &PeerConnection::Established, this, [this, connection] { Settled(connection); });
    return connection;
}

void PeerMessenger::LaunchDirect(Request& request, const Outgoing& attempt)
{
    PeerConnection* connection = NewOutgoing(attempt);
    request.direct = connection;
    const quint32 token = request.token;
    const QString type = request.type;
    connect(connection, &PeerConnection::Established, this, [this, connection, token, type] {
        auto it = m_requests.find(token);
        if (it == m_requests.end() || it->second->direct != connection) {
            // The other way won meanwhile. A messaging connection is still
            // worth keeping; any other is closed.
            if (type == QLatin1String("P") && m_wonMessageTokens.count(token)) {
                connection->SendPeerInit(OwnUser(), type, 0);
                OpenAs(connection, connection->user, type, true);
            } else {
                connection->Close();
            }
            return;
        }
        connection->SendPeerInit(OwnUser(), type, 0);
        Complete(token, connection);
    });
    connection->ConnectTo(attempt.ip, attempt.port);
}

void PeerMessenger::LaunchBrokered(const Outgoing& attempt)
{
    PeerConnection* connection = NewOutgoing(attempt);
    const quint32 token = attempt.token;
    const QString user = attempt.user;
    const QString type = attempt.type;
    connect(connection, &PeerConnection::Established, this, [this, connection, token, user, type] {
        connection->SendPierceFirewall(token);
        OpenAs(connection, user, type, false);
    });
    connection->ConnectTo(attempt.ip, attempt.port);
}

void PeerMessenger::RefuseBrokered(quint32 token, const QString& user, const QString& type, const QString& why)
{
    m_refusals.Line(QStringLiteral("Did not connect to %1 at the server's request: %2").arg(user, why));
    if (gp_server)
        gp_server->CannotConnect(token, user);
    emit ConnectionForUserFailed(user, type, QStringLiteral("this client did not connect: %1").arg(why));
}

void PeerMessenger::ExpireWaitingOutgoing(qint64 now)
{
    // The peer that asked through the server has given up by now; so has
    // our own attempt (failed with its request).
    std::vector<Outgoing> stale;
    std::erase_if(m_waitingOutgoing, [&](const Outgoing& attempt) {
        if (now - attempt.queued <= kRequestTimeout)
            return false;
        stale.push_back(attempt);
        return true;
    });
    for (const Outgoing& attempt : stale) {
        if (!attempt.brokered) {
            OnDirectFailed(attempt.token);
            continue;
        }
        ReleaseBrokered(attempt.user);
        RefuseBrokered(attempt.token, attempt.user, attempt.type, QStringLiteral("it waited its turn too long"));
    }
}
