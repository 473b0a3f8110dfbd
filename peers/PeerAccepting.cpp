// The door of the connection table: taking accepted sockets from the
// listeners a turn's worth at a time, making room for a newcomer as the
// room (ConnectionRoom.h) says, resting a listener that has run out of
// files; and the bound on bytes waiting for all peers together.
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessenger.h"
#include "store/Log.h"
#include <QDateTime>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

PeerConnection* Of(const void* id)
{
    return static_cast<PeerConnection*>(const_cast<void*>(id));
}

} // namespace

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
    // Before anyone is closed for a newcomer, those whose init is waiting
    // are read (once a turn): they are not silent, whatever their age.
    bool readWaiting = false;
    const auto readWaitingInits = [&] {
        if (!std::exchange(readWaiting, true))
            ReadWaitingInits();
    };
    while (server->hasPendingConnections()) {
        if (PendingConnectionCount() >= kMaxPendingConnections)
            readWaitingInits();
        // Nobody is closed before the newcomer's address is known.
        if (!MakeRoom(nullptr, true, true)) {
            m_refusals.Line(QStringLiteral("No room for newcomers among %1 peer connections; they wait")
                                .arg(m_connections.size()));
            // The rest wait in the listener's queue (and the kernel's).
            m_takeQueued[obfuscated] = true;
            QTimer::singleShot(ConnectionRoom::kRetryMs, server,
                [this, server, obfuscated] { TakeIncoming(server, obfuscated); });
            return;
        }
        QTcpSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        const QHostAddress address = ConnectionRoom::AddressKey(socket->peerAddress());
        if (!m_room.Fits(qsizetype(m_connections.size()), PendingConnectionCount(), &address, true))
            readWaitingInits();
        if (!MakeRoom(&address, true)) {
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

void PeerMessenger::ReadWaitingInits()
{
    std::vector<QPointer<PeerConnection>> pending;
    for (PeerConnection* c : m_connections)
        if (!c->IsOutgoing() && c->GetStage() == PeerConnection::Stage::AwaitingInit)
            pending.emplace_back(c);
    for (const QPointer<PeerConnection>& c : pending)
        if (c)
            c->ReadWaiting();
}

bool PeerMessenger::AgesCount() const
{
    const qint64 now = m_readingClock.NowMs();
    return std::any_of(m_connections.begin(), m_connections.end(), [now](const PeerConnection* c) {
        return !c->IsOutgoing() && c->GetStage() != PeerConnection::Stage::Closed
            && (c->GetStage() == PeerConnection::Stage::AwaitingInit
                || now - c->acceptedMs < kEvictGrace * 1000);
    });
}

std::vector<ConnectionRoom::Seat> PeerMessenger::Seats() const
{
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    std::vector<ConnectionRoom::Seat> seats;
    seats.reserve(m_connections.size());
    for (PeerConnection* c : m_connections) {
        if (c->Dropped())
            continue; // gone at the next turn
        const PeerConnection::Stage stage = c->GetStage();
        ConnectionRoom::Seat seat;
        seat.id = c;
        seat.outgoing = c->IsOutgoing();
        seat.address = c->address;
        seat.unknown = !c->IsOutgoing() && stage == PeerConnection::Stage::AwaitingInit;
        seat.idle = stage == PeerConnection::Stage::Open && c->type == QLatin1String("P") && c->Quiet()
            && !m_shareListsDue.contains(c->user);
        if (!seat.outgoing)
            seat.ageMs = m_readingClock.NowMs() - c->acceptedMs;
        seat.lastActivity = c->LastActivity();
        seat.waiting = c->Waiting();
        seat.unsent = c->HeldAlone();
        seat.stalledMs = seat.waiting > 0 ? c->StalledMs(nowMs) : 0;
        seats.push_back(std::move(seat));
    }
    return seats;
}

bool PeerMessenger::MakeRoom(const QHostAddress* address, bool incoming, bool dryRun)
{
    if (m_room.Fits(qsizetype(m_connections.size()), incoming ? PendingConnectionCount() : 0, address, incoming))
        return true;
    const ConnectionRoom::Admission admission = m_room.Admit(Seats(), address, incoming);
    if (admission.room != ConnectionRoom::Room::Made)
        return false;
    if (!dryRun) {
        const QString why = address ? QStringLiteral("a newcomer from %1").arg(address->toString())
                                    : QStringLiteral("a connection of our own");
        for (const void* id : admission.close)
            Evict(Of(id), why);
    }
    return true;
}

void PeerMessenger::Evict(PeerConnection* connection, const QString& why)
{
    m_evictions.Line(
        QStringLiteral("Closed a connection%1 to make room for %2")
            .arg(connection->user.isEmpty() ? QString() : QStringLiteral(" of ") + connection->user, why));
    connection->Close();
}

void PeerMessenger::TrimUnsent(const void* writer)
{
    const qint64 excess = m_unsentBytes.Total() - m_unsentBytes.Bound();
    if (excess <= 0)
        return;
    // Dropped, not closed: the write that got here may be walking the
    // connections; they leave the table at the next turn.
    for (const void* id : ConnectionRoom::Overflow(Seats(), excess, writer)) {
        PeerConnection* c = Of(id);
        m_evictions.Line(QStringLiteral("Closed the connection of %1: %2 bytes wait for it, and more than %3 "
                                        "for all peers together")
                             .arg(c->user.isEmpty() ? QStringLiteral("a peer") : c->user)
                             .arg(c->HeldAlone())
                             .arg(m_unsentBytes.Bound()));
        c->Drop();
    }
}
