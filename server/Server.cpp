#include "Server.h"
#include "PortForwarder.h"
#include "ServerFrameReader.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>
#include <QtEndian>
#include <poll.h>

Server* gp_server = nullptr;

namespace {

const QString kArea = QStringLiteral("Server");

// Used when the settings hold no user name or no password at login.
const char* const kDefaultUsername = "marrowby_user";
const char* const kDefaultPassword = "marrowby";

constexpr quint16 kDefaultServerPort = 2242;

// "host:port"; the port is kept when the text has none or a bad one.
void ParseAddress(const QString& text, QString& host, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        if (!text.isEmpty())
            host = text;
        return;
    }
    if (colon > 0)
        host = text.left(colon);
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (ok && p > 0 && p <= 65535)
        port = quint16(p);
}

} // namespace

Server::Server(QObject* parent)
    : QObject(parent)
{
    gp_server = this;
    qRegisterMetaType<UserStats>("UserStats");
    qRegisterMetaType<PossibleParent>("PossibleParent");
    qRegisterMetaType<QList<PossibleParent>>("QList<PossibleParent>");
    qRegisterMetaType<time_t>("time_t");

    m_port = kDefaultServerPort;
    ParseAddress(QStringLiteral(MARROWBY_DEFAULT_SERVER), m_host, m_port);
    const QString env = qEnvironmentVariable("MARROWBY_SERVER");
    if (!env.isEmpty())
        ParseAddress(env, m_host, m_port);

    // A token counter that starts anywhere, so that answers to an earlier
    // run's searches are not taken for this run's.
    m_nextToken = QRandomGenerator::global()->bounded(1u, 0x40000000u);

    m_loginDeadline = new QTimer(this);
    m_loginDeadline->setSingleShot(true);
    m_loginDeadline->setInterval(kLoginDeadlineMs);
    connect(m_loginDeadline, &QTimer::timeout, this, [this] {
        OnLost(QStringLiteral("No answer to the login within %1 seconds")
                   .arg(m_loginDeadline->interval() / 1000.0));
    });

    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(kSocketBufferBytes);
    connect(m_socket, &QTcpSocket::connected, this, &Server::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Server::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &Server::OnSocketDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketError);

    if (timerManager) {
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &Server::OnReconnectTimer);
        connect(timerManager->FiveMinuteTimer(), &QTimer::timeout, this, &Server::EveryFiveMinutes);
        connect(timerManager->HourTimer(), &QTimer::timeout, this, &Server::OnPortMappingTimer);
    }

    new PortForwarder(this); // sets portForwarder
}

Server::~Server()
{
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    if (gp_server == this)
        gp_server = nullptr;
}

quint32 Server::NextToken()
{
    const quint32 token = m_nextToken++;
    if (m_nextToken == 0)
        m_nextToken = 1;
    return token;
}

void Server::Connect()
{
    if (settings.GetStd("username").empty()) {
        Log(kArea, 1, QStringLiteral("No user name is set; not connecting."));
        return;
    }
    if (m_loggedIn)
        return;
    FinishClearing();
    {
        // A new attempt replaces one under way.
        const QSignalBlocker blocker(m_socket);
        m_socket->abort();
    }
    ++m_session;
    m_active = true;
    m_loginPending = false;
    m_foundNoServer = false;
    m_loggedInElsewhere = false;
    DropIncoming();
    emit Connecting();
    Log(kArea, 1, QStringLiteral("Connecting to %1:%2").arg(m_host).arg(m_port));
    m_loginDeadline->start();
    m_socket->connectToHost(m_host, m_port);
}

void Server::SetLoginDeadline(int milliseconds)
{
    m_loginDeadline->setInterval(milliseconds);
}

void Server::Disconnect()
{
    const bool active = m_active || m_abrupt;
    CloseConnection(false);
    if (active) {
        Log(kArea, 1, QStringLiteral("Disconnected."));
        emit Disconnected();
    }
}

void Server::CloseConnection(bool abrupt)
{
    ++m_session;
    const bool wasLoggedIn = m_loggedIn;
    m_active = false;
    m_loggedIn = false;
    m_loginPending = false;
    m_abrupt = abrupt;
    m_loginDeadline->stop();
    DropIncoming();
    {
        const QSignalBlocker blocker(m_socket);
        m_socket->abort();
    }
    // What was asked and not answered is forgotten. Tens of thousands of
    // names take tens of milliseconds to free: a pool thread frees them, and
    // the asks of the next session go into sets of their own.
    if (!m_statusAsked.isEmpty() || !m_statsAsked.isEmpty())
        QThreadPool::globalInstance()->start(
            [status = std::exchange(m_statusAsked, {}), stats = std::exchange(m_statsAsked, {})] {});
    m_loginWatches.Stop();
    if (wasLoggedIn)
        StartClearing();
}

void Server::OnConnected()
{
    // Either setting missing: the built-in value stands in for it and is kept,
    // so that the next login uses the same pair.
    if (!settings.Has("username") || settings.GetStd("username").empty())
        settings.Set("username", kDefaultUsername);
    if (!settings.Has("password"))
        settings.Set("password", kDefaultPassword);
    const std::string user = settings.GetStd("username");
    const std::string password = settings.GetStd("password");
    const QByteArray hash
        = QCryptographicHash::hash(QByteArray::fromStdString(user + password), QCryptographicHash::Md5)
              .toHex();

    MemStream login;
    login.WriteString(user);
    login.WriteString(password);
    login.WriteUInt32(kServerProtocolVersion);
    login.WriteString(hash.toStdString());
    login.WriteUInt32(kServerMinorVersion);
    m_loginUser = ToQString(user);
    m_loginPending = true;
    SendAlways(SM_LOGIN, login);
    Log(kArea, 1, QStringLiteral("Logging in as %1").arg(m_loginUser));
}

void Server::AfterLogin()
{
    m_loggedIn = true;
    m_loginPending = false;
    m_abrupt = false;
    m_loginDeadline->stop();
    settings.Set("accept_room_list", "yes");

    // The server learns the ports, the status and the share counts first, then
    // that the client looks for a parent in the search tree as its own root.
    SendListeningPorts();
    MemStream status;
    status.WriteInt32(settings.Get("availability_status") == QLatin1String("away") ? 1 : 2);
    Send(SM_SET_STATUS, status);
    SendFilesFolders(int(m_sharedFolders), int(m_sharedFiles));
    HaveNoParent(true);
    SetBranchRoot(m_loginUser);
    SetBranchLevel(0);
    AcceptChildren(true);
    GetOwnPrivilegesStatus();

    // Every tracked user is watched again; rooms marked for joining at login
    // are entered (rooms still open from before the loss are entered again by
    // their pages).
    TrackUsersAtLogin();
    if (Type* autojoin = d.HasType("room_autojoin")) {
        for (ItemPtr flag : autojoin->GetItems())
            for (ItemPtr room : flag.GetItems("room"))
                if (!room.IsConnected("in_room"))
                    EnterRoom(room.AsString(), false);
    }
    Log(kArea, 1, QStringLiteral("Logged in as %1").arg(m_loginUser));
    emit Connected();
}

void Server::OnReadyRead()
{
    ReadSocket();
    HandleArrived();
}

void Server::HandleArrived()
{
    // Frames waiting already go first, in their turn.
    m_nextTurn.RunOrWake();
}

void Server::ReadSocket()
{
    // Once enough waits, the bytes stay in the socket (which then stops
    // reading, so TCP holds the server back) until turns have handled it.
    constexpr qint64 kChunk = 64 * 1024;
    while (
        m_socket->bytesAvailable() > 0 && (m_inBuffer.size() - m_inPos < kBacklogBytes || !HasWholeFrame())) {
        const QByteArray bytes = m_socket->read(kChunk);
        if (bytes.isEmpty())
            return;
        m_inBuffer.append(bytes);
    }
}

qsizetype Server::Backlog() const
{
    return m_inBuffer.size() - m_inPos + qsizetype(m_socket->bytesAvailable());
}

void Server::ProcessIncoming(const QByteArray& bytes)
{
    m_inBuffer.append(bytes);
    HandleArrived();
}

void Server::FinishIncoming()
{
    while (m_nextTurn.Waiting()) {
        m_nextTurn.Stop();
        ProcessBuffer();
    }
}

void Server::DropIncoming()
{
    m_inBuffer.clear();
    m_inPos = 0;
    m_rest = SlicedWork();
    m_nextTurn.Stop();
    m_closedByServer = false;
    m_closeReason.clear();
}

void Server::ProcessBuffer()
{
    if (m_inTurn)
        return; // from an event loop inside a frame's handling: the turn under way goes on after it
    const QScopedValueRollback inTurn(m_inTurn, true);
    const quint64 session = m_session;
    const QDeadlineTimer until = SlicedWork::Turn();
    int frames = 0;
    bool sliced = false;
    for (;;) {
        if (!m_rest.Done()) {
            sliced = true;
            // Taken out while it runs: a closing connection drops m_rest.
            SlicedWork rest = std::exchange(m_rest, SlicedWork());
            const bool done = rest.Run(until);
            if (session != m_session)
                return;
            if (!done) {
                m_rest = std::move(rest);
                break;
            }
        }
        if (frames == SlicedWork::kFramesPerTurn || (frames > 0 && until.hasExpired()))
            break;
        if (m_inBuffer.size() - m_inPos < 4)
            break;
        const quint32 length = qFromLittleEndian<quint32>(m_inBuffer.constData() + m_inPos);
        if (length > kMaxServerFrame) {
            Log(kArea, 1,
                QStringLiteral("The server sent a frame of %1 bytes; closing the connection.").arg(length));
            DropIncoming();
            OnLost(QStringLiteral("Oversized frame from the server"));
            return;
        }
        if (quint64(m_inBuffer.size() - m_inPos - 4) < length)
            break;
        const qsizetype at = m_inPos + 4; // the frame's code, then its fields
        m_inPos += 4 + qsizetype(length);
        ++frames;
        if (length < 4) {
            Log(kArea, 1, QStringLiteral("Dropped a frame of %1 bytes without a code.").arg(length));
            continue;
        }
        // The fields are copied once: a frame may be megabytes.
        Dispatch(qFromLittleEndian<quint32>(m_inBuffer.constData() + at), m_inBuffer.mid(at + 4, length - 4));
        if (session != m_session)
            return; // the connection closed meanwhile and took its buffer with it
    }
    // The handled frames go once they are half the buffer, so a long burst is
    // not moved down after every turn.
    if (m_inPos == m_inBuffer.size()) {
        m_inBuffer.clear();
        m_inPos = 0;
    } else if (m_inPos > m_inBuffer.size() / 2) {
        m_inBuffer.remove(0, m_inPos);
        m_inPos = 0;
    }
    ReadSocket();
    if (!m_rest.Done() || HasWholeFrame())
        m_nextTurn.Wake();
    else if (m_closedByServer && (frames > 0 || sliced))
        m_nextTurn.Wake(); // the loss (every user then offline) takes a turn of its own
    else if (m_closedByServer)
        OnLost(m_closeReason); // all that came before the close is handled
}

bool Server::Reaches() const
{
    if (!m_loggedIn || m_closedByServer)
        return false;
    // The socket is read no further than the backlog, so its end may wait
    // behind unread bytes; the system knows of it already.
    pollfd socket { int(m_socket->socketDescriptor()), POLLRDHUP, 0 };
    return ::poll(&socket, 1, 0) <= 0 || !(socket.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

bool Server::HasWholeFrame() const
{
    if (m_inBuffer.size() - m_inPos < 4)
        return false;
    const quint32 length = qFromLittleEndian<quint32>(m_inBuffer.constData() + m_inPos);
    // An oversized length is handled (the connection closed) in the next turn.
    return length > kMaxServerFrame || quint64(m_inBuffer.size() - m_inPos - 4) >= length;
}

void Server::OnLost(const QString& reason)
{
    if (!m_active)
        return; // already closed (a socket may report one loss twice)
    if (m_loggedIn) {
        Log(kArea, 1, QStringLiteral("Connection lost: %1").arg(reason));
        CloseConnection(true);
        emit Disconnected();
        return;
    }
    // An attempt failed: a pending reconnection stays pending.
    Log(kArea, 1, QStringLiteral("Connection attempt failed: %1").arg(reason));
    CloseConnection(m_abrupt);
    emit ConnectionFailed(reason);
}

void Server::OnClosedByServer(const QString& reason)
{
    if (!m_active || m_closedByServer)
        return; // closed already, or reported twice
    // The bytes left in the socket stay readable; ProcessBuffer counts the
    // loss when it has handled them.
    m_closedByServer = true;
    m_closeReason = reason;
    ReadSocket();
    HandleArrived();
}

void Server::OnSocketDisconnected()
{
    OnClosedByServer(m_socket->errorString());
}

void Server::OnSocketError()
{
    // An established connection that closes is reported by disconnected()
    // too; one that breaks may be reported here alone. A failed connect ends
    // here.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        return;
    if (m_loggedIn || m_loginPending)
        return OnClosedByServer(m_socket->errorString());
    m_foundNoServer = m_socket->error() == QAbstractSocket::HostNotFoundError
        || m_socket->error() == QAbstractSocket::ConnectionRefusedError;
    OnLost(m_socket->errorString());
}

bool Server::SendAlways(quint32 code, const MemStream& fields)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    const QByteArray body = fields.GetBuffer();
    MemStream frame;
    frame.WriteUInt32(quint32(body.size() + 4));
    frame.WriteUInt32(code);
    frame.WriteBuffer(body.constData(), body.size());
    return m_socket->write(frame.GetBuffer()) >= 0;
}

bool Server::Send(quint32 code, const MemStream& fields)
{
    if (!m_loggedIn)
        return false; // requests while not logged in are dropped
    return SendAlways(code, fields);
}

void Server::OnReconnectTimer()
{
    if (m_abrupt && !m_loggedIn && !m_active && m_socket->state() == QAbstractSocket::UnconnectedState)
        Connect();
}

void Server::EveryFiveMinutes()
{
    if (m_loggedIn)
        Send(SM_PING, MemStream());
}

void Server::OnPortMappingTimer()
{
    // The forwarder does nothing while "use_upnp" is not "yes".
    if (portForwarder)
        portForwarder->OnHourTimer();
}

void Server::DataLoaded()
{
    // The loaded settings are in place now: UPnP is on unless the user
    // switched it off, and the ports are mapped while it is on.
    settings.SetDefault("use_upnp", "yes");
    if (portForwarder)
        portForwarder->Init();
}
