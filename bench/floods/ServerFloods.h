// Rows of the floods benchmark where the server's socket itself brings the
// flood: a server played by a thread of this program, on the stand-in's port
// (the stand-in is stopped for these rows, so they run last), that the window
// logs in to. See bench_floods.cpp for what each row sends.
#pragma once
#include "../ProcessMemory.h"
#include "FloodRun.h"
#include "pages/chat/AdminMessageDialog.h"
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QThread>
#include <memory>
#include <sys/socket.h>

namespace {

// Takes one connection on the port, answers its login, then runs the script
// on it, then closes it and waits for the client to close too. Blocking calls
// on a thread of its own: what it sends costs the window's thread nothing.
class PlayedServer : public QThread {
public:
    PlayedServer(quint16 port, std::function<void(QTcpSocket&)> script)
        : m_port(port)
        , m_script(std::move(script))
    {
    }
    ~PlayedServer() override { wait(); }

protected:
    void run() override
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, m_port)) {
            std::fprintf(stderr, "bench_floods: port %u is taken\n", m_port);
            return;
        }
        QMetaObject::invokeMethod(qApp, [] { gp_server->Connect(); }, Qt::QueuedConnection);
        if (!server.waitForNewConnection(30000))
            return;
        QTcpSocket* link = server.nextPendingConnection();
        // The login frame, whatever it holds.
        while (link->bytesAvailable() < 4 && link->waitForReadyRead(30000)) { }
        if (link->bytesAvailable() < 4)
            return;
        const quint32 length = qFromLittleEndian<quint32>(link->peek(4).constData());
        while (link->bytesAvailable() < 4 + length && link->waitForReadyRead(30000)) { }
        MemStream welcome;
        welcome.WriteBool(true);
        welcome.WriteString(QStringLiteral("flooding"));
        welcome.WriteUInt32(0x7F000001);
        welcome.WriteString(QString());
        welcome.WriteBool(false);
        link->write(ServerFrame(SM_LOGIN, welcome));
        m_script(*link);
        // A close after the last byte, as a server shuts a connection down:
        // closed at once with the client's bytes unread, it would be reset,
        // and what the client had not received yet lost.
        while (link->bytesToWrite() > 0 && link->waitForBytesWritten(60000)) { }
        ::shutdown(int(link->socketDescriptor()), SHUT_WR);
        while (link->waitForReadyRead(60000))
            link->readAll();
    }

private:
    quint16 m_port;
    std::function<void(QTcpSocket&)> m_script;
};

inline QByteArray AdminFrame(const QString& text)
{
    MemStream m;
    m.WriteString(text);
    return ServerFrame(SM_ADMIN_MESSAGE, m);
}

inline bool AdminMessageShown(QWidget* window, const QString& text)
{
    // Looked for among the window's own children only: a search of all its
    // widgets, many times a second, would cost the window more than the row.
    // The window holds the messages one after another, the newest last.
    for (auto* box : window->findChildren<AdminMessageDialog*>(Qt::FindDirectChildrenOnly))
        if (box->isVisible() && box->textEdit->toPlainText().split(QLatin1Char('\n')).last() == text)
            return true;
    return false;
}

// Plays a server that runs the script once the window has logged in to it.
inline void Play(std::function<void(QTcpSocket&)> script)
{
    static std::unique_ptr<PlayedServer> played;
    played.reset(); // the row before's server has ended
    played = std::make_unique<PlayedServer>(gp_server->Port(), std::move(script));
    played->start();
}

inline void AddServerFloodsRows(FloodRun& run)
{
    const auto play = Play;
    const auto stopStandin = [&run] { run.Session().StopServer(); };

    const QString lastWord = QStringLiteral("Closing behind a backlog");
    if (run.Wants(QStringLiteral("server_close_behind_backlog"))) {
        QStringList users;
        for (int i = 0; i < 20000; ++i)
            users << QStringLiteral("crowd%1").arg(i);
        const QByteArray sent = ServerFrame(SM_JOIN_ROOM, JoinAnswer(QStringLiteral("backlog"), users))
            + AdminFrame(lastWord);
        run.Add(
            QStringLiteral("server_close_behind_backlog"),
            [=] { play([sent](QTcpSocket& link) { link.write(sent); }); },
            [=, &run] { return AdminMessageShown(run.Window(), lastWord) && gp_server->IsAbruptlyDisconnected(); },
            120000, stopStandin);
    }

    // Relayed searches for three seconds, as fast as the window takes them.
    const QString floodOver = QStringLiteral("The flood is over");
    // The most the process grew meanwhile (-1 where the peak cannot be reset).
    struct Memory {
        double start = 0;
        bool measured = false;
        double peak = -1;
    };
    auto memory = std::make_shared<Memory>();
    QByteArray searches;
    for (quint32 i = 0; searches.size() < 64 * 1024; ++i) {
        MemStream m;
        m.WriteString(QStringLiteral("flooder"));
        m.WriteUInt32(i);
        m.WriteString(QStringLiteral("relayed search number %1").arg(i));
        searches += ServerFrame(SM_FILE_SEARCH, m);
    }
    run.Add(
        QStringLiteral("server_flood"),
        [=] {
            memory->start = StatusMiB("VmRSS:");
            memory->measured = RestartPeakResident();
            play([=](QTcpSocket& link) {
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() < 3000 && link.state() == QAbstractSocket::ConnectedState) {
                    while (link.bytesToWrite() < 256 * 1024)
                        link.write(searches);
                    link.waitForBytesWritten(100);
                }
                link.write(AdminFrame(floodOver));
            });
        },
        [=, &run] {
            if (!AdminMessageShown(run.Window(), floodOver))
                return false;
            if (memory->measured)
                memory->peak = StatusMiB("VmHWM:") - memory->start;
            return true;
        },
        120000, stopStandin);
    run.AddFigure(QStringLiteral("server_flood_peak_memory"), [memory] { return memory->peak; }, "MiB");
}

} // namespace
