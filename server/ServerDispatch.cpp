// Messages from the server: users, chat, searches, the own account, peer
// connections and the distributed search tree. Room messages are in
// ServerRooms.cpp. Each handler reads all of its fields first and changes
// nothing when they run out.
#include "Server.h"
#include "ServerFrameReader.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/Settings.h"

namespace {

const QString kArea = QStringLiteral("Server");

quint16 PortValue(quint32 port)
{
    return port <= 0xFFFF ? quint16(port) : quint16(0);
}

} // namespace

void Server::Malformed(quint32 code)
{
    Log(kArea, 1, QStringLiteral("Dropped a malformed message %1 from the server.").arg(code));
}

void Server::Dispatch(quint32 code, const QByteArray& fields)
{
    ServerFrameReader in(fields);
    switch (code) {
    case SM_LOGIN:
        OnLoginReply(in);
        return;
    case SM_PRIVATE_MESSAGE:
        OnPrivateMessage(in);
        return;
    case SM_ADD_USER:
        OnWatchReply(in);
        return;
    case SM_GET_USER_STATUS:
        OnUserStatus(in);
        return;
    case SM_GET_USER_STATS:
        OnUserStats(in);
        return;
    case SM_PRIVILEGED_USERS:
        OnPrivilegedUsers(in);
        return;
    case SM_CHECK_PRIVILEGES:
        OnOwnPrivileges(in);
        return;
    case SM_RELATED_SEARCHES:
        OnRelatedSearches(in);
        return;
    case SM_GET_PEER_ADDRESS:
        OnPeerAddress(in);
        return;
    case SM_CONNECT_TO_PEER:
        OnConnectToPeer(in);
        return;
    case SM_POSSIBLE_PARENTS:
        OnPossibleParents(in);
        return;
    case SM_RELOGGED:
        Log(kArea, 1, QStringLiteral("The same user name logged in elsewhere; not reconnecting."));
        CloseConnection(false);
        m_loggedInElsewhere = true;
        emit Disconnected();
        return;
    case SM_PING:
        return;
    case SM_ADMIN_MESSAGE: {
        const QString text = in.Text();
        if (!in.Ok())
            return Malformed(code);
        emit AdminMessage(text);
        return;
    }
    case SM_WISHLIST_INTERVAL: {
        const quint32 seconds = in.U32();
        if (!in.Ok())
            return Malformed(code);
        emit WishListWait(seconds);
        return;
    }
    case SM_FILE_SEARCH: {
        const QString user = in.Text();
        const quint32 token = in.U32();
        const QString query = in.Text();
        if (!in.Ok())
            return Malformed(code);
        emit DirectFileSearch(user, token, query);
        return;
    }
    case SM_CANNOT_CONNECT: {
        const quint32 token = in.U32();
        if (!in.Ok())
            return Malformed(code);
        emit PeerCannotConnect(token);
        return;
    }
    case SM_EMBEDDED_MESSAGE: {
        const quint8 inner = in.U8();
        const QByteArray payload = in.Rest();
        if (!in.Ok())
            return Malformed(code);
        emit EmbeddedDistributedMessage(inner, payload);
        return;
    }
    case SM_RESET_DISTRIBUTED:
        emit ResetDistributed();
        return;
    default:
        if (DispatchRoom(code, in))
            return;
        Log(kArea, 2,
            QStringLiteral("Skipped unknown message %1 from the server (%2 bytes).")
                .arg(code)
                .arg(fields.size()));
    }
}

void Server::OnLoginReply(ServerFrameReader& in)
{
    if (!m_loginPending) {
        Log(kArea, 1, QStringLiteral("Ignored a login answer without a login."));
        return;
    }
    const bool ok = in.Bool();
    if (!in.Ok())
        return OnLost(QStringLiteral("Malformed login answer"));
    if (!ok) {
        QString reason = in.Text();
        if (!in.Ok() || reason.isEmpty())
            reason = QStringLiteral("Malformed login answer");
        Log(kArea, 1, QStringLiteral("Login refused: %1").arg(reason));
        // A refusal is final: no reconnection.
        CloseConnection(false);
        emit ConnectionFailed(reason);
        return;
    }
    const QString greeting = in.Text();
    const quint32 address = in.U32();
    in.Str(); // the hash of the password
    in.Bool(); // supporter
    if (!in.Ok())
        return OnLost(QStringLiteral("Malformed login answer"));
    m_ownAddress = address;
    if (!greeting.isEmpty())
        Log(kArea, 2, greeting);
    AfterLogin();
}

void Server::OnPrivateMessage(ServerFrameReader& in)
{
    const quint32 id = in.U32();
    const quint32 time = in.U32();
    const std::string user = in.Str();
    const QString text = in.Text();
    const bool fresh = in.Bool();
    if (!in.Ok())
        return Malformed(SM_PRIVATE_MESSAGE);
    // Every message is acknowledged, shown or not; an ignored user's is not shown.
    MemStream ack;
    ack.WriteUInt32(id);
    Send(SM_ACK_PRIVATE_MESSAGE, ack);
    ItemPtr sender = d.GetType("user")->HasItem(Value(user));
    if (sender.IsConnected("is_ignored")) {
        Log(kArea, 2, QStringLiteral("Private message from ignored user %1 not shown.").arg(ToQString(user)));
        return;
    }
    emit PrivateChat(ToQString(user), text, time_t(time), fresh);
}

void Server::OnWatchReply(ServerFrameReader& in)
{
    const std::string name = in.Str();
    const bool exists = in.Bool();
    quint32 status = 0;
    UserStats stats;
    std::string country;
    bool hasCountry = false;
    if (exists) {
        status = in.U32();
        stats = in.Stats();
        // The country follows for a user who is logged in; some servers leave it out.
        if (status != 0 && in.Remaining() > 0) {
            country = in.Str();
            hasCountry = true;
        }
    }
    if (!in.Ok())
        return Malformed(SM_ADD_USER);
    if (exists) {
        ItemPtr user = UserItem(name);
        SetUserStats(user, stats);
        if (hasCountry)
            SetCountry(user, country);
        SetUserStatus(user, status);
    } else {
        OnUnknownUserWatched(ToQString(name));
    }
    emit AddUserResponse(ToQString(name), exists);
}

void Server::OnUserStatus(ServerFrameReader& in)
{
    const std::string name = in.Str();
    const quint32 status = in.U32();
    const bool privileged = in.Bool();
    if (!in.Ok())
        return Malformed(SM_GET_USER_STATUS);
    ItemPtr user = AskedOrKnownUser(m_statusAsked, name);
    if (!user)
        return;
    SetFlag(user, "is_privileged", privileged);
    SetUserStatus(user, status);
}

void Server::OnUserStats(ServerFrameReader& in)
{
    const std::string name = in.Str();
    const UserStats stats = in.Stats();
    if (!in.Ok())
        return Malformed(SM_GET_USER_STATS);
    ItemPtr user = AskedOrKnownUser(m_statsAsked, name);
    if (!user)
        return;
    SetUserStats(user, stats);
    emit ReceivedUserStats(ToQString(name), stats);
}

ItemPtr Server::AskedOrKnownUser(QSet<QString>& asked, const std::string& name)
{
    // The answer to a request of the client, or news of a user it shows
    // somewhere already (listed, in a room, in a chat or a transfer). Of
    // anybody else it would only take up memory, for good: it is dropped.
    if (asked.remove(ToQString(name)))
        return UserItem(name);
    return d.GetType("user")->HasItem(Value(name));
}

void Server::OnPrivilegedUsers(ServerFrameReader& in)
{
    const quint32 n = in.Count();
    std::vector<std::string> names;
    for (quint32 i = 0; i < n && in.Ok(); ++i)
        names.push_back(in.Str());
    if (!in.Ok())
        return Malformed(SM_PRIVILEGED_USERS);
    // The list is complete: whoever is not on it holds no privileges.
    ItemSet listed;
    for (const std::string& name : names)
        listed.Insert(UserItem(name));
    for (ItemPtr flag : d.GetType("is_privileged")->GetItems())
        for (ItemPtr user : flag.GetItems("user"))
            if (!listed.Contains(user))
                user.Disconnect(flag);
    for (ItemPtr user : listed)
        SetFlag(user, "is_privileged", true);
}

void Server::OnOwnPrivileges(ServerFrameReader& in)
{
    const quint32 seconds = in.U32();
    if (!in.Ok())
        return Malformed(SM_CHECK_PRIVILEGES);
    // The setting is read as a signed 32-bit number; keep it within that range.
    const int value = int(qMin<quint32>(seconds, 0x7FFFFFFF));
    settings.Set("privileges_time_left", value);
    settings.SetYes("is_supporter", value > 0);
    emit ReceivedOwnPrivilegesStatus(value);
}

void Server::OnRelatedSearches(ServerFrameReader& in)
{
    const std::string query = in.Str();
    const quint32 n = in.Count();
    std::vector<std::pair<std::string, quint32>> terms;
    for (quint32 i = 0; i < n && in.Ok(); ++i) {
        std::string term = in.Str();
        const quint32 rank = in.U32();
        terms.emplace_back(std::move(term), rank);
    }
    if (!in.Ok())
        return Malformed(SM_RELATED_SEARCHES);
    // A new answer replaces the text's earlier correlations.
    ItemPtr text = d.GetType("search_request_text")->GetItem(Value(query));
    text.GetItems("search_correlation").Remove();
    Type* correlations = d.GetType("search_correlation");
    Type* correlationText = d.GetType("correlation_text");
    Type* correlationRank = d.GetType("correlation_rank");
    for (const auto& [term, rank] : terms) {
        ItemPtr correlation = correlations->NewItem();
        correlation.Connect(correlationText->GetItem(Value(term)));
        correlation.Connect(correlationRank->GetItem(Value(rank)));
        text.Connect(correlation);
    }
    emit SearchCorrelations(ToQString(query));
}

void Server::OnPeerAddress(ServerFrameReader& in)
{
    const QString user = in.Text();
    const quint32 ip = in.U32();
    const quint32 port = in.U32();
    const quint32 obfuscation = in.U32();
    const quint16 obfuscatedPort = in.U16();
    if (!in.Ok())
        return Malformed(SM_GET_PEER_ADDRESS);
    emit PeerAddressReceived(user, ip, PortValue(port), obfuscation != 0, obfuscatedPort);
}

void Server::OnConnectToPeer(ServerFrameReader& in)
{
    const QString user = in.Text();
    const QString type = in.Text();
    const quint32 ip = in.U32();
    const quint32 port = in.U32();
    const quint32 token = in.U32();
    const bool privileged = in.Bool();
    const quint32 obfuscation = in.U32();
    const quint32 obfuscatedPort = in.U32();
    if (!in.Ok())
        return Malformed(SM_CONNECT_TO_PEER);
    emit ConnectToPeerRequested(
        user, type, ip, PortValue(port), token, privileged, obfuscation != 0, PortValue(obfuscatedPort));
}

void Server::OnPossibleParents(ServerFrameReader& in)
{
    const quint32 n = in.Count();
    QList<PossibleParent> parents;
    for (quint32 i = 0; i < n && in.Ok(); ++i) {
        PossibleParent parent;
        parent.user = in.Text();
        parent.ip = in.U32();
        parent.port = PortValue(in.U32());
        parents.append(parent);
    }
    if (!in.Ok())
        return Malformed(SM_POSSIBLE_PARENTS);
    emit PossibleParents(parents);
}
