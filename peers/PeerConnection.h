#pragma once
// One peer socket and its framing: the init frame, then "P" or "D" frames,
// or (file connections) raw bytes that are left in the socket for whoever
// takes it over. The messenger owns every PeerConnection; the distributed
// tree uses the "D" ones through SendFrame, FrameReceived and Closed.
#include "PeerFrameReader.h"
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;

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
    // port. False when the connection is not up.
    bool SendFrame(const QByteArray& body);
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
    // Between frames with nothing waiting to be sent: closing it loses
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
    void OnLost();
    bool Write(const QByteArray& bytes);

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
};
