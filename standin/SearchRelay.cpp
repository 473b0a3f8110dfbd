#include "SearchRelay.h"

#include "ClientSession.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

namespace {

constexpr quint32 FileSearchCode = 26;
constexpr quint32 EmbeddedCode = 93;
constexpr quint8 DistributedSearchCode = 3;
constexpr quint32 DistributedSearchUnknown = 49;

}

bool SearchRelay::handle(ClientSession& session, quint32 code, WireReader& in)
{
    switch (code) {
    case FileSearchCode:
    case 103:
        networkSearch(session, in);
        return true;
    case 42:
        userSearch(session, in);
        return true;
    case 120:
        roomSearch(session, in);
        return true;
    case 153:
        relatedSearches(session, in);
        return true;
    default:
        return false;
    }
}

void SearchRelay::networkSearch(ClientSession& session, WireReader& in)
{
    const quint32 token = in.u32();
    const QString query = in.str();
    if (!in.ok())
        return;
    if (!m_server.options().treeOnly) {
        const WireWriter relayed = WireWriter().str(session.user).u32(token).str(query);
        for (ClientSession* other : m_server.onlineSessions()) {
            if (other != &session)
                other->send(FileSearchCode, relayed);
        }
        return;
    }
    // Through the tree: every branch root that takes children hears the search
    // and passes it down; a root that is the searcher itself still passes it on.
    WireWriter embedded;
    embedded.u8(DistributedSearchCode).u32(DistributedSearchUnknown).str(session.user).u32(token).str(query);
    for (ClientSession* other : m_server.onlineSessions()) {
        if (other->tree.level == 0 && other->tree.acceptChildren)
            other->send(EmbeddedCode, embedded);
    }
}

void SearchRelay::userSearch(ClientSession& session, WireReader& in)
{
    const QString user = in.str();
    const quint32 token = in.u32();
    const QString query = in.str();
    if (in.ok())
        m_server.sendTo(user, FileSearchCode, WireWriter().str(session.user).u32(token).str(query));
}

void SearchRelay::roomSearch(ClientSession& session, WireReader& in)
{
    const QString roomName = in.str();
    const quint32 token = in.u32();
    const QString query = in.str();
    if (!in.ok())
        return;
    const Room* room = m_server.rooms().find(roomName);
    if (!room)
        return;
    const WireWriter relayed = WireWriter().str(session.user).u32(token).str(query);
    for (const QString& user : room->present) {
        if (user != session.user)
            m_server.sendTo(user, FileSearchCode, relayed);
    }
}

void SearchRelay::relatedSearches(ClientSession& session, WireReader& in)
{
    const QString query = in.str();
    if (!in.ok())
        return;
    WireWriter out;
    out.str(query);
    const QString base = query.trimmed();
    if (base.isEmpty()) {
        out.u32(0);
    } else {
        out.u32(2);
        out.str(base + QStringLiteral(" live")).u32(2);
        out.str(base + QStringLiteral(" remix")).u32(1);
    }
    session.send(153, out);
}
