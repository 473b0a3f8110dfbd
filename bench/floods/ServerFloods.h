// Rows of the floods benchmark where the server's socket itself brings the
// flood: a server played by a thread of this program, on the stand-in's port
// (the stand-in is stopped for these rows, so they run last), that the window
// logs in to. The server's thread starts, and what it sends is made, before
// the row's clock; the row's feed has it listen and the window connect. See
// bench_floods.cpp for what each row sends.
#pragma once
#include "../ProcessMemory.h"
#include "FloodRun.h"
#include "pages/chat/AdminMessageDialog.h"
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QThread>
#include <memory>
#include <sys/socket.h>

namespace {

// Once told to go, listens on the port, has the window connect, takes its
// connection, answers its login, then runs the script on it, then closes
// it and waits for the client to close too. Blocking calls on a thread of its
// own: what it sends costs the window's thread nothing.
class PlayedServer : public QThread {
public:
    PlayedServer(quint16 port, std::function<void(QTcpSocket&)> script)
        : m_port(port)
        , m_script(std::move(script))
    {
    }
    ~PlayedServer() override
    {
        Go();
        wait();
    }
    void Go() { m_go.release(); }

protected:
    void run() override
    {
        // Not listening before: the window, left by the server before, could
        // come on its own and be taken in place of the connection asked for.
        m_go.acquire();
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, m_port)) {
            std::fprintf(stderr, "bench_floods: port %u is taken\n", m_port);
            return;
        }
        QMetaObject::invokeMethod(
            qApp, [] { gp_server->Connect(); }, Qt::QueuedConnection);
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
    QSemaphore m_go;
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

// The played server of the row running.
inline std::unique_ptr<PlayedServer>& Played()
{
    static std::unique_ptr<PlayedServer> played;
    return played;
}

// Starts a played server that runs the script once the window has logged in
// to it (before a row's clock: the benchmark's own set-up); the stand-in
// stopped first.
inline void StagePlay(FloodRun& run, std::function<void(QTcpSocket&)> script)
{
    run.Session().StopServer();
    Played().reset(); // the row before's server has ended
    Played() = std::make_unique<PlayedServer>(gp_server->Port(), std::move(script));
    Played()->start();
}

// The window connects to the staged server: the row's input begins.
inline void Play()
{
    Played()->Go();
}

inline void AddServerFloodsRows(FloodRun& run)
{
    const QString lastWord = QStringLiteral("Closing behind a backlog");
    if (run.Wants(QStringLiteral("server_close_behind_backlog"))) {
        QStringList users;
        for (int i = 0; i < 20000; ++i)
            users << QStringLiteral("crowd%1").arg(i);
        const QByteArray sent
            = ServerFrame(SM_JOIN_ROOM, JoinAnswer(QStringLiteral("backlog"), users)) + AdminFrame(lastWord);
        run.Add(
            QStringLiteral("server_close_behind_backlog"), [] { Play(); },
            [=, &run] {
                return AdminMessageShown(run.Window(), lastWord) && gp_server->IsAbruptlyDisconnected();
            },
            120000, [=, &run] { StagePlay(run, [sent](QTcpSocket& link) { link.write(sent); }); });
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
    const QByteArray over = AdminFrame(floodOver);
    run.Add(
        QStringLiteral("server_flood"),
        [=] {
            memory->start = StatusMiB("VmRSS:");
            memory->measured = RestartPeakResident();
            Play();
        },
        [=, &run] {
            if (!AdminMessageShown(run.Window(), floodOver))
                return false;
            if (memory->measured)
                memory->peak = StatusMiB("VmHWM:") - memory->start;
            return true;
        },
        120000,
        [=, &run] {
            StagePlay(run, [=](QTcpSocket& link) {
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() < 3000 && link.state() == QAbstractSocket::ConnectedState) {
                    while (link.bytesToWrite() < 256 * 1024)
                        link.write(searches);
                    link.waitForBytesWritten(100);
                }
                link.write(over);
            });
        });
    run.AddFigure(
        QStringLiteral("server_flood_peak_memory"), [memory] { return memory->peak; }, "MiB");
}

} // namespace
