#include "Application.h"
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <unistd.h>

namespace {

// The per-user place of the lock and the socket; the user's id is in the name
// as well, for the case that the runtime folder is the shared temp folder.
QString InstanceBase(const QString& id)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QLatin1Char('/') + id + QLatin1Char('-') + QString::number(::getuid());
}

} // namespace

Application::Application(int& argc, char** argv, const QString& id)
    : QApplication(argc, argv)
    , m_id(id)
{
    const QString base = InstanceBase(id);
    m_socketPath = base + QStringLiteral(".socket");
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    // A held lock stays valid for as long as its process lives; only a lock
    // whose process is gone counts as stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        Listen();
    } else if (m_lock->error() == QLockFile::LockFailedError) {
        m_running = true;
    } else {
        // The lock cannot be made at all (no writable runtime folder): run
        // rather than refuse to start.
        qWarning("Application: cannot create the instance lock %s", qPrintable(base));
    }

#if QT_CONFIG(sessionmanager)
    connect(this, &QGuiApplication::commitDataRequest, this, &Application::commitData, Qt::DirectConnection);
#endif
}

Application::~Application()
{
    if (m_server)
        m_server->close();
    if (m_lock && m_lock->isLocked())
        m_lock->unlock();
}

void Application::Listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        // A socket file left by a run that died. The lock is ours, so no live
        // instance listens on it.
        QLocalServer::removeServer(m_socketPath);
        if (!m_server->listen(m_socketPath))
            qWarning("Application: cannot listen on %s: %s", qPrintable(m_socketPath),
                qPrintable(m_server->errorString()));
    }
    connect(m_server, &QLocalServer::newConnection, this, &Application::OnNewConnection);
}

void Application::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that never finishes its message is dropped.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() < 4)
                return;
            const quint32 length = qFromLittleEndian<quint32>(buffer->constData());
            if (length > quint32(kMaxMessageBytes)) {
                socket->abort();
                return;
            }
            if (buffer->size() < qsizetype(4 + length))
                return;
            const QString message = QString::fromUtf8(buffer->constData() + 4, length);
            buffer->clear();
            socket->disconnectFromServer();
            emit MessageReceived(message);
        });
    }
}

bool Application::SendMessage(const QString& message, int timeoutMs)
{
    if (!m_running)
        return false;
    QByteArray body = message.toUtf8();
    if (body.size() > kMaxMessageBytes)
        body.truncate(kMaxMessageBytes);

    // The first instance may hold the lock a moment before it listens.
    QElapsedTimer clock;
    clock.start();
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(m_socketPath);
        const int left = std::max(1, timeoutMs - int(clock.elapsed()));
        if (socket.waitForConnected(left))
            break;
        if (clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(50);
    }
    QByteArray frame(4, '\0');
    qToLittleEndian<quint32>(quint32(body.size()), frame.data());
    frame.append(body);
    socket.write(frame);
    while (socket.bytesToWrite() > 0) {
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0 || !socket.waitForBytesWritten(left))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(std::max(1, timeoutMs - int(clock.elapsed())));
    return true;
}

void Application::commitData(QSessionManager&)
{
    if (m_saveHandler)
        m_saveHandler();
}
