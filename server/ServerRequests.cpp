// The requests that the client sends to the server.
#include "PortForwarder.h"
#include "Server.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include <utility>

namespace {

MemStream Fields(const QString& a)
{
    MemStream m;
    m.WriteString(a);
    return m;
}

MemStream Fields(const QString& a, const QString& b)
{
    MemStream m;
    m.WriteString(a);
    m.WriteString(b);
    return m;
}

MemStream Fields(quint32 n)
{
    MemStream m;
    m.WriteUInt32(n);
    return m;
}

MemStream Fields(bool flag)
{
    MemStream m;
    m.WriteBool(flag);
    return m;
}

} // namespace

// Searches.

quint32 Server::NewSearchRequest(const QString& text, bool wishlist)
{
    quint32 token = NextToken();
    Type* requests = d.GetType("search_request");
    while (requests->HasItem(Value(token)))
        token = NextToken();
    ItemPtr request = requests->NewItem(Value(token));
    request.Connect(d.GetType("search_request_text")->GetItem(Value(text)));
    if (wishlist)
        request.Connect(d.GetType("wishlist_search")->GetGlobalNullItem());
    return token;
}

quint32 Server::FileSearch(const QString& text, bool wishlist)
{
    const quint32 token = NewSearchRequest(text, wishlist);
    emit SearchRequested(token, text, wishlist);
    MemStream m;
    m.WriteUInt32(token);
    m.WriteString(text);
    Send(wishlist ? SM_WISHLIST_SEARCH : SM_FILE_SEARCH, m);
    return token;
}

quint32 Server::SearchUserList(const QString& text)
{
    const quint32 token = NewSearchRequest(text, false);
    // Every online user of the own user list gets the search under one token.
    ItemSet users = g("in_user_list").GetItems("user");
    for (ItemPtr user : users) {
        if (!user.IsConnected("is_online"))
            continue;
        MemStream m;
        m.WriteString(user.Text());
        m.WriteUInt32(token);
        m.WriteString(text);
        Send(SM_USER_SEARCH, m);
    }
    return token;
}

quint32 Server::SearchRoom(const QString& room, const QString& text)
{
    const quint32 token = NewSearchRequest(text, false);
    MemStream m;
    m.WriteString(room);
    m.WriteUInt32(token);
    m.WriteString(text);
    Send(SM_ROOM_SEARCH, m);
    return token;
}

void Server::GetSearchCorrelations(const QString& text)
{
    Send(SM_RELATED_SEARCHES, Fields(text));
}

// Rooms.

void Server::GetRoomList()
{
    settings.Set("accept_room_list", "yes");
    Send(SM_ROOM_LIST, MemStream());
}

void Server::EnterRoom(const QString& room, bool isPrivate)
{
    MemStream m;
    m.WriteString(room);
    m.WriteUInt32(isPrivate ? 1 : 0);
    Send(SM_JOIN_ROOM, m);
}

void Server::LeaveRoom(const QString& room)
{
    ItemPtr item = d.GetType("room")->HasItem(Value(room));
    if (item.IsConnected("in_room"))
        Send(SM_LEAVE_ROOM, Fields(room));
}

void Server::SendRoomChat(const QString& room, const QString& text)
{
    Send(SM_SAY_CHATROOM, Fields(room, text));
}

void Server::SetRoomTicker(const QString& room, const QString& text)
{
    Send(SM_SET_ROOM_TICKER, Fields(room, text));
}

void Server::GiveUpPrivateRoom(const QString& room)
{
    Send(SM_PRIVATE_ROOM_DISOWN, Fields(room));
}

void Server::GiveUpPrivateRoomMembership(const QString& room)
{
    Send(SM_PRIVATE_ROOM_DISMEMBER, Fields(room));
}

void Server::EnablePrivateRoomAdd(bool enable)
{
    Send(SM_PRIVATE_ROOM_TOGGLE, Fields(enable));
}

void Server::AddPrivateRoomMember(const QString& room, const QString& user)
{
    Send(SM_PRIVATE_ROOM_ADD_USER, Fields(room, user));
}

void Server::RemovePrivateRoomMember(const QString& room, const QString& user)
{
    Send(SM_PRIVATE_ROOM_REMOVE_USER, Fields(room, user));
}

void Server::AddPrivateRoomOperator(const QString& room, const QString& user)
{
    Send(SM_PRIVATE_ROOM_ADD_OPERATOR, Fields(room, user));
}

void Server::RemovePrivateRoomOperator(const QString& room, const QString& user)
{
    Send(SM_PRIVATE_ROOM_REMOVE_OPERATOR, Fields(room, user));
}

// Users, chat and the own account.

void Server::SendPrivateChat(const QString& user, QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    // Only a line that actually went out is reported as sent.
    if (Send(SM_PRIVATE_MESSAGE, Fields(user, text)))
        emit PrivateChatSent(user, text);
}

void Server::AddUser(const QString& user)
{
    Send(SM_ADD_USER, Fields(user));
}

void Server::TrackUser(const QString& user)
{
    ItemPtr item = UserItem(user);
    if (item.IsConnected("is_tracked"))
        return;
    // A user counts as tracked only once the server has been asked; a request
    // that could not go out is made at the next login.
    if (!Send(SM_ADD_USER, Fields(user))) {
        m_trackAtLogin.insert(user);
        return;
    }
    m_trackAtLogin.remove(user);
    item.Connect(d.GetType("is_tracked")->GetGlobalNullItem());
}

void Server::TrackUsersAtLogin()
{
    // The server forgets its watches with the connection: every tracked user
    // is asked for again, then those waiting for a connection.
    std::vector<QString> users;
    if (Type* tracked = d.HasType("is_tracked")) {
        for (ItemPtr flag : tracked->GetItems())
            for (ItemPtr user : flag.GetItems("user"))
                users.push_back(user.AsString());
    }
    for (const QString& user : std::as_const(m_trackAtLogin))
        users.push_back(user);
    m_loginWatches.Start(std::move(users));
}

void Server::WatchAgain(const QString& user)
{
    ItemPtr item = d.GetType("user")->HasItem(Value(user));
    if (item.IsConnected("is_tracked"))
        AddUser(user);
    else if (m_trackAtLogin.contains(user))
        TrackUser(user);
}

void Server::OnUnknownUserWatched(const QString& user)
{
    // The server watches no name it does not know: the user is not tracked,
    // so that the next request (or login) asks again.
    ItemPtr item = d.GetType("user")->HasItem(Value(user));
    if (!item.IsConnected("is_tracked"))
        return;
    item.Disconnect("is_tracked");
    m_trackAtLogin.insert(user);
}

void Server::UntrackUser(const QString& user)
{
    m_trackAtLogin.remove(user);
    ItemPtr item = d.GetType("user")->HasItem(Value(user));
    if (!item.IsConnected("is_tracked"))
        return;
    item.Disconnect("is_tracked");
    Send(SM_REMOVE_USER, Fields(user));
}

void Server::GetUserStatus(const QString& user)
{
    if (Send(SM_GET_USER_STATUS, Fields(user)))
        m_statusAsked.insert(user);
}

void Server::GetUserStats(const QString& user)
{
    if (Send(SM_GET_USER_STATS, Fields(user)))
        m_statsAsked.insert(user);
}

void Server::GiftPrivileges(const QString& user, int days)
{
    MemStream m;
    m.WriteString(user);
    m.WriteInt32(days);
    Send(SM_GIVE_PRIVILEGES, m);
}

void Server::GetOwnPrivilegesStatus()
{
    Send(SM_CHECK_PRIVILEGES, MemStream());
}

void Server::SetAvailabilityStatus(bool available)
{
    settings.Set("availability_status", available ? "available" : "away");
    MemStream m;
    m.WriteInt32(available ? 2 : 1);
    Send(SM_SET_STATUS, m);
}

void Server::SendFilesFolders(int folders, int files)
{
    // Kept for the next login, which tells the server again.
    m_sharedFolders = quint32(folders);
    m_sharedFiles = quint32(files);
    MemStream m;
    m.WriteUInt32(quint32(folders));
    m.WriteUInt32(quint32(files));
    Send(SM_SHARED_FOLDERS_FILES, m);
}

void Server::SendUploadSpeed(int bytesPerSecond)
{
    Send(SM_SEND_UPLOAD_SPEED, Fields(quint32(bytesPerSecond)));
}

// Peer connections and the distributed search tree.

void Server::SetListeningPorts(quint16 port, quint16 obfuscatedPort)
{
    // Kept for the next login, which tells the server again.
    const bool changed = port != m_listeningPort || obfuscatedPort != m_obfuscatedPort;
    m_listeningPort = port;
    m_obfuscatedPort = obfuscatedPort;
    SendListeningPorts();
    if (changed && port && portForwarder)
        portForwarder->MapNewPorts();
}

QList<int> Server::ListeningPorts() const
{
    QList<int> ports;
    for (int port : { int(m_listeningPort), int(m_obfuscatedPort) })
        if (port && !ports.contains(port))
            ports.append(port);
    return ports;
}

void Server::SendListeningPorts()
{
    // Only ports the peer network holds: a port that another program holds
    // would send every peer to that program. Without one the server hears
    // none, and a peer reaches us only when we connect to it at the server's
    // bidding.
    if (!m_listeningPort)
        return;
    MemStream m;
    m.WriteUInt32(m_listeningPort);
    m.WriteUInt32(m_obfuscatedPort ? 1 : 0); // obfuscation available
    m.WriteUInt32(m_obfuscatedPort);
    Send(SM_SET_LISTENING_PORT, m);
}

void Server::GetPeerAddress(const QString& user)
{
    Send(SM_GET_PEER_ADDRESS, Fields(user));
}

void Server::ConnectToPeer(quint32 token, const QString& user, const QString& type)
{
    MemStream m;
    m.WriteUInt32(token);
    m.WriteString(user);
    m.WriteString(type);
    Send(SM_CONNECT_TO_PEER, m);
}

void Server::CannotConnect(quint32 token, const QString& user)
{
    MemStream m;
    m.WriteUInt32(token);
    m.WriteString(user);
    Send(SM_CANNOT_CONNECT, m);
}

void Server::HaveNoParent(bool haveNoParent)
{
    Send(SM_HAVE_NO_PARENT, Fields(haveNoParent));
}

void Server::AcceptChildren(bool accept)
{
    Send(SM_ACCEPT_CHILDREN, Fields(accept));
}

void Server::SetBranchLevel(quint32 level)
{
    Send(SM_BRANCH_LEVEL, Fields(level));
}

void Server::SetBranchRoot(const QString& root)
{
    Send(SM_BRANCH_ROOT, Fields(root));
}

void Server::SetChildDepth(quint32 depth)
{
    Send(SM_CHILD_DEPTH, Fields(depth));
}
