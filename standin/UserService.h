#pragma once

#include "Service.h"

// Status, watching, statistics and privileges of users
// (codes 5, 6, 7, 28, 35, 36, 92, 121, 123).
class UserService : public Service {
public:
    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;
    void loggedIn(ClientSession& session, quint32 previousStatus) override;
    void loggedOut(ClientSession& session, bool replaced) override;

private:
    void watch(ClientSession& session, WireReader& in);
    void setStatus(ClientSession& session, WireReader& in);
    void giftPrivileges(ClientSession& session, WireReader& in);
};
