#include "StandinServer.h"

#include "ClientSession.h"
#include "DistributedTree.h"
#include "PeerBroker.h"
#include "PrivateMessaging.h"
#include "PrivateRoomService.h"
#include "RoomService.h"
#include "SearchRelay.h"
#include "UserService.h"
#include "WireReader.h"
#include "WireWriter.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QTcpSocket>

namespace {

constexpr quint32 LoginCode = 1;
constexpr quint32 RelogCode = 41;
constexpr quint32 PingCode = 32;
constexpr quint32 AdminMessageCode = 66;
constexpr quint32 PrivilegedUsersCode = 69;
constexpr quint32 WishListPeriodCode = 104;
constexpr quint32 ProtocolVersion = 157;
constexpr qint64 StartPrivilegeSeconds = 30 * 24 * 3600;

}

StandinServer::StandinServer(const StandinOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{
    for (const QString& user : m_options.privilegedUsers)
        m_accounts.addPrivileges(user, StartPrivilegeSeconds);

    auto rooms = std::make_unique<RoomService>(*this);
    m_roomService = rooms.get();
    m_services.push_back(std::make_unique<UserService>(*this));
    m_services.push_back(std::make_unique<PeerBroker>(*this));
    m_services.push_back(std::make_unique<PrivateMessaging>(*this));
    m_services.push_back(std::make_unique<SearchRelay>(*this));
    m_services.push_back(std::make_unique<DistributedTree>(*this));
    m_services.push_back(std::move(rooms));
    m_services.push_back(std::make_unique<PrivateRoomService>(*this));

    connect(&m_tcp, &QTcpServer::newConnection, this, &StandinServer::onNewConnection);
}

StandinServer::~StandinServer()
{
    // Sessions go with this object; their last signals must not reach it.
    for (ClientSession* session : std::as_const(m_sessions))
        disconnect(session, nullptr, this, nullptr);
}

bool StandinServer::listen()
{
    return m_tcp.listen(QHostAddress::LocalHost, m_options.port);
}

QList<ClientSession*> StandinServer::onlineSessions() const
{
    return m_online.values();
}

quint32 StandinServer::statusOf(const QString& user) const
{
    const ClientSession* session = online(user);
    return session ? session->status : 0;
}

void StandinServer::writeStats(WireWriter& out, const QString& user) const
{
    Account none;
    const Account* account = m_accounts.find(user);
    if (!account)
        account = &none;
    out.stats(account->averageSpeed, account->uploads, account->files, account->folders);
}

void StandinServer::notifyWatchers(const QString& user)
{
    WireWriter out;
    out.str(user).u32(statusOf(user)).boolean(m_accounts.privileged(user));
    for (ClientSession* watcher : std::as_const(m_online)) {
        if (watcher->watched.contains(user))
            watcher->send(7, out);
    }
}

void StandinServer::sendTo(const QString& user, quint32 code, const WireWriter& body)
{
    if (ClientSession* session = online(user))
        session->send(code, body);
}

void StandinServer::onNewConnection()
{
    while (QTcpSocket* socket = m_tcp.nextPendingConnection()) {
        auto* session = new ClientSession(socket, this);
        m_sessions.insert(session);
        connect(session, &ClientSession::frameReceived, this, &StandinServer::onFrame);
        connect(session, &ClientSession::closed, this, &StandinServer::onClosed);
    }
}

void StandinServer::onFrame(ClientSession* session, quint32 code, const QByteArray& body)
{
    WireReader in(body);
    if (!session->loggedIn()) {
        if (code == LoginCode)
            handleLogin(*session, in);
        return;
    }
    if (code == LoginCode || code == PingCode)
        return;
    for (const auto& service : m_services) {
        if (service->handle(*session, code, in))
            return;
    }
    // Unknown codes are skipped.
}

void StandinServer::handleLogin(ClientSession& session, WireReader& in)
{
    const QString user = in.str();
    const QString password = in.str();
    const quint32 version = in.u32();
    in.str(); // hash of name and password
    in.u32(); // minor version
    if (!in.ok())
        return;
    if (version != ProtocolVersion)
        return refuseLogin(session, QStringLiteral("INVALIDVERSION"));
    if (user.isEmpty())
        return refuseLogin(session, QStringLiteral("INVALIDUSERNAME"));
    if (m_accounts.checkLogin(user, password) == AccountBook::LoginCheck::WrongPassword)
        return refuseLogin(session, QStringLiteral("INVALIDPASS"));

    session.user = user;
    ClientSession* previous = m_online.value(user);
    const quint32 previousStatus = previous ? previous->status : 0;
    m_online.insert(user, &session);
    if (previous) {
        for (const auto& service : m_services)
            service->loggedOut(*previous, true);
        previous->send(RelogCode);
        previous->user.clear();
        previous->close();
    }

    const QByteArray digest = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex();
    WireWriter answer;
    answer.boolean(true)
        .str(QStringLiteral("Welcome to the Marrowby stand-in server."))
        .ip(session.address())
        .str(QString::fromLatin1(digest))
        .boolean(m_accounts.privileged(user));
    session.send(LoginCode, answer);
    session.send(WishListPeriodCode, WireWriter().u32(m_options.wishlistPeriod));
    session.send(PrivilegedUsersCode, WireWriter().strList(m_accounts.privilegedUsers()));
    if (!m_options.motd.isEmpty())
        session.send(AdminMessageCode, WireWriter().str(m_options.motd));
    for (const auto& service : m_services)
        service->loggedIn(session, previousStatus);
}

void StandinServer::refuseLogin(ClientSession& session, const QString& reason)
{
    session.send(LoginCode, WireWriter().boolean(false).str(reason));
    session.close();
}

void StandinServer::onClosed(ClientSession* session)
{
    m_sessions.remove(session);
    if (session->loggedIn() && m_online.value(session->user) == session) {
        m_online.remove(session->user);
        for (const auto& service : m_services)
            service->loggedOut(*session, false);
    }
    session->deleteLater();
}
