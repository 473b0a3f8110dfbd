#pragma once

#include <QtGlobal>

class ClientSession;
class StandinServer;
class WireReader;

// A group of server codes handled together. The server offers each frame of a
// logged-in client to its services in turn and tells them of logins and logouts.
class Service {
public:
    explicit Service(StandinServer& server)
        : m_server(server)
    {
    }
    virtual ~Service() = default;

    // Returns false when the code is not one of this service's.
    virtual bool handle(ClientSession& session, quint32 code, WireReader& in) = 0;
    // `previousStatus` is the status the name had just before: 0 unless it
    // was logged in elsewhere.
    virtual void loggedIn(ClientSession&, quint32 /*previousStatus*/) { }
    // `replaced` is true when the same name has just logged in elsewhere.
    virtual void loggedOut(ClientSession&, bool /*replaced*/) { }

protected:
    StandinServer& m_server;
};
