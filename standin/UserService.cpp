#include "UserService.h"

#include "ClientSession.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

#include <limits>

namespace {

// A client may watch this many users at once; further requests are still answered.
constexpr int MaxWatched = 100000;

}

bool UserService::handle(ClientSession& session, quint32 code, WireReader& in)
{
    switch (code) {
    case 5:
        watch(session, in);
        return true;
    case 6: {
        const QString user = in.str();
        if (in.ok())
            session.watched.remove(user);
        return true;
    }
    case 7: {
        const QString user = in.str();
        if (in.ok()) {
            session.send(7,
                WireWriter()
                    .str(user)
                    .u32(m_server.statusOf(user))
                    .boolean(m_server.accounts().privileged(user)));
        }
        return true;
    }
    case 28:
        setStatus(session, in);
        return true;
    case 35: {
        const quint32 folders = in.u32();
        const quint32 files = in.u32();
        if (in.ok()) {
            Account& account = m_server.accounts().ensure(session.user);
            account.folders = folders;
            account.files = files;
        }
        return true;
    }
    case 36: {
        const QString user = in.str();
        if (in.ok()) {
            WireWriter out;
            out.str(user);
            m_server.writeStats(out, user);
            session.send(36, out);
        }
        return true;
    }
    case 92: {
        const qint64 seconds = m_server.accounts().privilegeSeconds(session.user);
        session.send(
            92, WireWriter().u32(quint32(qMin<qint64>(seconds, std::numeric_limits<quint32>::max()))));
        return true;
    }
    case 121: {
        const quint32 speed = in.u32();
        if (in.ok())
            m_server.accounts().ensure(session.user).averageSpeed = speed;
        return true;
    }
    case 123:
        giftPrivileges(session, in);
        return true;
    default:
        return false;
    }
}

void UserService::watch(ClientSession& session, WireReader& in)
{
    const QString user = in.str();
    if (!in.ok())
        return;
    const bool exists = m_server.accounts().exists(user);
    if (exists && session.watched.size() < MaxWatched)
        session.watched.insert(user);
    WireWriter out;
    out.str(user).boolean(exists);
    if (exists) {
        const quint32 status = m_server.statusOf(user);
        out.u32(status);
        m_server.writeStats(out, user);
        if (status != 0)
            out.str(QString()); // country code: not known here
    }
    session.send(5, out);
}

void UserService::setStatus(ClientSession& session, WireReader& in)
{
    const qint32 status = in.i32();
    if (!in.ok() || (status != 1 && status != 2) || quint32(status) == session.status)
        return;
    session.status = quint32(status);
    m_server.notifyWatchers(session.user);
}

void UserService::giftPrivileges(ClientSession& session, WireReader& in)
{
    const QString user = in.str();
    const quint32 days = in.u32();
    if (!in.ok())
        return;
    m_server.accounts().giftPrivileges(session.user, user, qint64(days) * 24 * 3600);
}

void UserService::loggedIn(ClientSession& session, quint32 previousStatus)
{
    if (session.status != previousStatus)
        m_server.notifyWatchers(session.user);
}

void UserService::loggedOut(ClientSession& session, bool replaced)
{
    if (!replaced)
        m_server.notifyWatchers(session.user);
}
