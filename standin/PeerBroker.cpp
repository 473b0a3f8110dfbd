#include "PeerBroker.h"

#include "ClientSession.h"
#include "StandinServer.h"
#include "WireReader.h"
#include "WireWriter.h"

namespace {

constexpr quint32 CannotConnectCode = 1001;
// A port on which nothing listens, for users whose address is to be wrong.
constexpr quint32 DeadPort = 1;

}

bool PeerBroker::handle(ClientSession& session, quint32 code, WireReader& in)
{
    switch (code) {
    case 2:
        setPorts(session, in);
        return true;
    case 3:
        peerAddress(session, in);
        return true;
    case 18:
        connectToPeer(session, in);
        return true;
    case CannotConnectCode:
        cannotConnect(in);
        return true;
    default:
        return false;
    }
}

void PeerBroker::setPorts(ClientSession& session, WireReader& in)
{
    const quint32 port = in.u32();
    if (!in.ok())
        return;
    session.listenPort = port;
    session.obfuscation = false;
    session.obfuscatedPort = 0;
    if (in.atEnd())
        return; // the plain port alone
    const quint32 obfuscation = in.u32();
    const quint32 obfuscatedPort = in.u32();
    if (in.ok() && obfuscatedPort <= 0xffff) {
        session.obfuscation = obfuscation != 0 && obfuscatedPort != 0;
        session.obfuscatedPort = session.obfuscation ? obfuscatedPort : 0;
    }
}

void PeerBroker::peerAddress(ClientSession& session, WireReader& in)
{
    const QString user = in.str();
    if (!in.ok())
        return;
    quint32 address = 0;
    quint32 port = 0;
    bool obfuscation = false;
    quint32 obfuscatedPort = 0;
    if (const ClientSession* peer = m_server.online(user)) {
        address = peer->address();
        port = peer->listenPort;
        obfuscation = peer->obfuscation;
        obfuscatedPort = peer->obfuscatedPort;
        if (m_server.options().wrongPortUsers.contains(user)) {
            port = DeadPort;
            obfuscatedPort = obfuscation ? DeadPort : 0;
        }
    }
    session.send(3,
        WireWriter().str(user).ip(address).u32(port).u32(obfuscation ? 1 : 0).u16(quint16(obfuscatedPort)));
}

void PeerBroker::connectToPeer(ClientSession& session, WireReader& in)
{
    const quint32 token = in.u32();
    const QString user = in.str();
    const QString type = in.str();
    if (!in.ok())
        return;
    ClientSession* peer = m_server.online(user);
    if (!peer) {
        session.send(CannotConnectCode, WireWriter().u32(token));
        return;
    }
    const bool wrong = type == QLatin1String("F") && m_server.options().wrongFilePortUsers.contains(session.user);
    WireWriter out;
    out.str(session.user)
        .str(type)
        .ip(session.address())
        .u32(wrong ? DeadPort : session.listenPort)
        .u32(token)
        .boolean(m_server.accounts().privileged(session.user))
        .u32(session.obfuscation ? 1 : 0)
        .u32(wrong && session.obfuscation ? DeadPort : session.obfuscatedPort);
    peer->send(18, out);
}

void PeerBroker::cannotConnect(WireReader& in)
{
    const quint32 token = in.u32();
    const QString user = in.str();
    if (in.ok())
        m_server.sendTo(user, CannotConnectCode, WireWriter().u32(token));
}
