#pragma once
// One peer socket and its framing: the init frame, then "P" or "D" frames,
// or (file connections) raw bytes that are left in the socket for whoever
// takes it over. The messenger owns every PeerConnection; the distributed
// tree uses the "D" ones through SendFrame, FrameReceived and Closed.
//
// However much a peer sends at once, its frames are handled in shares of the
// event loop's one budget, in turn with every other connection (TurnTaker.h):
// at most SlicedWork::kFramesPerTurn in one share, and none past its end; the
// rest waits in the socket (whose buffer is bounded, so the peer is held back
// by TCP) for its next share, in order. Frames that come while no other
// connection waits are handled at once. When the peer closes, the frames it
// sent before are still handled, in their shares, before Closed.
//
// Bytes waiting to be sent are bounded too: a write that would leave more
// than the send limit waiting closes the connection (from the event loop,
// never inside the write) and says so in the log. One bulk frame on its way
// (a share list) does not count, and BulkFrameWaiting tells that it is still
// on its way, so that a repeated request is answered by it. Only the peer's
// own bytes, and its taking ours, count as activity for the idle time-out.
#include "PeerFrameReader.h"
#include "store/TurnTaker.h"
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

class PeerConnection : public QObject {
    Q_OBJECT
public:
    enum class Stage {
        Connecting, // outgoing, TCP not up yet
        AwaitingInit, // accepted, waiting for the peer's init frame
        Idle, // connected, nothing read until the owner decides
        Open, // reading frames
        Raw, // a file connection: bytes stay in the socket
        Closed, // closed or handed over
    };

    // Takes the socket (made its child). An outgoing connection starts in
    // Connecting (see ConnectTo), an accepted one in AwaitingInit.
    PeerConnection(QTcpSocket* socket, bool outgoing, bool obfuscated, qint64 now, QObject* parent = nullptr);
    ~PeerConnection() override;

    void ConnectTo(quint32 ip, quint16 port);

    // Writes a frame: u32 length and the body, obfuscated on the obfuscated
    // port. False when the connection is not up or is being closed for
    // leaving too much unread.
    bool SendFrame(const QByteArray& body);
    // The same for a bulk frame, which the send limit leaves out while it is
    // on its way (at most one is: the last one sent).
    bool SendBulkFrame(const QByteArray& body);
    bool BulkFrameWaiting() const { return BulkWaiting() > 0; }
    // The most bytes that may wait to be sent besides a bulk frame.
    void SetSendLimit(qint64 bytes) { m_sendLimit = bytes; }
    void SendPierceFirewall(quint32 token);
    void SendPeerInit(const QString& ownUser, const QString& type, quint32 token);

    // Starts reading frames of at most maxLength bytes.
    void SetOpen(quint32 maxLength);
    // Stops reading; RawBytesReady tells when bytes are waiting in the socket
    // (at once when some already are).
    void SetRaw();
    // Reads what the peer has already sent, without waiting (an accepted
    // connection that may have spoken before the event loop got to it).
    void ReadWaiting();
    // Closes the socket; Closed is emitted once (not for a handed-over one).
    void Close();
    // Hands the socket over: every signal connection of the socket removed,
    // no parent, forgotten here. The connection is Closed afterwards.
    QTcpSocket* TakeSocket();
    QTcpSocket* Socket() const { return m_socket; }

    Stage GetStage() const { return m_stage; }
    bool IsOutgoing() const { return m_outgoing; }
    bool IsObfuscated() const { return m_reader.IsObfuscated(); }
    // The system's words for the failure that closed the socket, if one did.
    QString ErrorString() const { return m_error; }
    qint64 Created() const { return m_created; }
    // When the last whole frame came or the last write went (bytes of a
    // frame still on their way don't count).
    qint64 LastActivity() const { return m_lastActivity; }
    // For tests of expiry: moves both time stamps.
    void SetTimes(qint64 created, qint64 lastActivity)
    {
        m_created = created;
        m_lastActivity = lastActivity;
    }
    // Some of a frame has come and the rest has not.
    bool MidFrame() const { return m_frameStarted != 0; }
    // A frame has kFrameTimeout seconds, and one more for each kMinFrameRate
    // bytes of it that have come: a peer that sends its frame a byte at a
    // time is overdue long before the frame would be complete.
    bool Overdue(qint64 now) const;
    // Between frames, with nothing received waiting to be read (a frame
    // left for a later turn) and nothing waiting to be sent: closing it loses
    // nothing.
    bool Quiet() const;

    // Set by the messenger once known.
    QString user;
    QString type; // "P", "F", "D"
    quint32 token = 0; // the attempt an outgoing direct connection belongs to
    bool requestedByUs = false;
    bool brokered = false; // we connected at the server's request (code 18)
    QHostAddress address; // of the peer, for an accepted connection

signals:
    void Established(); // an outgoing connection is up
    void InitReceived(quint8 code, QByteArray payload);
    void FrameReceived(QByteArray body);
    void RawBytesReady();
    // The socket closed or failed; wasEstablished is false for an outgoing
    // connection that never came up.
    void Closed(bool wasEstablished);

private:
    void OnConnected();
    void OnReadyRead();
    // Handles the frames waiting, up to the end of its share of the pass.
    void ReadFrames();
    bool Reading() const { return m_stage == Stage::AwaitingInit || m_stage == Stage::Open; }
    void OnLost();
    bool Write(const QByteArray& bytes, bool bulk = false);
    // The body with its length, obfuscated on the obfuscated port.
    QByteArray FrameOf(const QByteArray& body) const;
    qint64 BulkWaiting() const;

    QTcpSocket* m_socket;
    bool m_outgoing;
    bool m_established;
    Stage m_stage;
    PeerFrameReader m_reader;
    qint64 m_created;
    qint64 m_lastActivity;
    qint64 m_frameStarted = 0; // 0 between frames
    qint64 m_frameBytes = 0;
    bool m_reading = false;
    QString m_error;
    bool m_lost = false; // the peer closed; what it sent before is still being handled
    TurnTaker m_turns; // the frames left for a later share
    qint64 m_sendLimit;
    bool m_overfull = false; // closing for leaving too much unread
    qint64 m_queued = 0; // bytes written to the socket, in all
    qint64 m_taken = 0; // of which the system has taken
    qint64 m_bulkEnd = 0; // where the last bulk frame ends in the bytes written
    qint64 m_bulkSize = 0;
};
