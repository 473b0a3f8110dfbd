#include "PeerConnection.h"
#include "ConnectionRoom.h"
#include "PeerCodes.h"
#include "UnsentBytes.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/SlicedWork.h"
#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

qint64 NowSecs()
{
    return QDateTime::currentSecsSinceEpoch();
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
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
    connect(m_socket, &QTcpSocket::bytesWritten, this, &PeerConnection::OnTaken);
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

PeerConnection::~PeerConnection()
{
    ReleaseAll();
}

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

qint64 PeerConnection::RepliesWaiting() const
{
    return m_queued - m_taken - BulkWaiting();
}

bool PeerConnection::Write(const QByteArrayList& body, bool bulk)
{
    if (!m_socket || !m_established || m_stage == Stage::Closed || m_lost || m_dropped)
        return false;
    qint64 length = 0;
    for (const QByteArray& piece : body)
        length += piece.size();
    const qint64 size = 4 + length;
    const qint64 waiting = m_queued - m_taken;
    if (waiting > 0 && RepliesWaiting() + (bulk ? 0 : size) > m_sendLimit
        && (m_limitAtOnce || StalledMs(NowMs()) >= ConnectionRoom::kNotReadingMs)) {
        CloseNotReading();
        return false;
    }
    if (m_queued == Delivered()) { // waiting begins now
        m_delivered = m_queued;
        m_progress = NowMs();
    }
    for (const QByteArray& bytes : FrameOf(body, length)) {
        if (m_socket->write(bytes) != bytes.size())
            return false;
        m_queued += bytes.size();
        if (bytes.size() >= UnsentBytes::kSharedPieceBytes && m_ledger) {
            m_shared.push_back({ m_queued, bytes.size(), bytes.constData() });
            m_sharedWaiting += bytes.size();
            m_ledger->Hold(bytes.constData(), bytes.size(), this);
        }
    }
    if (bulk) {
        m_bulkEnd = m_queued;
        m_bulkSize = size;
    }
    // Past the bound on all peers, this connection may be the one dropped.
    Account();
    return !m_dropped;
}

QByteArrayList PeerConnection::FrameOf(const QByteArrayList& body, qint64 length) const
{
    MemStream header;
    header.WriteUInt32(quint32(length));
    QByteArrayList frame { header.GetBuffer() };
    if (m_reader.IsObfuscated()) {
        frame = QByteArrayList { frame.front() + body.join() };
        frame.front() = ObfuscateFrame(frame.front(), NewObfuscationKey());
        return frame;
    }
    for (const QByteArray& piece : body) {
        if (piece.size() >= UnsentBytes::kSharedPieceBytes)
            frame.append(piece); // shared with the socket's buffer
        else if (frame.back().size() < UnsentBytes::kSharedPieceBytes)
            frame.back().append(piece);
        else
            frame.append(piece);
    }
    return frame;
}

void PeerConnection::OnTaken(qint64 bytes)
{
    m_taken += bytes;
    m_lastActivity = NowSecs();
    StalledMs(NowMs()); // what the peer took shows when it took it
    while (!m_shared.empty() && m_shared.front().end <= m_taken) {
        m_sharedWaiting -= m_shared.front().size;
        if (m_ledger)
            m_ledger->Release(m_shared.front().key);
        m_shared.pop_front();
    }
    Account();
    Resume();
}

void PeerConnection::ReplyBuilt()
{
    m_building = std::max(0, m_building - 1);
    Resume();
}

void PeerConnection::Resume()
{
    if (m_paused && RepliesWaiting() <= kMaxRepliesWaiting && m_building < kMaxRepliesBuilding) {
        m_paused = false;
        m_turns.Wake();
    }
}

void PeerConnection::Account()
{
    const qint64 own = std::max<qint64>(0, m_queued - m_taken - m_sharedWaiting);
    const qint64 change = own - m_ownCounted;
    m_ownCounted = own;
    if (m_ledger && change != 0)
        m_ledger->AddOwn(change, this);
}

void PeerConnection::ReleaseAll()
{
    if (m_ledger) {
        m_ledger->AddOwn(-m_ownCounted, this);
        for (const Piece& piece : m_shared)
            m_ledger->Release(piece.key);
    }
    m_ownCounted = 0;
    m_shared.clear();
    m_sharedWaiting = 0;
    m_taken = m_queued;
}

qint64 PeerConnection::HeldAlone() const
{
    qint64 held = m_ownCounted;
    for (const Piece& piece : m_shared)
        if (!m_ledger || m_ledger->Holders(piece.key) == 1)
            held += piece.size;
    return held;
}

qint64 PeerConnection::Delivered() const
{
    int queued = 0;
    if (!m_socket || ioctl(int(m_socket->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        queued = 0;
    return m_taken - queued;
}

bool PeerConnection::NotReading(qint64 now)
{
    return RepliesWaiting() > m_sendLimit && StalledMs(now * 1000) >= ConnectionRoom::kNotReadingMs;
}

void PeerConnection::CloseNotReading()
{
    if (m_dropped || m_stage == Stage::Closed)
        return;
    Log(kArea, 1,
        QStringLiteral("Closed the connection to %1: %2 bytes wait to be sent and it does not read them")
            .arg(user.isEmpty() ? QStringLiteral("a peer") : user)
            .arg(m_queued - m_taken));
    Drop();
}

qint64 PeerConnection::StalledMs(qint64 now)
{
    const qint64 delivered = Delivered();
    if (delivered > m_delivered) {
        m_delivered = delivered;
        m_progress = now;
    }
    return delivered >= m_queued ? 0 : std::max<qint64>(0, now - m_progress);
}

void PeerConnection::LimitSendBuffer()
{
    if (m_socket)
        m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kSendBufferBytes));
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
    m_socket->setReadBufferSize(kRawReadBufferSize);
    QTimer::singleShot(0, this, [this] {
        if (m_stage == Stage::Raw && m_socket && m_socket->bytesAvailable() > 0)
            emit RawBytesReady();
    });
}

void PeerConnection::OnReadyRead()
{
    // Frames left for a later share go first, in their turn; and once this
    // pass's budget is spent, these wait for a share too.
    if (TurnTaker::BudgetLeft())
        m_turns.RunOrWake();
    else
        m_turns.Wake();
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
    const bool nothingWaited = m_queued == m_taken;
    const QDeadlineTimer turn = SlicedWork::Turn();
    int frames = 0;
    bool more = false;
    char buffer[kReadChunk];
    while (self && m_socket && Reading() && m_socket->bytesAvailable() > 0) {
        if (frames == SlicedWork::kFramesPerTurn || (frames > 0 && turn.hasExpired())) {
            more = true;
            break;
        }
        // Read for its init only: the rest waits for a share.
        if (m_initOnly && m_stage != Stage::AwaitingInit) {
            more = true;
            break;
        }
        // Its requests wait while it has not taken its replies, or while
        // they are being built.
        if (m_stage == Stage::Open && !m_frameStarted && !m_lost
            && (RepliesWaiting() > kMaxRepliesWaiting || m_building >= kMaxRepliesBuilding)) {
            m_paused = true;
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
    // Short answers to a peer that had nothing waiting go to the system now,
    // not a pass later.
    if (nothingWaited && m_socket && m_stage != Stage::Closed && m_queued > m_taken
        && m_queued - m_taken <= kSentAtOnce)
        m_socket->flush();
}

bool PeerConnection::Overdue(qint64 now) const
{
    return m_frameStarted && now - m_frameStarted > kFrameTimeout + m_frameBytes / kMinFrameRate;
}

bool PeerConnection::Quiet() const
{
    return !m_frameStarted && m_building == 0
        && (!m_socket || (m_socket->bytesAvailable() == 0 && m_socket->bytesToWrite() == 0));
}

void PeerConnection::ReadWaiting()
{
    if (m_socket && m_stage == Stage::AwaitingInit && !m_reading) {
        m_initOnly = true;
        m_socket->waitForReadyRead(0); // a poll: never blocks
        ReadFrames();
        m_initOnly = false;
    }
}

void PeerConnection::OnLost()
{
    if (m_stage == Stage::Closed)
        return;
    // Frames that came before the close are handled first, in their turns;
    // what waited to be sent to it is gone, and so is its place.
    if (Reading() && m_socket && m_socket->bytesAvailable() > 0) {
        if (m_lost)
            return;
        m_lost = true;
        ReleaseAll();
        m_ledger = nullptr;
        if (!m_reading)
            m_turns.Wake();
        emit Left();
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
    ReleaseAll();
    emit Closed(m_established);
}

void PeerConnection::Drop()
{
    if (m_stage == Stage::Closed || m_dropped)
        return;
    m_dropped = true;
    m_turns.Stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    ReleaseAll();
    // Not inside the caller's call: it may be walking its connections.
    QTimer::singleShot(0, this, &PeerConnection::Close);
}

QTcpSocket* PeerConnection::TakeSocket()
{
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    m_stage = Stage::Closed;
    m_turns.Stop();
    ReleaseAll();
    if (socket) {
        socket->disconnect();
        socket->setReadBufferSize(0);
        socket->setParent(nullptr);
    }
    return socket;
}
