#pragma once

#include "Service.h"

#include <QString>

struct Room;
class WireWriter;

// Joining, leaving and talking in rooms, tickers and the room list
// (codes 13, 14, 15, 64, 116).
class RoomService : public Service {
public:
    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;
    // A client hears the room list right after its login, unasked.
    void loggedIn(ClientSession& session, quint32 previousStatus) override;
    void loggedOut(ClientSession& session, bool replaced) override;

    // Takes the user out of the room: the others present are told (17), the
    // user too (15) when `tellUser`. An emptied public room goes away, so the
    // room must not be used afterwards.
    void removePresent(Room& room, const QString& user, bool tellUser);
    void sendToPresent(const Room& room, quint32 code, const WireWriter& body);

private:
    void join(ClientSession& session, WireReader& in);
    void leave(ClientSession& session, WireReader& in);
    void chat(ClientSession& session, WireReader& in);
    void setTicker(ClientSession& session, WireReader& in);
    void sendRoomList(ClientSession& session);
    void sendJoinAnswer(ClientSession& session, const Room& room);
    void writeUserEntry(WireWriter& out, const QString& user) const;
};
