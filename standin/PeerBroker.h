#pragma once

#include "Service.h"

// Listening ports, peer addresses and brokered connections
// (codes 2, 3, 18, 1001).
class PeerBroker : public Service {
public:
    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;

private:
    void setPorts(ClientSession& session, WireReader& in);
    void peerAddress(ClientSession& session, WireReader& in);
    void connectToPeer(ClientSession& session, WireReader& in);
    void cannotConnect(WireReader& in);
};
