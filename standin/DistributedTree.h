#pragma once

#include "Service.h"

#include <QList>

// What clients tell of their place in the distributed search tree, and the
// possible parents offered to those without one (codes 71, 100, 126, 127, 129).
class DistributedTree : public Service {
public:
    static constexpr int MaxPossibleParents = 10;

    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;

private:
    void sendPossibleParents(ClientSession& session);
    QList<ClientSession*> possibleParents(const ClientSession& session) const;
};
