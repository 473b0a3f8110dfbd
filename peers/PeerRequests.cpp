// Connection attempts: direct (address from the server, then peer init) and
// brokered (code 18, then the peer pierces our firewall) at once; and the
// connections that the server asks us to make for others.
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessenger.h"
#include "PeerRequest.h"
#include "server/Server.h"
#include "store/Log.h"
#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

bool IsConnectionType(const QString& type)
{
    return type == QLatin1String("P") || type == QLatin1String("F") || type == QLatin1String("D");
}

} // namespace

PeerMessenger::Request* PeerMessenger::FindRequest(const QString& user, const QString& type)
{
    // Through the user's few: however many attempts to others are under way.
    for (auto it = m_requestsByUser.constFind(user); it != m_requestsByUser.cend() && it.key() == user;
         ++it) {
        Request* request = m_requests.at(it.value());
        if (request->type == type)
            return request;
    }
    return nullptr;
}

PeerMessenger::Request* PeerMessenger::TakeRequest(quint32 token)
{
    auto it = m_requests.find(token);
    if (it == m_requests.end())
        return nullptr;
    Request* request = it->second;
    m_requests.erase(it);
    m_requestsByUser.remove(request->user, token);
    return request;
}

void PeerMessenger::RequestConnection(
    const QString& user, const QString& type, bool addressKnown, quint32 ip, quint16 port)
{
    if (FindRequest(user, type))
        return;
    static quint32 localTokens = 0x40000000;
    quint32 token = gp_server ? gp_server->NextToken() : ++localTokens;
    while (token == 0 || m_requests.count(token))
        token = gp_server ? gp_server->NextToken() : ++localTokens;

    auto* request = new Request;
    request->token = token;
    request->user = user;
    request->type = type;
    request->created = QDateTime::currentSecsSinceEpoch();
    m_requests[token] = request;
    m_requestsByUser.insert(user, token);
    Log(kArea, 2, QStringLiteral("Connecting to %1 (type %2)").arg(user, type));

    const bool online = gp_server && gp_server->IsConnected();
    if (online)
        gp_server->ConnectToPeer(token, user, type);
    else
        request->brokeredFailed = true;
    if (addressKnown) {
        ConnectDirect(*request, ip, port, false);
    } else if (online) {
        request->awaitingAddress = true;
        gp_server->GetPeerAddress(user);
    } else {
        request->directFailed = true;
    }
    if (request->directFailed && request->brokeredFailed) {
        // Reported from the event loop, never from inside the caller's call.
        QTimer::singleShot(0, this, [this, token] { CheckFailed(token); });
    }
}

void PeerMessenger::OnPeerAddress(
    QString user, quint32 ip, quint16 port, bool obfuscated, quint16 obfuscatedPort)
{
    std::vector<quint32> waiting;
    for (auto it = m_requestsByUser.constFind(user); it != m_requestsByUser.cend() && it.key() == user;
         ++it) {
        if (m_requests.at(it.value())->awaitingAddress)
            waiting.push_back(it.value());
    }
    std::sort(waiting.begin(), waiting.end());
    for (quint32 token : waiting) {
        auto it = m_requests.find(token);
        if (it == m_requests.end())
            continue;
        Request& request = *it->second;
        request.awaitingAddress = false;
        const bool useObfuscated = m_preferObfuscated && obfuscated && obfuscatedPort != 0;
        if (ip == 0 || (useObfuscated ? obfuscatedPort : port) == 0) {
            Log(kArea, 2, QStringLiteral("The server knows no address of %1").arg(user));
            OnDirectFailed(token);
            continue;
        }
        ConnectDirect(request, ip, useObfuscated ? obfuscatedPort : port, useObfuscated);
    }
}

void PeerMessenger::ConnectDirect(Request& request, quint32 ip, quint16 port, bool obfuscated)
{
    QueueOutgoing({ .token = request.token, .user = request.user, .type = request.type, .ip = ip, .port = port,
        .obfuscated = obfuscated, .queued = QDateTime::currentSecsSinceEpoch() });
}

void PeerMessenger::OnDirectFailed(quint32 token)
{
    auto it = m_requests.find(token);
    if (it == m_requests.end())
        return;
    it->second->directFailed = true;
    it->second->direct = nullptr;
    CheckFailed(token);
}

void PeerMessenger::OnBrokeredFailed(quint32 token)
{
    auto it = m_requests.find(token);
    if (it == m_requests.end())
        return;
    it->second->brokeredFailed = true;
    CheckFailed(token);
}

void PeerMessenger::CheckFailed(quint32 token)
{
    auto it = m_requests.find(token);
    if (it == m_requests.end())
        return;
    if (!it->second->directFailed || !it->second->brokeredFailed)
        return;
    Request* request = TakeRequest(token);
    const QString user = request->user;
    const QString type = request->type;
    delete request;
    // Unsent messages stay for their 300 seconds: the user may still connect
    // to us, and the next message to the user tries again.
    Log(kArea, 1,
        QStringLiteral("Could not connect to %1 (type %2), neither directly nor through the server")
            .arg(user, type));
    emit ConnectionToUserFailed(user, type);
}

void PeerMessenger::Complete(quint32 token, PeerConnection* connection)
{
    Request* request = TakeRequest(token);
    if (!request)
        return;
    const QString user = request->user;
    const QString type = request->type;
    PeerConnection* direct = request->direct;
    delete request;
    if (type == QLatin1String("P"))
        m_wonMessageTokens[token] = { user, QDateTime::currentSecsSinceEpoch() };
    if (direct && direct != connection && type != QLatin1String("P"))
        direct->Close();
    OpenAs(connection, user, type, true);
}

void PeerMessenger::OnConnectToPeerRequested(QString user, QString type, quint32 ip, quint16 port,
    quint32 token, bool privileged, bool obfuscated, quint16 obfuscatedPort)
{
    Q_UNUSED(privileged);
    if (!IsConnectionType(type) || user.isEmpty()) {
        Log(kArea, 2, QStringLiteral("Ignored a connection request of unknown type from %1").arg(user));
        return;
    }
    const bool useObfuscated = m_preferObfuscated && obfuscated && obfuscatedPort != 0;
    const quint16 target = useObfuscated ? obfuscatedPort : port;
    if (ip == 0 || target == 0) {
        if (gp_server)
            gp_server->CannotConnect(token, user);
        emit ConnectionForUserFailed(user, type, QStringLiteral("the server knows no address of %1").arg(user));
        return;
    }
    if (const QString why = m_outgoing.Refusal(user); !why.isEmpty()) {
        RefuseBrokered(token, user, type, why);
        return;
    }
    QueueOutgoing({ .token = token, .user = user, .type = type, .ip = ip, .port = target,
        .obfuscated = useObfuscated, .brokered = true, .queued = QDateTime::currentSecsSinceEpoch() });
}
