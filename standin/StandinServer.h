#pragma once

#include "AccountBook.h"
#include "RoomRegistry.h"
#include "StandinOptions.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTcpServer>

#include <memory>
#include <vector>

class ClientSession;
class Service;
class RoomService;
class WireReader;
class WireWriter;

// The stand-in central server: accepts clients on loopback, handles login and
// logout itself and passes every other frame to its services.
class StandinServer : public QObject {
    Q_OBJECT
public:
    explicit StandinServer(const StandinOptions& options, QObject* parent = nullptr);
    ~StandinServer() override;

    bool listen();
    quint16 port() const { return m_tcp.serverPort(); }
    QString errorString() const { return m_tcp.errorString(); }

    const StandinOptions& options() const { return m_options; }
    AccountBook& accounts() { return m_accounts; }
    RoomRegistry& rooms() { return m_rooms; }
    RoomService& roomService() { return *m_roomService; }

    ClientSession* online(const QString& user) const { return m_online.value(user); }
    QList<ClientSession*> onlineSessions() const;
    // 0 offline, 1 away, 2 online.
    quint32 statusOf(const QString& user) const;
    // The user-stats record: average speed, upload count, files, folders.
    void writeStats(WireWriter& out, const QString& user) const;
    // Sends code 7 to every client watching the user.
    void notifyWatchers(const QString& user);
    // Sends the message when the user is logged in; does nothing otherwise.
    void sendTo(const QString& user, quint32 code, const WireWriter& body);

private:
    void onNewConnection();
    void onFrame(ClientSession* session, quint32 code, const QByteArray& body);
    void onClosed(ClientSession* session);
    void handleLogin(ClientSession& session, WireReader& in);
    void refuseLogin(ClientSession& session, const QString& reason);

    StandinOptions m_options;
    QTcpServer m_tcp;
    AccountBook m_accounts;
    RoomRegistry m_rooms;
    QSet<ClientSession*> m_sessions;
    QHash<QString, ClientSession*> m_online;
    std::vector<std::unique_ptr<Service>> m_services;
    RoomService* m_roomService = nullptr;
};
