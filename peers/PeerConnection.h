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
// sent before are still handled, in their shares, before Closed; from then
// on nothing can be sent to it, and Left tells that it holds no place in the
// messenger's table any more.
//
// What waits to be sent is bounded, by what the peer takes rather than by
// what our own buffers hold. While more than kMaxRepliesWaiting waits for a
// peer, its frames are not read (its requests wait in the socket, and TCP
// holds it back) until it has taken enough; so do they while
// kMaxRepliesBuilding replies are being built for it elsewhere
// (ReplyBuilding, ReplyBuilt). Past the send limit: a
// distributed connection is closed at once; a messaging one only when the
// peer has also taken nothing for ConnectionRoom::kNotReadingMs (closed
// from the event loop, never inside the write; the log says so). One bulk
// frame on its way (a share list) does not count, and BulkFrameWaiting tells
// that it is still on its way, so that a repeated request is answered by it.
// What waits is also counted, with every other connection's, in the
// messenger's UnsentBytes: a piece of a frame of kSharedPieceBytes or more
// goes to the socket as it is (shared, not copied, on the plain port) and
// counts once however many connections send it. Only the peer's own bytes,
// and its taking ours, count as activity for the idle time-out.
#include "PeerFrameReader.h"
#include "store/TurnTaker.h"
#include <QByteArrayList>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <deque>

class QTcpSocket;
class UnsentBytes;

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

    // Writes a frame: u32 length and the body (in pieces, one after the
    // other), obfuscated on the obfuscated port. False when the connection
    // is not up or is being closed.
    bool SendFrame(const QByteArray& body) { return Write(QByteArrayList { body }); }
    bool SendFrame(const QByteArrayList& body) { return Write(body); }
    // The same for a bulk frame, which the send limit leaves out while it is
    // on its way (at most one is: the last one sent).
    bool SendBulkFrame(const QByteArrayList& body) { return Write(body, true); }
    bool BulkFrameWaiting() const { return BulkWaiting() > 0; }
    // The most bytes that may wait to be sent besides a bulk frame, and
    // whether passing it closes the connection at once (else only when the
    // peer has taken nothing for a while).
    void SetSendLimit(qint64 bytes, bool atOnce)
    {
        m_sendLimit = bytes;
        m_limitAtOnce = atOnce;
    }
    // Where what waits is counted with every other connection's.
    void SetLedger(UnsentBytes* ledger) { m_ledger = ledger; }
    // Keeps what the system holds for this socket to kSendBufferBytes (not
    // for a file connection, whose uploads need the room).
    void LimitSendBuffer();
    void SendPierceFirewall(quint32 token);
    void SendPeerInit(const QString& ownUser, const QString& type, quint32 token);

    // Starts reading frames of at most maxLength bytes.
    void SetOpen(quint32 maxLength);
    // Stops reading; RawBytesReady tells when bytes are waiting in the socket
    // (at once when some already are).
    void SetRaw();
    // Reads the init the peer has already sent, without waiting (an
    // accepted connection that may have spoken before the event loop got to
    // it); what follows waits for its share.
    void ReadWaiting();
    // Closes the socket; Closed is emitted once (not for a handed-over one).
    void Close();
    // Drops the socket and what waits for it now, and closes from the event
    // loop (for a caller that may be walking the connections).
    void Drop();
    bool Dropped() const { return m_dropped; }
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
    // Bytes waiting to be sent, and of those what closing it would free (a
    // shared piece counts when no other connection sends it).
    qint64 Waiting() const { return m_queued - m_taken; }
    qint64 HeldAlone() const;
    // How long (milliseconds, as of now in milliseconds since the epoch)
    // bytes have waited for the peer while it took none; 0 when nothing
    // waits. Bytes in the system's queue count as not taken.
    qint64 StalledMs(qint64 now);
    // Its frames are not read while its replies wait.
    bool Paused() const { return m_paused; }
    // A reply to it is being built elsewhere, and that one is done (sent
    // or not): every ReplyBuilding is followed by one ReplyBuilt.
    void ReplyBuilding() { ++m_building; }
    void ReplyBuilt();
    // The peer has closed; frames it sent before may still be handled, but
    // nothing reaches it any more.
    bool Lost() const { return m_lost; }
    // More than the send limit waits (besides a bulk frame), and the peer
    // has taken none of it for ConnectionRoom::kNotReadingMs (now in seconds).
    bool NotReading(qint64 now);
    // Says so in the log and drops it.
    void CloseNotReading();

    // Set by the messenger once known.
    quint64 serial = 0; // in order of creation
    QString user;
    QString type; // "P", "F", "D"
    quint32 token = 0; // the attempt an outgoing direct connection belongs to
    bool requestedByUs = false;
    bool brokered = false; // we connected at the server's request (code 18)
    QHostAddress address; // of the peer, for an accepted connection
    qint64 acceptedMs = 0; // when it was accepted, in the messenger's ReadingClock

signals:
    void Established(); // an outgoing connection is up
    void InitReceived(quint8 code, QByteArray payload);
    void FrameReceived(QByteArray body);
    void RawBytesReady();
    // The peer closed with frames still to be handled: they are, in their
    // shares, and Closed follows; meanwhile it holds no place.
    void Left();
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
    // Reads its frames again once its replies are few enough.
    void Resume();
    bool Write(const QByteArrayList& body, bool bulk = false);
    // The frame's bytes as they go to the socket: the length and the small
    // pieces joined, each large piece on its own (all one, obfuscated).
    QByteArrayList FrameOf(const QByteArrayList& body, qint64 length) const;
    void OnTaken(qint64 bytes);
    // Tells the ledger what waits now.
    void Account();
    void ReleaseAll();
    qint64 RepliesWaiting() const;
    // Bytes written that have left the system's queue too.
    qint64 Delivered() const;
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
    bool m_limitAtOnce = true;
    bool m_dropped = false; // closing: its socket and what waited for it are gone
    bool m_paused = false; // its frames wait until its replies are taken or built
    int m_building = 0; // replies being built for it elsewhere
    bool m_initOnly = false; // reading for the init alone
    UnsentBytes* m_ledger = nullptr;
    // The shared pieces written and not yet taken: where each ends in the
    // bytes written, and its size.
    struct Piece {
        qint64 end;
        qint64 size;
        const void* key;
    };
    std::deque<Piece> m_shared;
    qint64 m_sharedWaiting = 0;
    qint64 m_ownCounted = 0; // the own bytes the ledger holds for it
    qint64 m_delivered = 0; // as last seen by StalledMs
    qint64 m_progress = 0; // when (ms) the peer was last seen taking bytes, or they began to wait
    qint64 m_queued = 0; // bytes written to the socket, in all
    qint64 m_taken = 0; // of which the system has taken
    qint64 m_bulkEnd = 0; // where the last bulk frame ends in the bytes written
    qint64 m_bulkSize = 0;
};
