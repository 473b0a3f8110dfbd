#include "RoomService.h"

#include "ClientSession.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

namespace {

constexpr quint32 ChatCode = 13;
constexpr quint32 JoinCode = 14;
constexpr quint32 LeaveCode = 15;
constexpr quint32 UserJoinedCode = 16;
constexpr quint32 UserLeftCode = 17;
constexpr quint32 RoomListCode = 64;
constexpr quint32 TickersCode = 113;
constexpr quint32 TickerAddedCode = 114;
constexpr quint32 TickerRemovedCode = 115;
constexpr quint32 SetTickerCode = 116;
constexpr quint32 PrivateMembersCode = 133;
constexpr quint32 PrivateOperatorsCode = 148;
constexpr quint32 CannotCreateRoomCode = 1003;

}

bool RoomService::handle(ClientSession& session, quint32 code, WireReader& in)
{
    switch (code) {
    case ChatCode:
        chat(session, in);
        return true;
    case JoinCode:
        join(session, in);
        return true;
    case LeaveCode:
        leave(session, in);
        return true;
    case RoomListCode:
        sendRoomList(session);
        return true;
    case SetTickerCode:
        setTicker(session, in);
        return true;
    default:
        return false;
    }
}

void RoomService::join(ClientSession& session, WireReader& in)
{
    const QString name = in.str();
    const quint32 wantPrivate = in.u32();
    if (!in.ok())
        return;
    const QString& user = session.user;
    Room* room = m_server.rooms().find(name);
    if (name.trimmed().isEmpty() || (room && room->isPrivate && !room->isMember(user))
        || (room && !room->isPrivate && wantPrivate != 0)) {
        session.send(CannotCreateRoomCode, WireWriter().str(name));
        return;
    }
    if (!room) {
        room = &m_server.rooms().create(name, wantPrivate != 0, user);
        if (room->isPrivate) {
            session.send(PrivateMembersCode, WireWriter().str(name).strList({}));
            session.send(PrivateOperatorsCode, WireWriter().str(name).strList({}));
        }
    }
    const bool alreadyThere = room->present.contains(user);
    if (!alreadyThere)
        room->present.append(user);
    sendJoinAnswer(session, *room);

    WireWriter tickers;
    tickers.str(name).u32(quint32(room->tickers.size()));
    for (const auto& [tickerUser, text] : std::as_const(room->tickers))
        tickers.str(tickerUser).str(text);
    session.send(TickersCode, tickers);

    if (alreadyThere)
        return;
    WireWriter joined;
    joined.str(name);
    writeUserEntry(joined, user);
    for (const QString& other : std::as_const(room->present)) {
        if (other != user)
            m_server.sendTo(other, UserJoinedCode, joined);
    }
}

void RoomService::writeUserEntry(WireWriter& out, const QString& user) const
{
    out.str(user).u32(m_server.statusOf(user));
    m_server.writeStats(out, user);
    out.u32(0).str(QString()); // slots full, country
}

void RoomService::sendJoinAnswer(ClientSession& session, const Room& room)
{
    const QStringList& users = room.present;
    const auto count = quint32(users.size());
    WireWriter out;
    out.str(room.name).strList(users);
    out.u32(count);
    for (const QString& user : users)
        out.u32(m_server.statusOf(user));
    out.u32(count);
    for (const QString& user : users)
        m_server.writeStats(out, user);
    out.u32(count);
    for (int i = 0; i < users.size(); ++i)
        out.u32(0); // slots full
    out.u32(count);
    for (int i = 0; i < users.size(); ++i)
        out.str(QString()); // country
    if (room.isPrivate)
        out.str(room.owner).strList(room.operators);
    session.send(JoinCode, out);
}

void RoomService::leave(ClientSession& session, WireReader& in)
{
    const QString name = in.str();
    if (!in.ok())
        return;
    Room* room = m_server.rooms().find(name);
    if (room && room->present.contains(session.user))
        removePresent(*room, session.user, true);
    else
        session.send(LeaveCode, WireWriter().str(name));
}

void RoomService::removePresent(Room& room, const QString& user, bool tellUser)
{
    room.present.removeAll(user);
    if (tellUser)
        m_server.sendTo(user, LeaveCode, WireWriter().str(room.name));
    sendToPresent(room, UserLeftCode, WireWriter().str(room.name).str(user));
    if (!room.isPrivate && room.present.isEmpty()) {
        const QString name = room.name;
        m_server.rooms().remove(name);
    }
}

void RoomService::sendToPresent(const Room& room, quint32 code, const WireWriter& body)
{
    for (const QString& user : room.present)
        m_server.sendTo(user, code, body);
}

void RoomService::chat(ClientSession& session, WireReader& in)
{
    const QString name = in.str();
    const QString text = in.str();
    if (!in.ok())
        return;
    const Room* room = m_server.rooms().find(name);
    if (room && room->present.contains(session.user))
        sendToPresent(*room, ChatCode, WireWriter().str(name).str(session.user).str(text));
}

void RoomService::setTicker(ClientSession& session, WireReader& in)
{
    const QString name = in.str();
    const QString text = in.str();
    if (!in.ok())
        return;
    Room* room = m_server.rooms().find(name);
    if (!room || !room->present.contains(session.user))
        return;
    const QString& user = session.user;
    const auto had = room->tickers.removeIf([&](const auto& ticker) { return ticker.first == user; });
    if (text.isEmpty()) {
        if (had)
            sendToPresent(*room, TickerRemovedCode, WireWriter().str(name).str(user));
        return;
    }
    room->tickers.append({ user, text });
    sendToPresent(*room, TickerAddedCode, WireWriter().str(name).str(user).str(text));
}

void RoomService::loggedIn(ClientSession& session, quint32)
{
    sendRoomList(session);
}

void RoomService::sendRoomList(ClientSession& session)
{
    QStringList open, owned, member, operated;
    QList<quint32> openCounts, ownedCounts, memberCounts;
    for (const Room* room : m_server.rooms().all()) {
        const auto users = quint32(room->present.size());
        if (!room->isPrivate) {
            open.append(room->name);
            openCounts.append(users);
        } else if (room->owner == session.user) {
            owned.append(room->name);
            ownedCounts.append(users);
        } else if (room->members.contains(session.user)) {
            member.append(room->name);
            memberCounts.append(users);
            if (room->operators.contains(session.user))
                operated.append(room->name);
        }
    }
    WireWriter out;
    const auto writeCounts = [&out](const QList<quint32>& counts) {
        out.u32(quint32(counts.size()));
        for (quint32 count : counts)
            out.u32(count);
    };
    out.strList(open);
    writeCounts(openCounts);
    out.strList(owned);
    writeCounts(ownedCounts);
    out.strList(member);
    writeCounts(memberCounts);
    out.strList(operated);
    session.send(RoomListCode, out);
}

void RoomService::loggedOut(ClientSession& session, bool)
{
    for (Room* room : m_server.rooms().presentIn(session.user))
        removePresent(*room, session.user, false);
}
