// The connection table's budget: taking accepted sockets from the listeners
// a turn's worth at a time, making room for a newcomer by closing the
// connection that loses least, and resting a listener that has run out of
// files.
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessenger.h"
#include "store/Log.h"
#include <QDateTime>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

// How soon a listener that waits for room looks again.
constexpr int kRoomRetryMs = 100;

bool IsUnknown(const PeerConnection* c)
{
    return !c->IsOutgoing() && c->GetStage() == PeerConnection::Stage::AwaitingInit;
}

} // namespace

QHostAddress PeerMessenger::AddressKey(const QHostAddress& address)
{
    // A peer on IPv4 is one address whether the socket shows it mapped to
    // IPv6 or not.
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

void PeerMessenger::OnIncoming(QTcpServer* server, bool obfuscated)
{
    // The listener accepts what it may hold (its pending limit) within this
    // turn; they are taken on the next one, so one turn never takes more.
    bool& queued = m_takeQueued[obfuscated];
    if (queued)
        return;
    queued = true;
    QTimer::singleShot(0, server, [this, server, obfuscated] { TakeIncoming(server, obfuscated); });
}

void PeerMessenger::TakeIncoming(QTcpServer* server, bool obfuscated)
{
    m_takeQueued[obfuscated] = false;
    bool readWaiting = false;
    while (server->hasPendingConnections()) {
        if (RoomForIncoming(readWaiting) == Room::Wait) {
            // The rest wait in the listener's queue (and the kernel's).
            m_takeQueued[obfuscated] = true;
            QTimer::singleShot(
                kRoomRetryMs, server, [this, server, obfuscated] { TakeIncoming(server, obfuscated); });
            return;
        }
        QTcpSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        const QHostAddress address = AddressKey(socket->peerAddress());
        if (RoomFromAddress(address) == Room::Refuse) {
            m_refusals.Line(QStringLiteral("Refused a connection from %1: its connections are all busy")
                                .arg(address.toString()));
            socket->abort();
            delete socket;
            continue;
        }
        NewConnection(socket, false, obfuscated);
    }
}

void PeerMessenger::OnAcceptError(QTcpServer* server, QAbstractSocket::SocketError error)
{
    // Out of files, say: trying again at once would fail at once, over and
    // over. Those waiting stay in the kernel's queue meanwhile.
    m_refusals.Line(QStringLiteral("Could not accept a connection (error %1: %2); the port rests a moment")
                        .arg(int(error))
                        .arg(server->errorString()));
    server->pauseAccepting();
    QTimer::singleShot(kAcceptPauseMs, server, [server] { server->resumeAccepting(); });
}

PeerMessenger::Room PeerMessenger::RoomForIncoming(bool& readWaiting)
{
    bool young = false;
    if (PendingConnectionCount() >= kMaxPendingConnections) {
        // Those whose init is already waiting are read first (once a turn).
        if (!readWaiting) {
            readWaiting = true;
            std::vector<QPointer<PeerConnection>> pending;
            for (PeerConnection* c : m_connections)
                if (IsUnknown(c))
                    pending.emplace_back(c);
            for (const QPointer<PeerConnection>& c : pending)
                if (c)
                    c->ReadWaiting();
        }
        if (PendingConnectionCount() >= kMaxPendingConnections) {
            PeerConnection* oldest = Evictable(nullptr, true, young);
            if (!oldest)
                return Room::Wait;
            Evict(oldest, QStringLiteral("too many connections without an init"));
        }
    }
    while (int(m_connections.size()) >= m_budget.total) {
        PeerConnection* victim = Evictable(nullptr, false, young);
        if (!victim) {
            m_refusals.Line(
                QStringLiteral("All %1 peer connections are busy; newcomers wait").arg(m_budget.total));
            return Room::Wait;
        }
        Evict(victim, QStringLiteral("too many connections"));
    }
    return Room::Made;
}

PeerMessenger::Room PeerMessenger::RoomFromAddress(const QHostAddress& address)
{
    // Back to the budget, if young ones were let in over it.
    bool young = false;
    while (m_perAddress.value(address) >= m_budget.perAddress) {
        PeerConnection* victim = Evictable(&address, false, young);
        if (!victim) {
            // Young ones that have not spoken are few (kMaxPendingConnections
            // in all): a burst of real peers behind one address is let in;
            // an address whose connections are all busy gets no more.
            return young ? Room::Made : Room::Refuse;
        }
        Evict(victim, QStringLiteral("too many connections from %1").arg(address.toString()));
    }
    return Room::Made;
}

bool PeerMessenger::RoomForOutgoing()
{
    bool young = false;
    while (int(m_connections.size()) >= m_budget.total) {
        PeerConnection* victim = Evictable(nullptr, false, young);
        if (!victim)
            return false;
        Evict(victim, QStringLiteral("too many connections"));
    }
    return true;
}

PeerConnection* PeerMessenger::Evictable(const QHostAddress* address, bool unknownOnly, bool& young) const
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    PeerConnection* idlest = nullptr;
    young = false;
    // In order of creation: the first unknown one is the oldest.
    for (PeerConnection* c : m_connections) {
        if (address && (c->IsOutgoing() || c->address != *address))
            continue;
        if (IsUnknown(c)) {
            if (now - c->Created() >= kEvictGrace)
                return c;
            young = true;
            continue;
        }
        if (unknownOnly || c->GetStage() != PeerConnection::Stage::Open || c->type != QLatin1String("P")
            || !c->Quiet())
            continue;
        if (!idlest || c->LastActivity() < idlest->LastActivity())
            idlest = c;
    }
    return idlest;
}

void PeerMessenger::Evict(PeerConnection* connection, const QString& why)
{
    m_evictions.Line(
        QStringLiteral("Closed a connection%1 to make room: %2")
            .arg(connection->user.isEmpty() ? QString() : QStringLiteral(" of ") + connection->user, why));
    connection->Close();
}
