// link: peers
// Peer network figures on loopback: messages per second over one messaging
// ("P") connection, both ways, and the time to accept and greet 1,000
// connections (accept, read the peer init, handle a first message).
// Usage: bench_peers [messages]   (default 200000)
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Settings.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtEndian>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

void Print(const char* name, double value, const char* unit)
{
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

QByteArray Framed(const QByteArray& body)
{
    QByteArray b(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(body.size()), b.data());
    return b + body;
}

QByteArray InitFrame(const QString& user)
{
    MemStream m;
    m.WriteUInt8(PI_PEER_INIT);
    m.WriteString(user);
    m.WriteString(QStringLiteral("P"));
    m.WriteUInt32(0);
    return Framed(m.GetBuffer());
}

template <class Done> bool RunUntil(Done done, int ms = 120000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 200000;
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    Settings::CreateTypes();
    new Server(&app);
    gp_server->CreateData();
    settings.Set("username", "bench");
    settings.Set("listening_port", "0");
    settings.Set("obfuscated_listening_port", "0");
    auto* pm = new PeerMessenger(&app);
    if (!pm->Listen())
        return 1;
    int received = 0;
    QObject::connect(pm, &PeerMessenger::UserInfoRequested, [&received](QString) { ++received; });

    // Receiving: one peer sends a burst of user-information requests.
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, pm->ListeningPort());
    if (!sender.waitForConnected(5000))
        return 1;
    QByteArray burst = InitFrame(QStringLiteral("sender"));
    const QByteArray one = Framed(EncodeCodeOnly(PM_USER_INFO_REQUEST).GetBuffer());
    burst.reserve(burst.size() + one.size() * messages);
    for (int i = 0; i < messages; ++i)
        burst += one;
    QElapsedTimer timer;
    timer.start();
    sender.write(burst);
    if (!RunUntil([&] { return received >= messages; }))
        return 1;
    Print("peers.p_messages_received", messages / (timer.nsecsElapsed() / 1e9), "msg/s");

    // Sending: the messenger sends to the same peer, which reads the bytes.
    const qint64 expected = qint64(messages) * one.size();
    qint64 got = 0;
    QObject::connect(&sender, &QTcpSocket::readyRead, [&] { got += sender.readAll().size(); });
    MemStream request = EncodeCodeOnly(PM_USER_INFO_REQUEST);
    timer.restart();
    for (int i = 0; i < messages; ++i)
        pm->SendMessage(QStringLiteral("sender"), request);
    if (!RunUntil([&] { return got >= expected; }))
        return 1;
    Print("peers.p_messages_sent", messages / (timer.nsecsElapsed() / 1e9), "msg/s");

    // Accepting and greeting 1,000 connections that all arrive at once.
    const int total = 1000;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    received = 0;
    timer.restart();
    for (int i = 0; i < total; ++i) {
        auto client = std::make_unique<QTcpSocket>();
        QTcpSocket* raw = client.get();
        const QByteArray hello = InitFrame(QStringLiteral("peer%1").arg(i)) + one;
        QObject::connect(raw, &QTcpSocket::connected, [raw, hello] { raw->write(hello); });
        raw->connectToHost(QHostAddress::LocalHost, pm->ListeningPort());
        clients.push_back(std::move(client));
    }
    if (!RunUntil([&] { return received >= total; }, 60000))
        return 1;
    Print("peers.accept_and_greet_1000", timer.nsecsElapsed() / 1e9, "s");
    return 0;
}
