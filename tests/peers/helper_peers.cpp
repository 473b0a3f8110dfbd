#include "helper_peers.h"
#include "helper_wirefixtures.h"
#include "peers/PeerFrameReader.h"
#include "server/Server.h"
#include "store/LogSink.h"
#include "store/MemStream.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QByteArray U32(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(v, b.data());
    return b;
}

QByteArray Framed(const QByteArray& body)
{
    return U32(quint32(body.size())) + body;
}

QByteArray PeerInitBody(const QString& user, const QString& type, quint32 token)
{
    const QByteArray u = user.toUtf8();
    const QByteArray t = type.toUtf8();
    return QByteArray(1, char(1)) + U32(quint32(u.size())) + u + U32(quint32(t.size())) + t + U32(token);
}

QByteArray PierceBody(quint32 token)
{
    return QByteArray(1, char(0)) + U32(token);
}

DeadPort::DeadPort()
{
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0
        || ::listen(m_listener, 0) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&at), &length) != 0)
        return;
    m_port = ntohs(at.sin_port);
    for (int& filler : m_fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
}

DeadPort::~DeadPort()
{
    for (int fd : m_fillers)
        ::close(fd);
    ::close(m_listener);
}

bool LoginRaw(QTcpSocket& socket, quint16 serverPort, const QString& user, quint16 listenPort)
{
    socket.connectToHost(QHostAddress::LocalHost, serverPort);
    if (!socket.waitForConnected(5000))
        return false;
    MemStream login;
    login.WriteUInt32(1);
    login.WriteString(user);
    login.WriteString(QStringLiteral("pw"));
    login.WriteUInt32(157);
    login.WriteString(QString::fromLatin1(
        QCryptographicHash::hash((user + "pw").toUtf8(), QCryptographicHash::Md5).toHex()));
    login.WriteUInt32(100);
    MemStream ports;
    ports.WriteUInt32(2);
    ports.WriteUInt32(listenPort);
    socket.write(Framed(login.GetBuffer()) + Framed(ports.GetBuffer()));
    return socket.waitForBytesWritten(5000);
}

QString BinPath(const QString& name)
{
    return qEnvironmentVariable("MARROWBY_BIN") + QLatin1Char('/') + name;
}

std::unique_ptr<RawPeer> AcceptCandidate(DescriptorServer& server)
{
    if (!QTest::qWaitFor([&] { return !server.accepted.empty(); }, 5000))
        return nullptr;
    auto peer = std::make_unique<RawPeer>();
    if (!peer->Adopt(server.accepted.front()))
        return nullptr;
    server.accepted.erase(server.accepted.begin());
    return peer;
}

PossibleParent Candidate(const QString& user, quint16 port)
{
    PossibleParent p;
    p.user = user;
    p.ip = 0x7f000001;
    p.port = port;
    return p;
}

bool Logged(const QString& area, const QString& part)
{
    const auto lines = LogSink::Instance().AreaLines(area);
    return std::any_of(
        lines.begin(), lines.end(), [&](const LogLine& line) { return line.text.contains(part); });
}

namespace {

// A "VmHWM:" or "VmRSS:" line of the process's status, in KiB; -1 when unknown.
qint64 StatusKiB(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid ? QString::number(pid) : QStringLiteral("self")));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(field);
    const qsizetype from = at + qsizetype(qstrlen(field));
    return at < 0 ? -1
                  : text.mid(from, text.indexOf('\n', at) - from).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

qint64 PeakResidentKiB(qint64 pid)
{
    return StatusKiB(pid, "VmHWM:");
}

qint64 ResidentKiB(qint64 pid)
{
    return StatusKiB(pid, "VmRSS:");
}

void ResetPeakResident(qint64 pid)
{
    QFile refs(
        QStringLiteral("/proc/%1/clear_refs").arg(pid ? QString::number(pid) : QStringLiteral("self")));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

namespace {

// Waits for bytes on the socket while this process's event loop keeps
// running (the messenger under test lives in it too).
bool Pump(QTcpSocket& socket, const QDeadlineTimer& deadline)
{
    while (socket.bytesAvailable() == 0) {
        if (deadline.hasExpired() || socket.state() == QAbstractSocket::UnconnectedState)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        socket.waitForReadyRead(5);
    }
    return true;
}

} // namespace

bool RawPeer::Connect(quint16 port)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return m_socket.waitForConnected(5000);
}

void RawPeer::SendRaw(const QByteArray& bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

void RawPeer::SendFrame(const QByteArray& body)
{
    if (m_obfuscated)
        SendRaw(ObfuscateFrame(Framed(body), NewObfuscationKey()));
    else
        SendRaw(Framed(body));
}

bool RawPeer::ReadFrame(QByteArray& body, int ms)
{
    PeerFrameReader reader(m_obfuscated, 64 * 1024 * 1024);
    QDeadlineTimer deadline(ms);
    qsizetype used = 0;
    for (;;) {
        while (used < m_buffer.size()) {
            const qint64 n = std::min<qint64>(reader.Wanted(), m_buffer.size() - used);
            const auto r = reader.Feed(m_buffer.constData() + used, n);
            used += n;
            if (r == PeerFrameReader::FrameReady) {
                m_buffer.remove(0, used);
                body = reader.TakeFrame();
                return true;
            }
            if (r == PeerFrameReader::TooLong)
                return false;
        }
        // Not complete: start over with more bytes.
        reader = PeerFrameReader(m_obfuscated, 64 * 1024 * 1024);
        used = 0;
        if (deadline.hasExpired())
            return false;
        if (!Pump(m_socket, deadline))
            return false;
        m_buffer.append(m_socket.readAll());
    }
}

bool RawPeer::ReadRaw(QByteArray& bytes, qint64 n, int ms)
{
    QDeadlineTimer deadline(ms);
    while (m_buffer.size() < n) {
        if (deadline.hasExpired())
            return false;
        if (!Pump(m_socket, deadline))
            return false;
        m_buffer.append(m_socket.readAll());
    }
    bytes = m_buffer.left(n);
    m_buffer.remove(0, n);
    return true;
}

bool RawPeer::WaitClosed(int ms)
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return true;
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        m_socket.waitForReadyRead(5);
        m_buffer.append(m_socket.readAll());
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            return true;
    }
    return false;
}

StandinServer::~StandinServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool StandinServer::Start(const QStringList& args)
{
    m_process.start(BinPath(QStringLiteral("marrowby-server")),
        QStringList { QStringLiteral("--port"), QStringLiteral("0") } + args);
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(100) && m_process.state() == QProcess::NotRunning)
            return false;
        out += m_process.readAllStandardOutput();
        const qsizetype at = out.indexOf("listening on ");
        const qsizetype end = out.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_port = quint16(out.mid(at + 13, end - at - 13).trimmed().toUInt());
            return m_port != 0;
        }
    }
    return false;
}

DriverProcess::~DriverProcess()
{
    Stop();
}

void DriverProcess::Stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

bool DriverProcess::Start(const QString& user, quint16 serverPort, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("MARROWBY_SERVER"), QStringLiteral("127.0.0.1:%1").arg(serverPort));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QStringList all { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--obfuscated-port"),
        QStringLiteral("0") };
    if (!user.isEmpty())
        all << QStringLiteral("--user") << user;
    const QString driver = BinPath(QStringLiteral("marrowby-driver"));
    if (m_wrapper.isEmpty())
        m_process.start(driver, all + args);
    else
        m_process.start(m_wrapper.first(), m_wrapper.mid(1) + QStringList { driver } + all + args);
    if (!m_process.waitForStarted(5000))
        return false;
    const QString listening = WaitFor(QStringLiteral("listening "));
    if (listening.isEmpty())
        return false;
    const QStringList words = listening.split(QLatin1Char(' '));
    m_port = quint16(words.value(1).toUInt());
    m_obfuscatedPort = quint16(words.value(2).toUInt());
    if (user.isEmpty())
        return true;
    return !WaitFor(QStringLiteral("connected")).isEmpty();
}

void DriverProcess::Send(const QString& command)
{
    m_process.write(command.toUtf8() + '\n');
}

void DriverProcess::ReadLines()
{
    m_partial += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partial.left(end)));
        m_used.append(false);
        m_partial.remove(0, end + 1);
    }
}

QString DriverProcess::WaitFor(const QString& prefix, int ms)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        ReadLines();
        for (int i = 0; i < m_lines.size(); ++i) {
            if (!m_used[i] && m_lines[i].startsWith(prefix)) {
                m_used[i] = true;
                return m_lines[i];
            }
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return QString();
        // Let this process's own sockets and timers run too.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        m_process.waitForReadyRead(20);
    }
}

bool DriverProcess::Sync(int ms)
{
    const QString token = QStringLiteral("echo sync-%1").arg(++m_echo);
    Send(token);
    return !WaitFor(token, ms).isEmpty();
}

QStringList DriverProcess::Lines()
{
    ReadLines();
    return m_lines;
}

bool DriverProcess::HasLine(const QString& prefix)
{
    for (const QString& line : Lines())
        if (line.startsWith(prefix))
            return true;
    return false;
}

QByteArray FixtureBytes(const char* spacedHex)
{
    return QByteArray::fromHex(QByteArray(spacedHex).replace(' ', ""));
}
