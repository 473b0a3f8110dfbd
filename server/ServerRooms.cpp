// Room messages from the server: the room list, joining and leaving, the users
// of a room, chat lines, tickers and private rooms.
#include "Server.h"
#include "ServerFrameReader.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include <memory>
#include <unordered_set>
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

using Names = std::shared_ptr<const std::vector<std::string>>;

// The names a room keeps of a list: the first so many.
Names Kept(std::vector<std::string> names, size_t most)
{
    if (names.size() > most)
        names.resize(most);
    return std::make_shared<const std::vector<std::string>>(std::move(names));
}

// Steps after which the items of the type connected to owner() are exactly
// the named ones: the others are disconnected first, then the named ones
// connected in their order (made when they do not exist).
void ConnectExactly(SlicedWork& work, std::function<ItemPtr()> owner, const char* type, Names names)
{
    auto listed = std::make_shared<std::unordered_set<std::string>>();
    auto current = std::make_shared<std::vector<std::string>>();
    work.Then(names->size(), [=](size_t i) { listed->insert((*names)[i]); });
    work.Then(
        [=] {
            for (ItemPtr item : owner().GetItems(type))
                current->push_back(item.AsStdString());
            return current->size();
        },
        [=](size_t i) {
            if (!listed->count((*current)[i]))
                owner().Disconnect(d.GetType(type)->HasItem(Value((*current)[i])));
        });
    work.Then(
        names->size(), [=](size_t i) { owner().Connect(d.GetType(type)->GetItem(Value((*names)[i]))); });
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
        const bool adds = code == SM_PRIVATE_ROOM_ADD_USER || code == SM_PRIVATE_ROOM_ADD_OPERATOR;
        // Only an addition makes a user or a room that is not known yet.
        ItemPtr room = adds ? RoomItem(roomName) : d.GetType("room")->HasItem(Value(roomName));
        ItemPtr user = adds ? UserItem(userName) : d.GetType("user")->HasItem(Value(userName));
        if (!room || !user)
            return true;
        if (code == SM_USER_LEFT_ROOM) {
            room.Disconnect(user);
            UpdateUserCount(room);
        } else if (code == SM_ROOM_TICKER_REMOVE) {
            RemoveTicker(room, user);
        } else {
            const bool members = code == SM_PRIVATE_ROOM_ADD_USER || code == SM_PRIVATE_ROOM_REMOVE_USER;
            ItemPtr group = RoomGroupItem(room, members ? "room_members" : "room_operators");
            if (!adds)
                group.Disconnect(user);
            else if (group.CountItems("user") < m_maxRoomMembers)
                group.Connect(user);
        }
        return true;
    }
    case SM_ROOM_TICKER_ADD: {
        const std::string roomName = in.Str();
        const std::string userName = in.Str();
        const std::string text = in.Str();
        if (!in.Ok())
            break;
        if (!InRoom(roomName)) {
            Log(kArea, 2, QStringLiteral("A ticker of a room the user is not in; skipped."));
            return true;
        }
        ItemPtr room = RoomItem(roomName);
        // A new ticker goes after every other of the room.
        auto next = m_tickerOrders.find(roomName);
        if (next == m_tickerOrders.end()) {
            qint64 order = 0;
            for (ItemPtr ticker : room.GetItems("room_ticker"))
                order = qMax(order, ticker["room_ticker_order"].AsInt64() + 1);
            next = m_tickerOrders.emplace(roomName, order).first;
        }
        AddTicker(room, UserItem(userName), text, next->second++);
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
    std::vector<std::string> rooms = ReadNames(in);
    std::vector<quint32> counts = ReadNumbers(in);
    std::vector<std::string> owned = ReadNames(in);
    const std::vector<quint32> ownedCounts = ReadNumbers(in);
    std::vector<std::string> member = ReadNames(in);
    const std::vector<quint32> memberCounts = ReadNumbers(in);
    std::vector<std::string> operated = ReadNames(in);
    if (!in.Ok() || rooms.size() != counts.size() || owned.size() != ownedCounts.size()
        || member.size() != memberCounts.size())
        return Malformed(SM_ROOM_LIST);
    // Only an answer that was asked for (or the one after a login) is taken.
    if (!settings.IsYes("accept_room_list")) {
        Log(kArea, 2, QStringLiteral("Room list not asked for; skipped."));
        return;
    }
    settings.Set("accept_room_list", "no");
    // The counts of every room listed, then the flags of the own rooms.
    const auto ownedNames = std::make_shared<const std::vector<std::string>>(owned);
    const auto memberNames = std::make_shared<const std::vector<std::string>>(member);
    rooms.insert(rooms.end(), std::make_move_iterator(owned.begin()), std::make_move_iterator(owned.end()));
    rooms.insert(rooms.end(), std::make_move_iterator(member.begin()), std::make_move_iterator(member.end()));
    counts.insert(counts.end(), ownedCounts.begin(), ownedCounts.end());
    counts.insert(counts.end(), memberCounts.begin(), memberCounts.end());
    const auto all = std::make_shared<const std::pair<std::vector<std::string>, std::vector<quint32>>>(
        std::move(rooms), std::move(counts));
    SlicedWork work;
    work.Then(all->first.size(), [all](size_t i) {
        d.GetType("room")
            ->GetItem(Value(all->first[i]))
            .Connect(d.GetType("user_count")->GetItem(Value(all->second[i])));
    });
    const auto flag
        = [](const char* type) { return [type] { return d.GetType(type)->GetGlobalNullItem(); }; };
    ConnectExactly(work, flag("is_owner"), "room", ownedNames);
    ConnectExactly(work, flag("is_member"), "room", memberNames);
    ConnectExactly(work, flag("is_operator"), "room",
        std::make_shared<const std::vector<std::string>>(std::move(operated)));
    m_rest = std::move(work);
}

void Server::OnJoinRoom(ServerFrameReader& in)
{
    struct Join {
        std::string name;
        ItemPtr room; // looked up again in every slice
        std::vector<UserStats> stats;
        std::vector<quint32> statuses;
        std::vector<std::string> countries;
        std::string owner;
        QString now;
    };
    auto join = std::make_shared<Join>();
    join->name = in.Str();
    std::vector<std::string> listed = ReadNames(in);
    join->statuses = ReadNumbers(in);
    const quint32 statCount = in.Count();
    for (quint32 i = 0; i < statCount && in.Ok(); ++i)
        join->stats.push_back(in.Stats());
    const std::vector<quint32> slotsFull = ReadNumbers(in);
    join->countries = ReadNames(in);
    // A private room's answer goes on with its owner and operators.
    const bool isPrivate = in.Ok() && in.Remaining() > 0;
    Names operators;
    if (isPrivate) {
        join->owner = in.Str();
        operators = Kept(ReadNames(in), m_maxRoomMembers);
    }
    if (!in.Ok() || join->statuses.size() != listed.size() || join->stats.size() != listed.size()
        || slotsFull.size() != listed.size() || join->countries.size() != listed.size())
        return Malformed(SM_JOIN_ROOM);
    // The room keeps the first of its users; the page says that others are
    // not listed.
    const bool cut = listed.size() > m_maxRoomMembers;
    const Names users = Kept(std::move(listed), m_maxRoomMembers);
    const size_t n = users->size();

    SlicedWork work;
    work.EachRun([this, join] { join->room = RoomItem(join->name); });
    // in_room first: the room's page is made then, and sees the users arrive.
    work.Then([this, join] {
        m_cutRooms.erase(join->name);
        SetFlag(join->room, "in_room", true);
        emit RoomEntered(join->room.AsString());
    });
    if (isPrivate) {
        work.Then([this, join] {
            ItemPtr ownerLink = RoomGroupItem(join->room, "room_owner");
            ownerLink.Disconnect("user");
            if (!join->owner.empty())
                ownerLink.Connect(UserItem(join->owner));
        });
        ConnectExactly(
            work, [this, join] { return RoomGroupItem(join->room, "room_operators"); }, "user", operators);
    }
    // One time for the whole list: formatting it per user cost a big room's
    // join a noticeable share of its time.
    join->now = StatusChangeTime();
    work.Then(n, [this, join, users](size_t i) {
        ItemPtr user = UserItem((*users)[i]);
        SetUserStats(user, join->stats[i]);
        SetCountry(user, join->countries[i]);
        SetUserStatus(user, join->statuses[i], join->now);
    });
    ConnectExactly(
        work, [join] { return join->room; }, "user", users);
    work.Then([this, join, cut] {
        UpdateUserCount(join->room);
        if (cut)
            NoteMembersCut(join->name);
    });
    m_rest = std::move(work);
}

void Server::NoteMembersCut(const std::string& room)
{
    if (!m_cutRooms.insert(room).second)
        return;
    Log(kArea, 1,
        QStringLiteral("More users are in the room %1 than the %2 it lists; those beyond are not listed.")
            .arg(ToQString(room))
            .arg(m_maxRoomMembers));
    emit RoomMembersCut(ToQString(room));
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
    // Users of a room the user is not in would only take up memory.
    if (!InRoom(roomName))
        return;
    ItemPtr room = RoomItem(roomName);
    if (!d.GetType("user")->HasItem(Value(userName)).IsConnected(room)
        && room.CountItems("user") >= m_maxRoomMembers)
        return NoteMembersCut(roomName);
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
    // The whole list is checked here; its tickers are read as they are
    // applied, a slice at a time.
    auto entries = std::make_shared<ServerFrameReader>(in);
    for (quint32 i = 0; i < n && in.Ok(); ++i) {
        in.SkipStr();
        in.SkipStr();
    }
    if (!in.Ok())
        return Malformed(SM_ROOM_TICKERS);
    // The server sends a room's tickers right after the room is entered;
    // those of a room the user is not in would only take up memory.
    if (!InRoom(roomName)) {
        Log(kArea, 2, QStringLiteral("Tickers of a room the user is not in; skipped."));
        return;
    }
    // The list replaces the room's tickers; a user listed twice keeps the
    // later one. The oldest ticker goes first, and the listed ones come in
    // their order.
    m_tickerOrders[roomName] = qint64(n);
    auto room = std::make_shared<ItemPtr>();
    SlicedWork work;
    work.EachRun([this, room, roomName] { *room = RoomItem(roomName); });
    work.Then([room] { return room->CountItems("room_ticker"); },
        [room](size_t) { (*room)["room_ticker"].Remove(); });
    work.Then(n, [this, room, entries](size_t i) {
        const std::string user = entries->Str();
        const std::string text = entries->Str();
        AddTicker(*room, UserItem(user), text, qint64(i));
    });
    m_rest = std::move(work);
}

bool Server::InRoom(const std::string& name)
{
    return d.GetType("room")->HasItem(Value(name)).IsConnected("in_room");
}

void Server::OnRoomUserList(quint32 code, ServerFrameReader& in)
{
    const std::string roomName = in.Str();
    const Names names = Kept(ReadNames(in), m_maxRoomMembers);
    if (!in.Ok())
        return Malformed(code);
    const char* type = code == SM_PRIVATE_ROOM_USERS ? "room_members" : "room_operators";
    auto group = std::make_shared<ItemPtr>();
    SlicedWork work;
    work.EachRun([this, group, roomName, type] { *group = RoomGroupItem(RoomItem(roomName), type); });
    ConnectExactly(
        work, [group] { return *group; }, "user", names);
    m_rest = std::move(work);
}
