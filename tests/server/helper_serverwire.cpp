#include "helper_serverwire.h"
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QTest>
#include <QtEndian>

std::optional<WireFrame> FrameBuffer::Take()
{
    if (m_bytes.size() < 4)
        return std::nullopt;
    const quint32 length = qFromLittleEndian<quint32>(m_bytes.constData());
    if (quint64(m_bytes.size()) < 4ull + length || length < 4)
        return std::nullopt;
    WireFrame frame;
    frame.code = qFromLittleEndian<quint32>(m_bytes.constData() + 4);
    frame.body = m_bytes.mid(8, length - 4);
    m_bytes.remove(0, 4 + length);
    return frame;
}

QByteArray EncodeFrame(quint32 code, const QByteArray& body)
{
    return WireWriter().u32(quint32(body.size() + 4)).u32(code).bytes(body).data();
}

FakeCentralServer::FakeCentralServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
}

QString FakeCentralServer::Address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(Port());
}

bool FakeCentralServer::WaitClient(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!m_server.hasPendingConnections()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    if (m_client)
        m_client->deleteLater();
    m_client = m_server.nextPendingConnection();
    m_buffer = FrameBuffer();
    return true;
}

std::optional<WireFrame> FakeCentralServer::Next(int ms)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        if (m_client)
            m_buffer.Append(m_client->readAll());
        if (auto frame = m_buffer.Take())
            return frame;
        if (deadline.hasExpired())
            return std::nullopt;
        QTest::qWait(5);
    }
}

QList<WireFrame> FakeCentralServer::Drain(int quietMs)
{
    QList<WireFrame> frames;
    while (auto frame = Next(quietMs))
        frames.append(*frame);
    return frames;
}

void FakeCentralServer::Send(quint32 code, const QByteArray& body)
{
    SendRaw(EncodeFrame(code, body));
}

void FakeCentralServer::SendRaw(const QByteArray& bytes)
{
    if (!m_client)
        return;
    m_client->write(bytes);
    m_client->flush();
}

bool FakeCentralServer::AcceptLogin()
{
    auto login = Next();
    if (!login || login->code != 1)
        return false;
    Send(1, WireWriter().boolean(true).str("Welcome").u32(0x7F000001).str("hash").boolean(false));
    return true;
}

void FakeCentralServer::DropClient()
{
    if (m_client) {
        m_client->abort();
        m_client->deleteLater();
        m_client = nullptr;
    }
}

StandinServerProcess::~StandinServerProcess()
{
    Kill();
}

bool StandinServerProcess::Start(const QStringList& args, quint16 port)
{
    Kill();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    QStringList all { QStringLiteral("--port"), QString::number(port) };
    all += args;
    m_process->start(qEnvironmentVariable("MARROWBY_BIN") + QStringLiteral("/marrowby-server"), all);
    if (!m_process->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!deadline.hasExpired()) {
        m_process->waitForReadyRead(100);
        out += m_process->readAllStandardOutput();
        const qsizetype at = out.indexOf("listening on ");
        const qsizetype end = out.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_port = quint16(out.mid(at + 13, end - at - 13).trimmed().toUInt());
            return m_port != 0;
        }
        if (m_process->state() != QProcess::Running)
            return false;
    }
    return false;
}

void StandinServerProcess::Kill()
{
    if (m_process) {
        m_process->kill();
        m_process->waitForFinished(3000);
        m_process.reset();
    }
}

QString StandinServerProcess::Address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

bool RawUser::Login(quint16 port, const QByteArray& user, const QByteArray& password)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    if (!m_socket.waitForConnected(3000))
        return false;
    const QByteArray hash = QCryptographicHash::hash(user + password, QCryptographicHash::Md5).toHex();
    Send(1, WireWriter().str(user).str(password).u32(157).str(hash).u32(100));
    auto answer = WaitFor(1);
    return answer && !answer->isEmpty() && answer->at(0) == 1;
}

void RawUser::Send(quint32 code, const WireWriter& body)
{
    m_socket.write(EncodeFrame(code, body.data()));
    m_socket.flush();
}

std::optional<QByteArray> RawUser::WaitFor(quint32 code, int ms)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        m_buffer.Append(m_socket.readAll());
        while (auto frame = m_buffer.Take())
            m_frames.append(*frame);
        for (qsizetype i = 0; i < m_frames.size(); ++i) {
            if (m_frames[i].code == code)
                return m_frames.takeAt(i).body;
        }
        if (deadline.hasExpired())
            return std::nullopt;
        QTest::qWait(5);
    }
}
