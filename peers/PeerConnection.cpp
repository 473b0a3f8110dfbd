#include "PeerConnection.h"
#include "PeerCodes.h"
#include "store/MemStream.h"
#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {

qint64 NowSecs()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

PeerConnection::PeerConnection(
    QTcpSocket* socket, bool outgoing, bool obfuscated, qint64 now, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_outgoing(outgoing)
    , m_established(!outgoing)
    , m_stage(outgoing ? Stage::Connecting : Stage::AwaitingInit)
    , m_reader(obfuscated, kMaxInitFrame)
    , m_created(now)
    , m_lastActivity(now)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::connected, this, &PeerConnection::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &PeerConnection::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &PeerConnection::OnLost);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A poll that found nothing reports a time-out; the socket is fine.
        if (error == QAbstractSocket::SocketTimeoutError)
            return;
        m_error = m_socket->errorString();
        OnLost();
    });
    if (!outgoing) {
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Bytes that came with the accepted socket are read at once.
        QTimer::singleShot(0, this, &PeerConnection::OnReadyRead);
    }
}

PeerConnection::~PeerConnection() = default;

void PeerConnection::ConnectTo(quint32 ip, quint16 port)
{
    m_socket->connectToHost(QHostAddress(ip), port);
}

void PeerConnection::OnConnected()
{
    if (m_stage != Stage::Connecting)
        return;
    m_established = true;
    m_stage = Stage::Idle;
    m_lastActivity = NowSecs();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit Established();
}

bool PeerConnection::Write(const QByteArray& bytes)
{
    if (!m_socket || !m_established || m_stage == Stage::Closed)
        return false;
    m_lastActivity = NowSecs();
    return m_socket->write(bytes) == bytes.size();
}

bool PeerConnection::SendFrame(const QByteArray& body)
{
    QByteArray frame;
    frame.reserve(4 + body.size());
    MemStream length;
    length.WriteUInt32(quint32(body.size()));
    frame.append(length.GetBuffer());
    frame.append(body);
    if (m_reader.IsObfuscated())
        return Write(ObfuscateFrame(frame, NewObfuscationKey()));
    return Write(frame);
}

void PeerConnection::SendPierceFirewall(quint32 token)
{
    MemStream m;
    m.WriteUInt8(PI_PIERCE_FIREWALL);
    m.WriteUInt32(token);
    SendFrame(m.GetBuffer());
}

void PeerConnection::SendPeerInit(const QString& ownUser, const QString& connectionType, quint32 initToken)
{
    MemStream m;
    m.WriteUInt8(PI_PEER_INIT);
    m.WriteString(ownUser);
    m.WriteString(connectionType);
    m.WriteUInt32(initToken);
    SendFrame(m.GetBuffer());
}

void PeerConnection::SetOpen(quint32 maxLength)
{
    if (m_stage == Stage::Closed)
        return;
    m_reader.SetMaxLength(maxLength);
    m_stage = Stage::Open;
    // Bytes that arrived while the connection waited are read now.
    if (!m_reading && m_socket && m_socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &PeerConnection::OnReadyRead);
}

void PeerConnection::SetRaw()
{
    if (m_stage == Stage::Closed)
        return;
    m_stage = Stage::Raw;
    // Whatever follows may stay in the socket, but not without bound.
    m_socket->setReadBufferSize(64 * 1024);
    QTimer::singleShot(0, this, [this] {
        if (m_stage == Stage::Raw && m_socket && m_socket->bytesAvailable() > 0)
            emit RawBytesReady();
    });
}

void PeerConnection::OnReadyRead()
{
    if (!m_socket || m_reading)
        return;
    if (m_stage == Stage::Raw) {
        emit RawBytesReady();
        return;
    }
    if (m_stage != Stage::AwaitingInit && m_stage != Stage::Open)
        return;
    // A handler may close this connection or take its socket: check after
    // every frame.
    QPointer<PeerConnection> self(this);
    m_reading = true;
    char buffer[64 * 1024];
    while (self && m_socket && (m_stage == Stage::AwaitingInit || m_stage == Stage::Open)
        && m_socket->bytesAvailable() > 0) {
        const qint64 want = std::min<qint64>(m_reader.Wanted(), sizeof buffer);
        const qint64 got = m_socket->read(buffer, want);
        if (got <= 0)
            break;
        if (!m_frameStarted)
            m_frameStarted = NowSecs();
        m_frameBytes += got;
        const PeerFrameReader::Result result = m_reader.Feed(buffer, got);
        if (result == PeerFrameReader::TooLong) {
            m_reading = false;
            Close();
            return;
        }
        if (result != PeerFrameReader::FrameReady)
            continue;
        m_frameStarted = 0;
        m_frameBytes = 0;
        m_lastActivity = NowSecs();
        QByteArray frame = m_reader.TakeFrame();
        if (m_stage == Stage::AwaitingInit) {
            // Nothing more is read until the owner says what this is.
            m_stage = Stage::Idle;
            if (frame.isEmpty()) {
                m_reading = false;
                Close();
                return;
            }
            const quint8 code = quint8(frame.at(0));
            emit InitReceived(code, frame.mid(1));
        } else {
            emit FrameReceived(frame);
        }
    }
    if (self)
        m_reading = false;
}

bool PeerConnection::Overdue(qint64 now) const
{
    return m_frameStarted && now - m_frameStarted > kFrameTimeout + m_frameBytes / kMinFrameRate;
}

bool PeerConnection::Quiet() const
{
    return !m_frameStarted && (!m_socket || m_socket->bytesToWrite() == 0);
}

void PeerConnection::ReadWaiting()
{
    if (m_socket && m_stage == Stage::AwaitingInit && !m_reading) {
        m_socket->waitForReadyRead(0); // a poll: never blocks
        OnReadyRead();
    }
}

void PeerConnection::OnLost()
{
    if (m_stage == Stage::Closed)
        return;
    Close();
}

void PeerConnection::Close()
{
    if (m_stage == Stage::Closed)
        return;
    m_stage = Stage::Closed;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit Closed(m_established);
}

QTcpSocket* PeerConnection::TakeSocket()
{
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    m_stage = Stage::Closed;
    if (socket) {
        socket->disconnect();
        socket->setReadBufferSize(0);
        socket->setParent(nullptr);
    }
    return socket;
}
