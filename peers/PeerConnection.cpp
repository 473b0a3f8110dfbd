#include "PeerConnection.h"
#include "PeerCodes.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/SlicedWork.h"
#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

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
    , m_turns([this] { ReadFrames(); })
    , m_sendLimit(kMaxWaitingToSend)
{
    m_socket->setParent(this);
    // What is not read yet stays with the system, which holds the peer back.
    m_socket->setReadBufferSize(kReadBufferSize);
    connect(m_socket, &QTcpSocket::connected, this, &PeerConnection::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &PeerConnection::OnReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
        m_taken += bytes;
        m_lastActivity = NowSecs();
    });
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
        // Bytes that came with the accepted socket are read in its first share.
        m_turns.Wake();
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

qint64 PeerConnection::BulkWaiting() const
{
    return std::clamp<qint64>(m_bulkEnd - m_taken, 0, m_bulkSize);
}

bool PeerConnection::Write(const QByteArray& bytes, bool bulk)
{
    if (!m_socket || !m_established || m_stage == Stage::Closed || m_lost || m_overfull)
        return false;
    const qint64 waiting = m_socket->bytesToWrite();
    if (waiting > 0 && waiting - BulkWaiting() + (bulk ? 0 : bytes.size()) > m_sendLimit) {
        m_overfull = true;
        Log(kArea, 1,
            QStringLiteral("Closed the connection to %1: %2 bytes wait to be sent and it does not read them")
                .arg(user.isEmpty() ? QStringLiteral("a peer") : user)
                .arg(waiting));
        // Not inside the write: the caller may be walking its connections.
        QTimer::singleShot(0, this, &PeerConnection::Close);
        return false;
    }
    if (m_socket->write(bytes) != bytes.size())
        return false;
    m_queued += bytes.size();
    if (bulk) {
        m_bulkEnd = m_queued;
        m_bulkSize = bytes.size();
    }
    return true;
}

bool PeerConnection::SendFrame(const QByteArray& body)
{
    return Write(FrameOf(body));
}

bool PeerConnection::SendBulkFrame(const QByteArray& body)
{
    return Write(FrameOf(body), true);
}

QByteArray PeerConnection::FrameOf(const QByteArray& body) const
{
    QByteArray frame;
    frame.reserve(4 + body.size());
    MemStream length;
    length.WriteUInt32(quint32(body.size()));
    frame.append(length.GetBuffer());
    frame.append(body);
    if (m_reader.IsObfuscated())
        return ObfuscateFrame(frame, NewObfuscationKey());
    return frame;
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
        m_turns.Wake();
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
    // Frames left for a later share go first, in their turn.
    m_turns.RunOrWake();
}

void PeerConnection::ReadFrames()
{
    if (!m_socket || m_reading)
        return;
    if (m_stage == Stage::Raw) {
        emit RawBytesReady();
        return;
    }
    // A handler may close this connection or take its socket: check after
    // every frame.
    QPointer<PeerConnection> self(this);
    m_reading = true;
    const QDeadlineTimer turn = SlicedWork::Turn();
    int frames = 0;
    bool more = false;
    char buffer[64 * 1024];
    while (self && m_socket && Reading() && m_socket->bytesAvailable() > 0) {
        if (frames == SlicedWork::kFramesPerTurn || (frames > 0 && turn.hasExpired())) {
            more = true;
            break;
        }
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
        ++frames;
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
    if (!self)
        return;
    m_reading = false;
    if (more)
        m_turns.Wake();
    else if (m_lost)
        Close(); // everything the peer sent before it closed is handled
}

bool PeerConnection::Overdue(qint64 now) const
{
    return m_frameStarted && now - m_frameStarted > kFrameTimeout + m_frameBytes / kMinFrameRate;
}

bool PeerConnection::Quiet() const
{
    return !m_frameStarted && (!m_socket || (m_socket->bytesAvailable() == 0 && m_socket->bytesToWrite() == 0));
}

void PeerConnection::ReadWaiting()
{
    if (m_socket && m_stage == Stage::AwaitingInit && !m_reading) {
        m_socket->waitForReadyRead(0); // a poll: never blocks
        ReadFrames();
    }
}

void PeerConnection::OnLost()
{
    if (m_stage == Stage::Closed)
        return;
    // Frames that came before the close are handled first, in their turns.
    if (Reading() && m_socket && m_socket->bytesAvailable() > 0) {
        m_lost = true;
        if (!m_reading)
            m_turns.Wake();
        return;
    }
    Close();
}

void PeerConnection::Close()
{
    if (m_stage == Stage::Closed)
        return;
    m_stage = Stage::Closed;
    m_turns.Stop();
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
    m_turns.Stop();
    if (socket) {
        socket->disconnect();
        socket->setReadBufferSize(0);
        socket->setParent(nullptr);
    }
    return socket;
}
