#include "helper_standin.h"

#include <QCoreApplication>
#include <QTest>
#include <QtEndian>

Body& Body::u8(quint8 v)
{
    bytes.append(char(v));
    return *this;
}

Body& Body::u32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    bytes.append(b, 4);
    return *this;
}

Body& Body::str(const QString& s)
{
    const QByteArray u = s.toUtf8();
    u32(quint32(u.size()));
    bytes.append(u);
    return *this;
}

bool Fields::need(qsizetype n)
{
    if (!m_ok || n > m_bytes.size() - m_pos)
        m_ok = false;
    return m_ok;
}

quint8 Fields::u8()
{
    return need(1) ? quint8(m_bytes[m_pos++]) : 0;
}

quint16 Fields::u16()
{
    if (!need(2))
        return 0;
    const auto v = qFromLittleEndian<quint16>(m_bytes.constData() + m_pos);
    m_pos += 2;
    return v;
}

quint32 Fields::u32()
{
    if (!need(4))
        return 0;
    const auto v = qFromLittleEndian<quint32>(m_bytes.constData() + m_pos);
    m_pos += 4;
    return v;
}

quint64 Fields::u64()
{
    if (!need(8))
        return 0;
    const auto v = qFromLittleEndian<quint64>(m_bytes.constData() + m_pos);
    m_pos += 8;
    return v;
}

QString Fields::str()
{
    const quint32 n = u32();
    if (!need(n))
        return {};
    const QString s = QString::fromUtf8(m_bytes.constData() + m_pos, n);
    m_pos += n;
    return s;
}

QStringList Fields::strList()
{
    QStringList list;
    const quint32 n = u32();
    for (quint32 i = 0; i < n && m_ok; ++i)
        list.append(str());
    return list;
}

StandinProcess::~StandinProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool StandinProcess::start(const QStringList& args)
{
    const QString bin = qEnvironmentVariable("MARROWBY_BIN") + QStringLiteral("/marrowby-server");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(bin, QStringList { QStringLiteral("--port"), QStringLiteral("0") } + args);
    if (!m_process.waitForStarted(5000))
        return false;
    QByteArray out;
    while (!out.contains('\n')) {
        if (!m_process.waitForReadyRead(5000))
            return false;
        out += m_process.readAllStandardOutput();
    }
    const QByteArray line = out.left(out.indexOf('\n'));
    if (!line.startsWith("listening on "))
        return false;
    bool ok = false;
    m_port = quint16(line.mid(13).toUInt(&ok));
    return ok && m_port != 0;
}

bool RawClient::connectTo(quint16 port)
{
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return m_socket.waitForConnected(3000);
}

void RawClient::send(quint32 code, const QByteArray& body)
{
    Body frame;
    frame.u32(quint32(body.size() + 4)).u32(code).raw(body);
    sendRaw(frame.bytes);
}

void RawClient::sendRaw(const QByteArray& bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

void RawClient::pump()
{
    m_buffer.append(m_socket.readAll());
    while (m_buffer.size() >= 8) {
        const auto length = qFromLittleEndian<quint32>(m_buffer.constData());
        if (m_buffer.size() < 4 + qsizetype(length))
            return;
        const auto code = qFromLittleEndian<quint32>(m_buffer.constData() + 4);
        m_frames.append({ code, m_buffer.mid(8, length - 4) });
        m_buffer.remove(0, 4 + length);
    }
}

std::optional<QByteArray> RawClient::waitFor(quint32 code, int timeoutMs)
{
    std::optional<QByteArray> found;
    const auto take = [&] {
        pump();
        for (qsizetype i = 0; i < m_frames.size(); ++i) {
            if (m_frames[i].code == code) {
                found = m_frames.takeAt(i).body;
                return true;
            }
        }
        return false;
    };
    if (!take())
        (void)QTest::qWaitFor(take, timeoutMs);
    return found;
}

bool RawClient::nothing(quint32 code, int ms)
{
    QTest::qWait(ms);
    pump();
    for (const Frame& frame : std::as_const(m_frames)) {
        if (frame.code == code)
            return false;
    }
    return true;
}

bool RawClient::waitClosed(int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            pump();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

QList<quint32> RawClient::pendingCodes()
{
    pump();
    QList<quint32> codes;
    for (const Frame& frame : std::as_const(m_frames))
        codes.append(frame.code);
    return codes;
}

void RawClient::clear()
{
    QTest::qWait(50);
    pump();
    m_frames.clear();
}

QByteArray RawClient::login(const QString& user, const QString& password, quint32 version)
{
    send(1,
        Body()
            .str(user)
            .str(password)
            .u32(version)
            .str(QStringLiteral("0123456789abcdef0123456789abcdef"))
            .u32(100));
    return waitFor(1).value_or(QByteArray());
}

std::unique_ptr<RawClient> loggedIn(quint16 port, const QString& user, const QString& password)
{
    auto client = std::make_unique<RawClient>();
    if (!client->connectTo(port))
        return nullptr;
    const QByteArray answer = client->login(user, password);
    if (answer.isEmpty() || answer[0] != 1)
        return nullptr;
    return client;
}
