// The messenger's connections: listening, accepting, the init frame, opening
// a connection as its type, handing file sockets over, sending and expiry.
#include "PeerMessenger.h"
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "PeerRequest.h"
#include "SearchReplyQueue.h"
#include "ShareListDecoder.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QDateTime>
#include <QMetaMethod>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <algorithm>

PeerMessenger* peerMessenger = nullptr;

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

qint64 NowSecs()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

PeerMessenger::PeerMessenger(QObject* parent)
    : QObject(parent)
    , m_room(ConnectionBudget::ForThisProcess())
{
    peerMessenger = this;
    qRegisterMetaType<ItemPtr>("ItemPtr");
    Log(kArea, 2,
        QStringLiteral("At most %1 peer connections, %2 from one address (open files: %3)")
            .arg(Budget().total)
            .arg(Budget().perAddress)
            .arg(Budget().files));
    m_unsentBytes.OnOverBound([this](const void* writer) { TrimUnsent(writer); });
    DeclareTypes();
    m_shareLists = new ShareListDecoder(this);
    connect(m_shareLists, &ShareListDecoder::Decoded, this, &PeerMessenger::UserShare);
    connect(m_shareLists, &ShareListDecoder::Failed, this, &PeerMessenger::OnShareListFailed);
    m_searchReplies = new SearchReplyQueue(this);
    connect(m_searchReplies, &SearchReplyQueue::Stored, this, &PeerMessenger::SearchResults);
    connect(m_searchReplies, &SearchReplyQueue::Dropped, this, &PeerMessenger::SearchResultsDropped);
    if (gp_server) {
        connect(gp_server, &Server::PeerAddressReceived, this, &PeerMessenger::OnPeerAddress);
        connect(gp_server, &Server::ConnectToPeerRequested, this, &PeerMessenger::OnConnectToPeerRequested);
        connect(gp_server, &Server::PeerCannotConnect, this, &PeerMessenger::OnBrokeredFailed);
        connect(gp_server, &Server::Connected, this, [this] {
            // Without ports at start, the chosen ones (or another pair) are
            // tried again.
            if (!m_listener)
                Listen();
        });
    }
    if (timerManager)
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &PeerMessenger::OnHalfMinuteTimer);
}

PeerMessenger::~PeerMessenger()
{
    for (PeerConnection* connection : m_connections) {
        connection->disconnect(this);
        delete connection;
    }
    m_connections.clear();
    for (auto& [token, request] : m_requests)
        delete request;
    m_requests.clear();
    m_requestsByUser.clear();
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

QString PeerMessenger::OwnUser() const
{
    return settings.Get("username");
}

void PeerMessenger::DataLoaded()
{
    Type* global = d.GetType("global");
    ItemPtr chosen = global->HasItem("new_listening_port");
    ItemPtr chosenValue = chosen["global_value"];
    if (chosenValue && !chosenValue.Text().empty()) {
        // The obfuscated port is the next one up, so the highest port can't
        // be chosen (65536 would become 0: a random port).
        bool number = false;
        const int port = chosenValue.AsString().toInt(&number);
        if (number && port > 0 && port < 65535) {
            settings.Key("listening_port").Connect(chosenValue);
            settings.Set("obfuscated_listening_port", port + 1);
        } else {
            Log(kArea, 1,
                QStringLiteral("The chosen listening port \"%1\" can't be used (1 to 65534); "
                               "listening on the default ports 2235 and 2236")
                    .arg(chosenValue.AsString()));
            settings.Set("listening_port", "2235");
            settings.Set("obfuscated_listening_port", "2236");
        }
        chosen.Remove();
    }
    settings.SetDefault("listening_port", "2235");
    settings.SetDefault("obfuscated_listening_port", "2236");
    Listen();
}

bool PeerMessenger::Listen()
{
    StopListening();
    const int chosen = settings.GetInt("listening_port");
    const int chosenObfuscated = settings.GetInt("obfuscated_listening_port");
    QString problem;
    if (ListenOnPair(chosen, chosenObfuscated, &problem)) {
        m_listeningProblem.clear();
    } else if (ListenOnAnotherPair(std::max(chosen, chosenObfuscated))) {
        m_listeningProblem = QStringLiteral("%1, so the client listens on ports %2 and %3 for this run. "
                                            "Your listening port setting (%4) is kept for the next start.")
                                 .arg(problem)
                                 .arg(ListeningPort())
                                 .arg(ObfuscatedListeningPort())
                                 .arg(chosen);
    } else {
        m_listeningProblem
            = QStringLiteral("%1 and no other port could be opened: other users can't connect to you.")
                  .arg(problem);
    }
    if (!m_listeningProblem.isEmpty())
        Log(kArea, 1, m_listeningProblem);
    if (m_listener) {
        Log(kArea, 1, QStringLiteral("Listening on port %1").arg(ListeningPort()));
        Log(kArea, 1, QStringLiteral("Listening on port %1 (obfuscated)").arg(ObfuscatedListeningPort()));
    }
    if (gp_server)
        gp_server->SetListeningPorts(ListeningPort(), ObfuscatedListeningPort());
    emit ListeningChanged();
    return m_listener != nullptr;
}

QTcpServer* PeerMessenger::ListenOn(int port, bool obfuscated, QString* problem)
{
    auto* server = new QTcpServer(this);
    // Bursts of peers (replies to a search) must not overflow the kernel's
    // queue: a dropped SYN costs the peer a second or more.
    server->setListenBacklogSize(1024);
    server->setMaxPendingConnections(std::clamp(Budget().total / 8, 1, 30));
    const bool valid = port >= 0 && port <= 65535;
    // IPv4 only: the network hands out no other addresses (peers learn ours
    // from the server as four bytes), and an IPv6 peer could take a fresh
    // address for each connection from its block.
    if (!valid || !server->listen(QHostAddress::AnyIPv4, quint16(port))) {
        if (problem && valid && server->serverError() == QAbstractSocket::AddressInUseError)
            *problem = QStringLiteral("Port %1 is in use by another program").arg(port);
        else if (problem)
            *problem = QStringLiteral("Port %1 can't be used (%2)")
                           .arg(port)
                           .arg(valid ? server->errorString() : QStringLiteral("not a port number"));
        delete server;
        return nullptr;
    }
    connect(server, &QTcpServer::newConnection, this,
        [this, server, obfuscated] { OnIncoming(server, obfuscated); });
    connect(server, &QTcpServer::acceptError, this,
        [this, server](QAbstractSocket::SocketError error) { OnAcceptError(server, error); });
    return server;
}

bool PeerMessenger::ListenOnPair(int port, int obfuscatedPort, QString* problem)
{
    m_listener = ListenOn(port, false, problem);
    if (m_listener)
        m_obfuscatedListener = ListenOn(obfuscatedPort, true, problem);
    if (m_obfuscatedListener)
        return true;
    StopListening();
    return false;
}

bool PeerMessenger::ListenOnAnotherPair(int above)
{
    // The pairs just above the chosen ports first, which stay easy to
    // recognise and to forward; then pairs around ports the system picks.
    constexpr int kNearbyPairs = 16;
    constexpr int kPickedPairs = 16;
    if (above > 0) {
        for (int port = above + 1, n = 0; n < kNearbyPairs && port < 65535; port += 2, ++n) {
            if (ListenOnPair(port, port + 1))
                return true;
        }
    }
    for (int n = 0; n < kPickedPairs; ++n) {
        m_listener = ListenOn(0, false);
        if (!m_listener)
            return false;
        const int port = m_listener->serverPort();
        if (port < 65535)
            m_obfuscatedListener = ListenOn(port + 1, true);
        if (m_obfuscatedListener)
            return true;
        StopListening();
    }
    // Where the system hands out listening ports of one parity and outgoing
    // connections hold the other, a pair in a row may not be found at all:
    // any two free ports do, since peers learn both from the server.
    return ListenOnPair(0, 0);
}

void PeerMessenger::StopListening()
{
    delete m_listener;
    m_listener = nullptr;
    delete m_obfuscatedListener;
    m_obfuscatedListener = nullptr;
    m_takeQueued[0] = m_takeQueued[1] = false;
}

quint16 PeerMessenger::ListeningPort() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

quint16 PeerMessenger::ObfuscatedListeningPort() const
{
    return m_obfuscatedListener ? m_obfuscatedListener->serverPort() : 0;
}

int PeerMessenger::PendingConnectionCount() const
{
    int n = 0;
    for (const PeerConnection* c : m_connections) {
        if (!c->IsOutgoing() && c->type.isEmpty() && c->GetStage() != PeerConnection::Stage::Closed)
            ++n;
    }
    return n;
}

int PeerMessenger::ConnectingSocketCount() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
        [](const PeerConnection* c) { return c->GetStage() == PeerConnection::Stage::Connecting; }));
}

int PeerMessenger::ObfuscatedConnectionCount() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(), [](const PeerConnection* c) {
        return c->IsObfuscated() && c->GetStage() != PeerConnection::Stage::Closed;
    }));
}

PeerConnection* PeerMessenger::NewConnection(QTcpSocket* socket, bool outgoing, bool obfuscated)
{
    auto* connection = new PeerConnection(socket, outgoing, obfuscated, NowSecs(), this);
    connection->serial = ++m_serials;
    connection->SetLedger(&m_unsentBytes);
    m_connections.push_back(connection);
    if (!outgoing) {
        connection->address = ConnectionRoom::AddressKey(socket->peerAddress());
        m_room.Count(connection->address);
        connection->acceptedMs = m_readingClock.NowMs();
        m_readingClock.Run();
    }
    connect(connection, &PeerConnection::Closed, this,
        [this, connection](bool wasEstablished) { OnConnectionClosed(connection, wasEstablished); });
    connect(connection, &PeerConnection::Left, this, [this, connection] {
        // Those leaving hold no seats, but they are bounded too: past that
        // many, one keeps its seat until its frames are handled.
        if (m_leaving.size() < Budget().total) {
            m_leaving.insert(connection);
            Forget(connection);
        }
    });
    connect(connection, &PeerConnection::InitReceived, this,
        [this, connection](quint8 code, QByteArray payload) { OnInit(connection, code, payload); });
    return connection;
}

void PeerMessenger::OnInit(PeerConnection* connection, quint8 code, const QByteArray& payload)
{
    if (code == PI_PIERCE_FIREWALL) {
        quint32 token = 0;
        auto it = DecodePierceFirewall(payload, token) ? m_requests.find(token) : m_requests.end();
        auto won = m_wonMessageTokens.find(token);
        if (it == m_requests.end() && won != m_wonMessageTokens.end()) {
            OpenAs(connection, won->second.first, QStringLiteral("P"), true);
            return;
        }
        if (it == m_requests.end()) {
            Log(kArea, 2,
                QStringLiteral("Closed a connection that pierced the firewall with an unknown token %1")
                    .arg(token));
            connection->Close();
            return;
        }
        Complete(token, connection);
        return;
    }
    PeerInitMessage init;
    if (code != PI_PEER_INIT || !DecodePeerInit(payload, init)) {
        Log(kArea, 2, QStringLiteral("Closed a connection with a malformed init (code %1)").arg(code));
        connection->Close();
        return;
    }
    OpenAs(connection, init.user, init.type, false);
}

void PeerMessenger::OpenAs(
    PeerConnection* connection, const QString& user, const QString& type, bool requestedByUs)
{
    connection->user = user;
    connection->type = type;
    connection->requestedByUs = requestedByUs;
    // Searches passed down to a child that can't keep up are of no use; a
    // messaging peer is judged by whether it takes what it is sent.
    const bool distributed = type == QLatin1String("D");
    connection->SetSendLimit(distributed ? kMaxWaitingToSendDistributed : kMaxWaitingToSend, distributed);
    if (type != QLatin1String("F"))
        connection->LimitSendBuffer();
    if (type == QLatin1String("P")) {
        connect(connection, &PeerConnection::FrameReceived, this,
            [this, connection](QByteArray frame) { Dispatch(connection, frame); });
        connection->SetOpen(kMaxMessageFrame);
        // Its peer has left already: it only has its last frames handled.
        if (connection->Lost())
            return;
        m_messaging.insert(user, connection);
        // A messaging connection from the user serves our own attempt too.
        if (Request* pending = FindRequest(user, type)) {
            // Its own ways may still open; they are kept like this one.
            const quint32 token = pending->token;
            delete TakeRequest(token);
            m_wonMessageTokens[token] = { user, NowSecs() };
        }
        Flush(user, connection);
    } else if (type == QLatin1String("F")) {
        if (requestedByUs) {
            HandOver(connection, true, 0);
        } else {
            connect(connection, &PeerConnection::RawBytesReady, this,
                [this, connection] { OnRawBytes(connection); });
            connection->SetRaw();
        }
    } else {
        connection->SetOpen(kMaxDistributedFrame);
        emit DistributedConnectionOpened(user, connection, requestedByUs);
    }
}

void PeerMessenger::OnRawBytes(PeerConnection* connection)
{
    QTcpSocket* socket = connection->Socket();
    if (!socket || connection->GetStage() != PeerConnection::Stage::Raw || socket->bytesAvailable() < 4)
        return;
    char bytes[4];
    if (socket->read(bytes, 4) != 4) {
        connection->Close();
        return;
    }
    HandOver(connection, false, qFromLittleEndian<quint32>(bytes));
}

void PeerMessenger::Forget(PeerConnection* connection)
{
    // Once only: a peer that left is forgotten before it is closed.
    if (std::erase(m_connections, connection) == 0)
        return;
    m_messaging.remove(connection->user, connection);
    if (!connection->IsOutgoing())
        m_room.Uncount(connection->address);
    // Room for an attempt that waits for one.
    if (m_outgoing.Waiting() > 0)
        ScheduleWaitingOutgoing();
    emit ConnectionGone(connection->serial);
}

void PeerMessenger::FolderReplyBuilt(quint64 serial, const MemStream* reply)
{
    // In order of creation, so of serials.
    const auto it = std::lower_bound(m_connections.begin(), m_connections.end(), serial,
        [](const PeerConnection* c, quint64 s) { return c->serial < s; });
    if (it == m_connections.end() || (*it)->serial != serial)
        return;
    PeerConnection* connection = *it;
    if (reply)
        SendOn(connection, QByteArrayList { reply->GetBuffer() });
    connection->ReplyBuilt();
}

void PeerMessenger::HandOver(PeerConnection* connection, bool accepted, uint req)
{
    Forget(connection);
    const QString user = connection->user;
    QTcpSocket* socket = connection->TakeSocket();
    connection->deleteLater();
    if (!socket)
        return;
    const QMetaMethod signal = accepted ? QMetaMethod::fromSignal(&PeerMessenger::FileConnectionAccepted)
                                        : QMetaMethod::fromSignal(&PeerMessenger::FileConnectionRequested);
    if (!isSignalConnected(signal)) {
        Log(kArea, 2, QStringLiteral("Nobody takes the file connection of %1; closed.").arg(user));
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (accepted)
        emit FileConnectionAccepted(user, socket);
    else
        emit FileConnectionRequested(user, socket, req);
}

void PeerMessenger::OnConnectionClosed(PeerConnection* connection, bool wasEstablished)
{
    m_leaving.remove(connection);
    Forget(connection);
    connection->deleteLater();
    if (!connection->IsOutgoing() || wasEstablished)
        return;
    Settled(connection);
    if (!connection->token)
        return;
    if (connection->brokered) {
        // We could not reach the peer that asked through the server.
        if (gp_server)
            gp_server->CannotConnect(connection->token, connection->user);
        emit ConnectionForUserFailed(connection->user, connection->type, connection->ErrorString());
        return;
    }
    auto it = m_requests.find(connection->token);
    if (it != m_requests.end() && it->second->direct == connection)
        OnDirectFailed(connection->token);
}

PeerConnection* PeerMessenger::NewestMessageConnection(const QString& user) const
{
    PeerConnection* newest = nullptr;
    for (auto [it, end] = m_messaging.equal_range(user); it != end; ++it) {
        PeerConnection* c = it.value();
        if (c->GetStage() == PeerConnection::Stage::Open && (!newest || c->serial > newest->serial))
            newest = c;
    }
    return newest;
}

bool PeerMessenger::HasOpenMessageConnection(const QString& user) const
{
    return NewestMessageConnection(user);
}

int PeerMessenger::UnsentMessageCount(const QString& user) const
{
    auto it = m_unsent.find(user);
    return it == m_unsent.end() ? 0 : int(it->second.size());
}

void PeerMessenger::Flush(const QString& user, PeerConnection* connection)
{
    auto it = m_unsent.find(user);
    if (it == m_unsent.end())
        return;
    std::deque<Unsent> queued = std::move(it->second);
    m_unsent.erase(it);
    for (const Unsent& message : queued)
        SendOn(connection, message.frame);
}

bool PeerMessenger::SendOn(PeerConnection* connection, const QByteArrayList& frame)
{
    // A share list is sent once however often it is asked for while on its way.
    const QByteArray& head = frame.isEmpty() ? QByteArray() : frame.front();
    if (head.size() >= 4 && qFromLittleEndian<quint32>(head.constData()) == PM_SHARED_FILE_LIST) {
        m_shareListsDue.remove(connection->user);
        return connection->SendBulkFrame(frame);
    }
    return connection->SendFrame(frame);
}

void PeerMessenger::SendFramed(const QString& user, const QByteArrayList& frame)
{
    if (user.isEmpty())
        return;
    if (PeerConnection* connection = NewestMessageConnection(user)) {
        SendOn(connection, frame);
        return;
    }
    m_unsent[user].push_back(Unsent { frame, NowSecs() });
    RequestConnection(user, QStringLiteral("P"));
}

void PeerMessenger::OnHalfMinuteTimer()
{
    ExpireStale(NowSecs());
}

void PeerMessenger::ExpireStale(qint64 now)
{
    // Closing emits Closed, which edits the list: walk a copy (the objects
    // live until the event loop deletes them).
    const std::vector<PeerConnection*> connections = m_connections;
    for (PeerConnection* c : connections) {
        switch (c->GetStage()) {
        case PeerConnection::Stage::AwaitingInit:
        case PeerConnection::Stage::Idle:
        case PeerConnection::Stage::Raw:
            if (now - c->LastActivity() > kInitTimeout) {
                Log(kArea, 2,
                    QStringLiteral("Closed a connection that sent nothing in time%1")
                        .arg(c->user.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(c->user)));
                c->Close();
            }
            break;
        case PeerConnection::Stage::Connecting:
            // Direct attempts end with their request; brokered ones here.
            if (c->brokered && now - c->Created() > kRequestTimeout)
                c->Close();
            break;
        case PeerConnection::Stage::Open:
            if (c->Overdue(now)) {
                Log(kArea, 2,
                    QStringLiteral("Closed the connection of %1 (type %2): a message did not come at a "
                                   "message's pace")
                        .arg(c->user, c->type));
                c->Close();
            } else if (c->NotReading(now)) {
                c->CloseNotReading();
            } else if ((c->type == QLatin1String("P") || c->type == QLatin1String("D")) && !c->MidFrame()
                && now - c->LastActivity() > kIdleTimeout) {
                // A distributed child that takes none of what it is sent ends here too.
                c->Close();
            }
            break;
        case PeerConnection::Stage::Closed:
            break;
        }
    }

    std::vector<quint32> stale;
    for (const auto& [token, request] : m_requests) {
        if (now - request->created > kRequestTimeout)
            stale.push_back(token);
    }
    for (quint32 token : stale) {
        auto it = m_requests.find(token);
        if (it == m_requests.end())
            continue;
        Request* request = it->second;
        request->directFailed = true;
        request->brokeredFailed = true;
        request->awaitingAddress = false;
        if (PeerConnection* direct = request->direct) {
            request->direct = nullptr;
            direct->Close();
        }
        CheckFailed(token);
    }

    ExpireWaitingOutgoing(now);
    m_evictions.EndPeriod(QStringLiteral("connections closed to make room for newer ones"));
    m_refusals.EndPeriod(QStringLiteral("connections refused or not accepted for a while"));

    std::erase_if(
        m_wonMessageTokens, [now](const auto& entry) { return now - entry.second.second > kRequestTimeout; });
    m_shareListsDue.removeIf([now](const auto& due) { return now - due.value() > kUnsentLifetime; });

    for (auto it = m_unsent.begin(); it != m_unsent.end();) {
        auto& queue = it->second;
        const size_t before = queue.size();
        std::erase_if(queue, [now](const Unsent& m) { return now - m.queued > kUnsentLifetime; });
        if (queue.size() != before)
            Log(kArea, 2,
                QStringLiteral("Dropped %1 unsent messages to %2").arg(before - queue.size()).arg(it->first));
        it = queue.empty() ? m_unsent.erase(it) : std::next(it);
    }
}
