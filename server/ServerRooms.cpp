// Room messages from the server: the room list, joining and leaving, the users
// of a room, chat lines, tickers and private rooms.
#include "Server.h"
#include "ServerFrameReader.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include <vector>

namespace {

const QString kArea = QStringLiteral("Server");

std::vector<std::string> ReadNames(ServerFrameReader& in)
{
    std::vector<std::string> names;
    const quint32 n = in.Count();
    for (quint32 i = 0; i < n && in.Ok(); ++i)
        names.push_back(in.Str());
    return names;
}

std::vector<quint32> ReadNumbers(ServerFrameReader& in)
{
    std::vector<quint32> numbers;
    const quint32 n = in.Count();
    for (quint32 i = 0; i < n && in.Ok(); ++i)
        numbers.push_back(in.U32());
    return numbers;
}

// Makes exactly the listed rooms carry the flag.
void SetRoomFlags(const char* flag, const std::vector<std::string>& rooms)
{
    Type* roomType = d.GetType("room");
    ItemPtr flagItem = d.GetType(flag)->GetGlobalNullItem();
    ItemSet listed;
    for (const std::string& name : rooms)
        listed.Insert(roomType->GetItem(Value(name)));
    for (ItemPtr room : flagItem.GetItems("room"))
        if (!listed.Contains(room))
            room.Disconnect(flagItem);
    for (ItemPtr room : listed)
        room.Connect(flagItem);
}

} // namespace

bool Server::DispatchRoom(quint32 code, ServerFrameReader& in)
{
    switch (code) {
    case SM_ROOM_LIST:
        OnRoomList(in);
        return true;
    case SM_JOIN_ROOM:
        OnJoinRoom(in);
        return true;
    case SM_USER_JOINED_ROOM:
        OnUserJoinedRoom(in);
        return true;
    case SM_ROOM_TICKERS:
        OnRoomTickers(in);
        return true;
    case SM_PRIVATE_ROOM_USERS:
    case SM_PRIVATE_ROOM_OWNED:
        OnRoomUserList(code, in);
        return true;
    case SM_SAY_CHATROOM: {
        const QString room = in.Text();
        const QString user = in.Text();
        const QString text = in.Text();
        if (!in.Ok())
            break;
        emit RoomChat(room, user, text);
        return true;
    }
    case SM_PRIVATE_ROOM_TOGGLE: {
        const bool enabled = in.Bool();
        if (!in.Ok())
            break;
        settings.Set("accept_private_room_add", enabled ? "yes" : "no");
        emit PrivateRoomAddEnabled(enabled);
        return true;
    }
    case SM_CANNOT_CREATE_ROOM: {
        const QString room = in.Text();
        if (!in.Ok())
            break;
        Log(kArea, 1, QStringLiteral("The server could not create or enter the room %1.").arg(room));
        emit CannotCreateRoom(room);
        return true;
    }
    case SM_LEAVE_ROOM:
    case SM_PRIVATE_ROOM_ADDED:
    case SM_PRIVATE_ROOM_REMOVED:
    case SM_PRIVATE_ROOM_OPERATOR_ADDED:
    case SM_PRIVATE_ROOM_OPERATOR_REMOVED: {
        const std::string name = in.Str();
        if (!in.Ok())
            break;
        ItemPtr room = RoomItem(name);
        if (code == SM_LEAVE_ROOM) {
            // The page of the room goes with in_room; the users go after it.
            SetFlag(room, "in_room", false);
            for (ItemPtr user : room.GetItems("user"))
                room.Disconnect(user);
            UpdateUserCount(room);
        } else if (code == SM_PRIVATE_ROOM_ADDED || code == SM_PRIVATE_ROOM_REMOVED) {
            SetFlag(room, "is_member", code == SM_PRIVATE_ROOM_ADDED);
        } else {
            SetFlag(room, "is_operator", code == SM_PRIVATE_ROOM_OPERATOR_ADDED);
        }
        return true;
    }
    case SM_USER_LEFT_ROOM:
    case SM_ROOM_TICKER_REMOVE:
    case SM_PRIVATE_ROOM_ADD_USER:
    case SM_PRIVATE_ROOM_REMOVE_USER:
    case SM_PRIVATE_ROOM_ADD_OPERATOR:
    case SM_PRIVATE_ROOM_REMOVE_OPERATOR: {
        const std::string roomName = in.Str();
        const std::string userName = in.Str();
        if (!in.Ok())
            break;
        ItemPtr room = RoomItem(roomName);
        ItemPtr user = UserItem(userName);
        if (code == SM_USER_LEFT_ROOM) {
            room.Disconnect(user);
            UpdateUserCount(room);
        } else if (code == SM_ROOM_TICKER_REMOVE) {
            RemoveTicker(room, user);
        } else {
            const bool members = code == SM_PRIVATE_ROOM_ADD_USER || code == SM_PRIVATE_ROOM_REMOVE_USER;
            ItemPtr group = RoomGroupItem(room, members ? "room_members" : "room_operators");
            if (code == SM_PRIVATE_ROOM_ADD_USER || code == SM_PRIVATE_ROOM_ADD_OPERATOR)
                group.Connect(user);
            else
                group.Disconnect(user);
        }
        return true;
    }
    case SM_ROOM_TICKER_ADD: {
        const std::string roomName = in.Str();
        const std::string userName = in.Str();
        const std::string text = in.Str();
        if (!in.Ok())
            break;
        ItemPtr room = RoomItem(roomName);
        qint64 order = 0;
        for (ItemPtr ticker : room.GetItems("room_ticker"))
            order = qMax(order, ticker["room_ticker_order"].AsInt64() + 1);
        AddTicker(room, UserItem(userName), text, order);
        return true;
    }
    default:
        return false;
    }
    Malformed(code);
    return true;
}

void Server::OnRoomList(ServerFrameReader& in)
{
    const std::vector<std::string> rooms = ReadNames(in);
    const std::vector<quint32> counts = ReadNumbers(in);
    const std::vector<std::string> owned = ReadNames(in);
    const std::vector<quint32> ownedCounts = ReadNumbers(in);
    const std::vector<std::string> member = ReadNames(in);
    const std::vector<quint32> memberCounts = ReadNumbers(in);
    const std::vector<std::string> operated = ReadNames(in);
    if (!in.Ok() || rooms.size() != counts.size() || owned.size() != ownedCounts.size()
        || member.size() != memberCounts.size())
        return Malformed(SM_ROOM_LIST);
    // Only an answer that was asked for (or the one after a login) is taken.
    if (!settings.IsYes("accept_room_list")) {
        Log(kArea, 2, QStringLiteral("Room list not asked for; skipped."));
        return;
    }
    settings.Set("accept_room_list", "no");
    Type* roomType = d.GetType("room");
    Type* userCount = d.GetType("user_count");
    const auto apply = [&](const std::vector<std::string>& names, const std::vector<quint32>& numbers) {
        for (size_t i = 0; i < names.size(); ++i)
            roomType->GetItem(Value(names[i])).Connect(userCount->GetItem(Value(numbers[i])));
    };
    apply(rooms, counts);
    apply(owned, ownedCounts);
    apply(member, memberCounts);
    SetRoomFlags("is_owner", owned);
    SetRoomFlags("is_member", member);
    SetRoomFlags("is_operator", operated);
}

void Server::OnJoinRoom(ServerFrameReader& in)
{
    const std::string name = in.Str();
    const std::vector<std::string> users = ReadNames(in);
    const std::vector<quint32> statuses = ReadNumbers(in);
    const quint32 statCount = in.Count();
    std::vector<UserStats> stats;
    for (quint32 i = 0; i < statCount && in.Ok(); ++i)
        stats.push_back(in.Stats());
    const std::vector<quint32> slotsFull = ReadNumbers(in);
    const std::vector<std::string> countries = ReadNames(in);
    // A private room's answer goes on with its owner and operators.
    const bool isPrivate = in.Ok() && in.Remaining() > 0;
    std::string owner;
    std::vector<std::string> operators;
    if (isPrivate) {
        owner = in.Str();
        operators = ReadNames(in);
    }
    const size_t n = users.size();
    if (!in.Ok() || statuses.size() != n || stats.size() != n || slotsFull.size() != n
        || countries.size() != n)
        return Malformed(SM_JOIN_ROOM);

    ItemPtr room = RoomItem(name);
    // in_room first: the room's page is made then, and sees the users arrive.
    SetFlag(room, "in_room", true);
    if (isPrivate) {
        ItemPtr ownerLink = RoomGroupItem(room, "room_owner");
        ownerLink.Disconnect("user");
        if (!owner.empty())
            ownerLink.Connect(UserItem(owner));
        ItemPtr operatorLink = RoomGroupItem(room, "room_operators");
        ItemSet listedOperators;
        for (const std::string& op : operators)
            listedOperators.Insert(UserItem(op));
        for (ItemPtr user : operatorLink.GetItems("user"))
            if (!listedOperators.Contains(user))
                operatorLink.Disconnect(user);
        for (ItemPtr user : listedOperators)
            operatorLink.Connect(user);
    }
    ItemSet present;
    // One time for the whole list: formatting it per user cost a big room's
    // join a noticeable share of its time.
    const QString now = StatusChangeTime();
    for (size_t i = 0; i < n; ++i) {
        ItemPtr user = UserItem(users[i]);
        present.Insert(user);
        SetUserStats(user, stats[i]);
        SetCountry(user, countries[i]);
        SetUserStatus(user, statuses[i], now);
    }
    for (ItemPtr user : room.GetItems("user"))
        if (!present.Contains(user))
            room.Disconnect(user);
    for (ItemPtr user : present)
        room.Connect(user);
    UpdateUserCount(room);
}

void Server::OnUserJoinedRoom(ServerFrameReader& in)
{
    const std::string roomName = in.Str();
    const std::string userName = in.Str();
    const quint32 status = in.U32();
    const UserStats stats = in.Stats();
    in.U32(); // slots full
    const std::string country = in.Str();
    if (!in.Ok())
        return Malformed(SM_USER_JOINED_ROOM);
    ItemPtr room = RoomItem(roomName);
    ItemPtr user = UserItem(userName);
    SetUserStats(user, stats);
    SetCountry(user, country);
    SetUserStatus(user, status);
    room.Connect(user);
    UpdateUserCount(room);
}

void Server::OnRoomTickers(ServerFrameReader& in)
{
    const std::string roomName = in.Str();
    const quint32 n = in.Count();
    std::vector<std::pair<std::string, std::string>> tickers;
    for (quint32 i = 0; i < n && in.Ok(); ++i) {
        std::string user = in.Str();
        std::string text = in.Str();
        tickers.emplace_back(std::move(user), std::move(text));
    }
    if (!in.Ok())
        return Malformed(SM_ROOM_TICKERS);
    // The list replaces the room's tickers; a user listed twice keeps the later one.
    ItemPtr room = RoomItem(roomName);
    room.GetItems("room_ticker").Remove();
    qint64 order = 0;
    for (const auto& [user, text] : tickers)
        AddTicker(room, UserItem(user), text, order++);
}

void Server::OnRoomUserList(quint32 code, ServerFrameReader& in)
{
    const std::string roomName = in.Str();
    const std::vector<std::string> names = ReadNames(in);
    if (!in.Ok())
        return Malformed(code);
    ItemPtr room = RoomItem(roomName);
    ItemPtr group = RoomGroupItem(room, code == SM_PRIVATE_ROOM_USERS ? "room_members" : "room_operators");
    ItemSet listed;
    for (const std::string& name : names)
        listed.Insert(UserItem(name));
    for (ItemPtr user : group.GetItems("user"))
        if (!listed.Contains(user))
            group.Disconnect(user);
    for (ItemPtr user : listed)
        group.Connect(user);
}
