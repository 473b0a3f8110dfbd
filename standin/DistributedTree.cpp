#include "DistributedTree.h"

#include "ClientSession.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

bool DistributedTree::handle(ClientSession& session, quint32 code, WireReader& in)
{
    ClientSession::TreeState& tree = session.tree;
    switch (code) {
    case 71: {
        const bool haveNoParent = in.boolean();
        if (!in.ok())
            return true;
        tree.haveNoParent = haveNoParent;
        if (haveNoParent)
            sendPossibleParents(session);
        return true;
    }
    case 100: {
        const bool accept = in.boolean();
        if (in.ok())
            tree.acceptChildren = accept;
        return true;
    }
    case 126: {
        const quint32 level = in.u32();
        if (in.ok())
            tree.level = level;
        return true;
    }
    case 127: {
        const QString root = in.str();
        if (in.ok())
            tree.root = root;
        return true;
    }
    case 129: {
        const quint32 depth = in.u32();
        if (in.ok())
            tree.childDepth = depth;
        return true;
    }
    default:
        return false;
    }
}

void DistributedTree::sendPossibleParents(ClientSession& session)
{
    const QList<ClientSession*> parents = possibleParents(session);
    WireWriter out;
    out.u32(quint32(parents.size()));
    for (const ClientSession* parent : parents)
        out.str(parent->user).ip(parent->address()).u32(parent->listenPort);
    session.send(102, out);
}

QList<ClientSession*> DistributedTree::possibleParents(const ClientSession& session) const
{
    QList<ClientSession*> parents;
    for (ClientSession* other : m_server.onlineSessions()) {
        if (parents.size() >= MaxPossibleParents)
            break;
        const ClientSession::TreeState& tree = other->tree;
        if (other == &session || !tree.acceptChildren || other->listenPort == 0)
            continue;
        // Connected to the tree: it has a parent, or it is the root of its own branch.
        if (tree.haveNoParent && tree.level != 0)
            continue;
        // Someone below the asking user would make a loop.
        if (tree.root == session.user)
            continue;
        parents.append(other);
    }
    return parents;
}
