// The server-side item types and the helpers that keep them up to date.
#include "Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include <QDateTime>

namespace {

// Declares a type unless it exists already (another part may have made it).
Type* Declare(const char* name, Primacy primacy, bool null = false, bool autoCreate = true)
{
    if (Type* type = d.HasType(name))
        return type;
    return d.NewType(name, primacy, null, autoCreate);
}

// Relates two types unless they are related already.
void Relate(Type* a, Type* b, OneOrMany aEnd, OneOrMany bEnd, bool owning = false)
{
    if (!a->GetRelation(b))
        a->RelateToType(b, aEnd, bEnd, owning);
}

Type* Flag(const char* name)
{
    return Declare(name, kAttribute, true);
}

} // namespace

void Server::CreateData()
{
    // Users and their flags, statistics and the own user list.
    Type* user = Declare("user", kEntity);
    for (const char* flag : { "is_online", "is_away", "is_tracked", "is_privileged", "is_ignored" })
        Relate(user, Flag(flag), Many, One);
    for (const char* attribute :
        { "last_online_status_change", "average_download_speed", "shared_file_count", "country_code" })
        Relate(user, Declare(attribute, kAttribute), Many, One);
    Type* inUserList = Flag("in_user_list");
    Relate(user, inUserList, One, One);
    Type* group = Declare("user_list_group", kEntity);
    Relate(inUserList, group, Many, Many);
    Relate(group, Declare("group_download_priority", kAttribute), Many, One);
    Relate(group, Flag("accept_uploads"), Many, One);

    // Rooms: the own flags on a room, its users and user count, its owner,
    // operators and members (one link item each, joined to the users), and
    // its tickers.
    Type* room = Declare("room", kEntity);
    for (const char* flag : { "in_room", "room_autojoin", "is_owner", "is_operator", "is_member" })
        Relate(room, Flag(flag), Many, One);
    Relate(room, Declare("user_count", kAttribute), Many, One);
    Relate(room, user, Many, Many);
    Type* owner = Declare("room_owner", kLink, true);
    Relate(room, owner, One, One);
    Relate(user, owner, One, Many);
    for (const char* name : { "room_operators", "room_members" }) {
        Type* link = Declare(name, kLink, true);
        Relate(room, link, One, One);
        Relate(user, link, Many, Many);
    }
    Type* ticker = Declare("room_ticker", kLink, true);
    Relate(room, ticker, One, Many);
    Relate(user, ticker, One, Many);
    Relate(ticker, Declare("room_ticker_text", kAttribute), Many, One);
    Relate(ticker, Declare("room_ticker_order", kAttribute), Many, One);

    // Searches sent through the server and the server's related searches; a
    // query text owns its correlations.
    Type* request = Declare("search_request", kEntity, false, false);
    Type* text = Declare("search_request_text", kAttribute);
    Relate(request, text, Many, One);
    Relate(request, Flag("wishlist_search"), Many, One);
    Type* correlation = Declare("search_correlation", kLink, true);
    Relate(text, correlation, One, Many, true);
    Relate(correlation, Declare("correlation_text", kAttribute), Many, One);
    Relate(correlation, Declare("correlation_rank", kAttribute), Many, One);

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

void Server::SetUserStatus(ItemPtr user, quint32 status)
{
    // 0 offline, 1 away, 2 online; an away user is still online.
    const bool online = status != 0;
    const bool away = status == 1;
    if (online != user.IsConnected("is_online")) {
        const QString now = QDateTime::currentDateTime().toString(Qt::TextDate);
        user.Connect(d.GetType("last_online_status_change")->GetItem(Value(now)));
    }
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

void Server::ClearOnlineFlags()
{
    // Nobody's status is known without the server. Rooms keep in_room, so
    // their pages can enter them again after the next login.
    for (const char* flag : { "is_away", "is_online" }) {
        Type* type = d.HasType(flag);
        if (!type)
            continue;
        for (ItemPtr item : type->GetItems())
            for (ItemPtr user : item.GetItems("user"))
                user.Disconnect(item);
    }
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
