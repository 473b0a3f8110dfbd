// Outgoing sockets, opened as the queue of attempts (OutgoingAttempts.h)
// hands them out: a socket that comes up or fails lets the next one go.
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessenger.h"
#include "PeerRequest.h"
#include "server/Server.h"
#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

void PeerMessenger::QueueOutgoing(Outgoing attempt)
{
    m_outgoing.Queue(std::move(attempt));
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
    while (m_outgoing.Ready()) {
        if (!MakeRoom(nullptr, false)) {
            // Every connection is busy: look again in a moment.
            m_outgoingQueued = true;
            QTimer::singleShot(ConnectionRoom::kRetryMs, this, &PeerMessenger::StartWaitingOutgoing);
            return;
        }
        m_outgoing.StartNext([this](const Outgoing& attempt) { return Launch(attempt); });
    }
}

quint64 PeerMessenger::Launch(const Outgoing& attempt)
{
    PeerConnection* connection = nullptr;
    if (attempt.brokered) {
        connection = LaunchBrokered(attempt);
    } else {
        // Our own attempt may have been settled the other way while it waited.
        auto it = m_requests.find(attempt.token);
        if (it == m_requests.end() || it->second->direct || it->second->directFailed)
            return 0;
        connection = LaunchDirect(*it->second, attempt);
    }
    // A socket that failed at once has been settled already.
    return connection->GetStage() == PeerConnection::Stage::Closed ? 0 : connection->serial;
}

void PeerMessenger::Settled(PeerConnection* connection)
{
    m_outgoing.Settled(connection->serial);
    if (m_outgoing.Waiting() > 0)
        ScheduleWaitingOutgoing();
}

PeerConnection* PeerMessenger::NewOutgoing(const Outgoing& attempt)
{
    PeerConnection* connection = NewConnection(new QTcpSocket, true, attempt.obfuscated);
    connection->token = attempt.token;
    connection->user = attempt.user;
    connection->type = attempt.type;
    connection->brokered = attempt.brokered;
    connection->requestedByUs = !attempt.brokered;
    connect(connection, &PeerConnection::Established, this, [this, connection] { Settled(connection); });
    return connection;
}

PeerConnection* PeerMessenger::LaunchDirect(Request& request, const Outgoing& attempt)
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
    return connection;
}

PeerConnection* PeerMessenger::LaunchBrokered(const Outgoing& attempt)
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
    return connection;
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
    for (const Outgoing& attempt : m_outgoing.Expire(now)) {
        if (!attempt.brokered)
            OnDirectFailed(attempt.token);
        else
            RefuseBrokered(attempt.token, attempt.user, attempt.type, QStringLiteral("it waited its turn too long"));
    }
}
