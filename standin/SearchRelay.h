#pragma once

#include "Service.h"

#include <QString>

// Passes searches on to the users who should answer them
// (codes 26, 42, 103, 120, 153).
class SearchRelay : public Service {
public:
    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;

private:
    void networkSearch(ClientSession& session, WireReader& in);
    void userSearch(ClientSession& session, WireReader& in);
    void roomSearch(ClientSession& session, WireReader& in);
    void relatedSearches(ClientSession& session, WireReader& in);
};
