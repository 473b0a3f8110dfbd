// The server-side item types and the helpers that keep them up to date.
#include "Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include <QDateTime>

namespace {

Type* Flag(const char* name)
{
    return d.DeclareType(name, kAttribute, true);
}

} // namespace

void Server::CreateData()
{
    // Users and their flags, statistics and the own user list.
    Type* user = d.DeclareType("user", kEntity);
    for (const char* flag : { "is_online", "is_away", "is_tracked", "is_privileged", "is_ignored" })
        d.RelateTypes(user, Flag(flag), Many, One);
    for (const char* attribute :
        { "last_online_status_change", "average_download_speed", "shared_file_count", "country_code" })
        d.RelateTypes(user, d.DeclareType(attribute, kAttribute), Many, One);
    Type* inUserList = Flag("in_user_list");
    d.RelateTypes(user, inUserList, One, One);
    Type* group = d.DeclareType("user_list_group", kEntity);
    d.RelateTypes(inUserList, group, Many, Many);
    d.RelateTypes(group, d.DeclareType("group_download_priority", kAttribute), Many, One);
    d.RelateTypes(group, Flag("accept_uploads"), Many, One);

    // Rooms: the own flags on a room, its users and user count, its owner,
    // operators and members (one link item each, joined to the users), and
    // its tickers.
    Type* room = d.DeclareType("room", kEntity);
    for (const char* flag : { "in_room", "room_autojoin", "is_owner", "is_operator", "is_member" })
        d.RelateTypes(room, Flag(flag), Many, One);
    d.RelateTypes(room, d.DeclareType("user_count", kAttribute), Many, One);
    d.RelateTypes(room, user, Many, Many);
    Type* owner = d.DeclareType("room_owner", kLink, true);
    d.RelateTypes(room, owner, One, One);
    d.RelateTypes(user, owner, One, Many);
    for (const char* name : { "room_operators", "room_members" }) {
        Type* link = d.DeclareType(name, kLink, true);
        d.RelateTypes(room, link, One, One);
        d.RelateTypes(user, link, Many, Many);
    }
    Type* ticker = d.DeclareType("room_ticker", kLink, true);
    d.RelateTypes(room, ticker, One, Many);
    d.RelateTypes(user, ticker, One, Many);
    d.RelateTypes(ticker, d.DeclareType("room_ticker_text", kAttribute), Many, One);
    d.RelateTypes(ticker, d.DeclareType("room_ticker_order", kAttribute), Many, One);

    // Searches sent through the server and the server's related searches; a
    // query text owns its correlations.
    Type* request = d.DeclareType("search_request", kEntity, false, false);
    Type* text = d.DeclareType("search_request_text", kAttribute);
    d.RelateTypes(request, text, Many, One);
    d.RelateTypes(request, Flag("wishlist_search"), Many, One);
    Type* correlation = d.DeclareType("search_correlation", kLink, true);
    d.RelateTypes(text, correlation, One, Many, true);
    d.RelateTypes(correlation, d.DeclareType("correlation_text", kAttribute), Many, One);
    d.RelateTypes(correlation, d.DeclareType("correlation_rank", kAttribute), Many, One);

    if (dataSaver) {
        for (const char* saved : { "in_user_list", "user_list_group", "group_download_priority",
                 "accept_uploads", "is_ignored", "room_autojoin" })
            dataSaver->AddSavedType(saved);
        dataSaver->AddSavedByConnectionType("user", "in_user_list");
        dataSaver->AddSavedByConnectionType("user", "is_ignored");
        dataSaver->AddSavedByConnectionType("room", "room_autojoin");
    }

    settings.SetDefault("availability_status", "available");
}

ItemPtr Server::UserItem(const std::string& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

ItemPtr Server::UserItem(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

ItemPtr Server::RoomItem(const std::string& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

void Server::SetFlag(ItemPtr item, const char* flagType, bool on)
{
    if (on) {
        if (!item.IsConnected(flagType))
            item.Connect(d.GetType(flagType)->GetGlobalNullItem());
    } else {
        item.Disconnect(flagType);
    }
}

QString Server::StatusChangeTime()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate);
}

void Server::SetUserStatus(ItemPtr user, quint32 status, const QString& now)
{
    // 0 offline, 1 away, 2 online; an away user is still online.
    const bool online = status != 0;
    const bool away = status == 1;
    if (online != user.IsConnected("is_online"))
        user.Connect(
            d.GetType("last_online_status_change")->GetItem(Value(now.isNull() ? StatusChangeTime() : now)));
    if (online) {
        SetFlag(user, "is_online", true);
        SetFlag(user, "is_away", away);
    } else {
        SetFlag(user, "is_away", false);
        SetFlag(user, "is_online", false);
    }
}

void Server::SetUserStats(ItemPtr user, const UserStats& stats)
{
    user.Connect(d.GetType("average_download_speed")->GetItem(Value(stats.averageSpeed)));
    user.Connect(d.GetType("shared_file_count")->GetItem(Value(stats.fileCount)));
}

void Server::SetCountry(ItemPtr user, const std::string& country)
{
    user.Connect(d.GetType("country_code")->GetItem(Value(country)));
}

void Server::UpdateUserCount(ItemPtr room)
{
    room.Connect(
        d.GetType("user_count")->GetItem(Value(static_cast<unsigned long long>(room.CountItems("user")))));
}

namespace {

const char* const kStatusFlags[] = { "is_away", "is_online" };

// A user with the flag, the first made, and the flag's item; nulls when none.
std::pair<ItemPtr, ItemPtr> FirstFlagged(Type* flag, Type* user)
{
    const ChunkedSet& items = flag->Items();
    for (ChunkedSet::Position p; items.Valid(p); items.Advance(p))
        if (Item* first = items.At(p)->connections.First(user))
            return { ItemPtr(first), ItemPtr(items.At(p)) };
    return {};
}

} // namespace

void Server::StartClearing()
{
    FinishClearing();
    // Nobody's status is known without the server. Rooms keep in_room, so
    // their pages can enter them again after the next login.
    Type* user = d.HasType("user");
    for (const char* name : kStatusFlags)
        if (Type* flag = d.HasType(name); flag && user)
            for (ItemPtr item : flag->GetItems())
                m_flagsToClear += item.Get()->connections.Count(user);
    // Who was in a room belongs to the session that ended: a room's page
    // left open shows nobody until the room is entered again, and a list
    // that was being applied goes with what it had applied.
    m_cutRooms.clear();
    if (Type* inRoom = d.HasType("in_room"))
        for (ItemPtr flag : inRoom->GetItems())
            for (ItemPtr room : flag.GetItems("room"))
                m_roomsToClear.push_back(room.AsStdString());
    if (!ClearSome(SlicedWork::Turn()))
        m_clearTurn.Wake();
}

void Server::FinishClearing()
{
    m_clearTurn.Stop();
    ClearSome(QDeadlineTimer(QDeadlineTimer::Forever));
}

bool Server::ClearSome(const QDeadlineTimer& until)
{
    Type* user = d.HasType("user");
    int done = 0;
    for (const char* name : kStatusFlags) {
        Type* flag = d.HasType(name);
        while (m_flagsToClear > 0 && flag && user) {
            const auto [flagged, item] = FirstFlagged(flag, user);
            if (!flagged)
                break;
            --m_flagsToClear;
            flagged.Disconnect(item);
            if (++done >= SlicedWork::kItemsAtOnce && until.hasExpired())
                return false;
        }
    }
    m_flagsToClear = 0;
    while (m_roomsCleared < m_roomsToClear.size()) {
        // A room's users go at once: after other work, only while the turn lasts.
        if (done > 0 && until.hasExpired())
            return false;
        if (ItemPtr room = d.GetType("room")->HasItem(Value(m_roomsToClear[m_roomsCleared++]))) {
            room.Disconnect("user");
            UpdateUserCount(room);
        }
        if (until.hasExpired())
            return false;
    }
    m_roomsToClear.clear();
    m_roomsCleared = 0;
    return true;
}

ItemPtr Server::RoomGroupItem(ItemPtr room, const char* type)
{
    return room.NewItem(type);
}

void Server::AddTicker(ItemPtr room, ItemPtr user, const std::string& text, qint64 order)
{
    RemoveTicker(room, user);
    ItemPtr ticker = d.GetType("room_ticker")->NewItem();
    ticker.Connect(user);
    ticker.Connect(d.GetType("room_ticker_text")->GetItem(Value(text)));
    ticker.Connect(d.GetType("room_ticker_order")->GetItem(Value(static_cast<long long>(order))));
    // The room last: a ticker becomes complete with its fourth connection.
    ticker.Connect(room);
}

void Server::RemoveTicker(ItemPtr room, ItemPtr user)
{
    d.GetItem(room, user, "room_ticker").Remove();
}
