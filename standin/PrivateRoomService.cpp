#include "PrivateRoomService.h"

#include "ClientSession.h"
#include "RoomService.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

namespace {

constexpr quint32 MembersCode = 133;
constexpr quint32 AddMemberCode = 134;
constexpr quint32 RemoveMemberCode = 135;
constexpr quint32 GiveUpMembershipCode = 136;
constexpr quint32 GiveUpOwnershipCode = 137;
constexpr quint32 AddedCode = 139;
constexpr quint32 RemovedCode = 140;
constexpr quint32 InvitationsCode = 141;
constexpr quint32 AddOperatorCode = 143;
constexpr quint32 RemoveOperatorCode = 144;
constexpr quint32 MadeOperatorCode = 145;
constexpr quint32 OperatorshipRemovedCode = 146;
constexpr quint32 OperatorsCode = 148;

}

bool PrivateRoomService::handle(ClientSession& session, quint32 code, WireReader& in)
{
    switch (code) {
    case AddMemberCode:
    case RemoveMemberCode:
    case AddOperatorCode:
    case RemoveOperatorCode: {
        const QString room = in.str();
        const QString user = in.str();
        if (!in.ok())
            return true;
        if (code == AddMemberCode)
            addMember(session, room, user);
        else if (code == RemoveMemberCode)
            removeMember(session, room, user);
        else if (code == AddOperatorCode)
            addOperator(session, room, user);
        else
            removeOperator(session, room, user);
        return true;
    }
    case GiveUpMembershipCode:
    case GiveUpOwnershipCode: {
        const QString room = in.str();
        if (!in.ok())
            return true;
        if (code == GiveUpMembershipCode)
            giveUpMembership(session, room);
        else
            giveUpOwnership(session, room);
        return true;
    }
    case InvitationsCode: {
        const bool enable = in.boolean();
        if (!in.ok())
            return true;
        m_server.accounts().ensure(session.user).invitationsEnabled = enable;
        session.send(InvitationsCode, WireWriter().boolean(enable));
        return true;
    }
    default:
        return false;
    }
}

Room* PrivateRoomService::privateRoom(const QString& name)
{
    Room* room = m_server.rooms().find(name);
    return room && room->isPrivate ? room : nullptr;
}

void PrivateRoomService::addMember(ClientSession& session, const QString& roomName, const QString& user)
{
    Room* room = privateRoom(roomName);
    const Account* account = m_server.accounts().find(user);
    if (!room || !room->mayManageMembers(session.user) || room->isMember(user) || !account
        || !account->registered || !account->invitationsEnabled)
        return;
    sendToEveryone(*room, AddMemberCode, WireWriter().str(roomName).str(user));
    room->members.append(user);
    m_server.sendTo(user, AddedCode, WireWriter().str(roomName));
    sendLists(user, *room);
}

void PrivateRoomService::removeMember(ClientSession& session, const QString& roomName, const QString& user)
{
    Room* room = privateRoom(roomName);
    if (!room || !room->members.contains(user))
        return;
    // The owner removes anyone; an operator removes plain members only.
    const bool allowed = room->owner == session.user
        || (room->operators.contains(session.user) && !room->operators.contains(user));
    if (allowed)
        dropMember(*room, user);
}

void PrivateRoomService::giveUpMembership(ClientSession& session, const QString& roomName)
{
    Room* room = privateRoom(roomName);
    if (room && room->members.contains(session.user))
        dropMember(*room, session.user);
}

void PrivateRoomService::dropMember(Room& room, const QString& user)
{
    if (room.operators.removeAll(user) > 0) {
        sendToEveryone(room, RemoveOperatorCode, WireWriter().str(room.name).str(user));
        m_server.sendTo(user, OperatorshipRemovedCode, WireWriter().str(room.name));
    }
    room.members.removeAll(user);
    sendToEveryone(room, RemoveMemberCode, WireWriter().str(room.name).str(user));
    m_server.sendTo(user, RemovedCode, WireWriter().str(room.name));
    if (room.present.contains(user))
        m_server.roomService().removePresent(room, user, true);
}

void PrivateRoomService::giveUpOwnership(ClientSession& session, const QString& roomName)
{
    Room* room = privateRoom(roomName);
    if (!room || room->owner != session.user)
        return;
    // The room dissolves: whoever is in it is sent out, every member loses it.
    const WireWriter name = WireWriter().str(roomName);
    for (const QString& user : std::as_const(room->present))
        m_server.sendTo(user, 15, name);
    sendToEveryone(*room, RemovedCode, name);
    m_server.rooms().remove(roomName);
}

void PrivateRoomService::addOperator(ClientSession& session, const QString& roomName, const QString& user)
{
    Room* room = privateRoom(roomName);
    if (!room || room->owner != session.user || !room->members.contains(user)
        || room->operators.contains(user))
        return;
    room->operators.append(user);
    sendToEveryone(*room, AddOperatorCode, WireWriter().str(roomName).str(user));
    m_server.sendTo(user, MadeOperatorCode, WireWriter().str(roomName));
}

void PrivateRoomService::removeOperator(ClientSession& session, const QString& roomName, const QString& user)
{
    Room* room = privateRoom(roomName);
    if (!room || room->owner != session.user || !room->operators.contains(user))
        return;
    room->operators.removeAll(user);
    sendToEveryone(*room, RemoveOperatorCode, WireWriter().str(roomName).str(user));
    m_server.sendTo(user, OperatorshipRemovedCode, WireWriter().str(roomName));
}

void PrivateRoomService::sendLists(const QString& user, const Room& room)
{
    m_server.sendTo(user, MembersCode, WireWriter().str(room.name).strList(room.members));
    m_server.sendTo(user, OperatorsCode, WireWriter().str(room.name).strList(room.operators));
}

void PrivateRoomService::sendToEveryone(const Room& room, quint32 code, const WireWriter& body)
{
    for (const QString& user : room.everyone())
        m_server.sendTo(user, code, body);
}

void PrivateRoomService::loggedIn(ClientSession& session, quint32)
{
    for (const Room* room : m_server.rooms().all()) {
        if (room->isPrivate && room->isMember(session.user))
            sendLists(session.user, *room);
    }
}
