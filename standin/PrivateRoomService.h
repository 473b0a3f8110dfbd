#pragma once

#include "Service.h"

#include <QString>

struct Room;
class WireWriter;

// Membership and operators of private rooms, and whether a user lets others
// add it to private rooms (codes 134 to 137, 141, 143, 144).
class PrivateRoomService : public Service {
public:
    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;
    // Tells the user the members and operators of each private room it belongs to.
    void loggedIn(ClientSession& session, quint32 previousStatus) override;

private:
    Room* privateRoom(const QString& name);
    void addMember(ClientSession& session, const QString& roomName, const QString& user);
    void removeMember(ClientSession& session, const QString& roomName, const QString& user);
    void giveUpMembership(ClientSession& session, const QString& roomName);
    void giveUpOwnership(ClientSession& session, const QString& roomName);
    void addOperator(ClientSession& session, const QString& roomName, const QString& user);
    void removeOperator(ClientSession& session, const QString& roomName, const QString& user);
    // Takes the user out of the member and operator lists and out of the room.
    void dropMember(Room& room, const QString& user);
    void sendLists(const QString& user, const Room& room);
    void sendToEveryone(const Room& room, quint32 code, const WireWriter& body);
};
