#pragma once
// The peer network: listening on the plain and the obfuscated port, peer
// connections of the types "P" (messages), "F" (file) and "D" (distributed),
// message framing, the queue of unsent messages, and the peer messages that
// the shared folders, the transfer engine and the pages send and receive.
//
// Connecting to a user for a type happens "directly and through the server at
// once": the server is asked for the user's address (code 3) and, under a new
// token, to have the user connect to us (code 18). Whichever way opens first
// wins; the attempt fails, with ConnectionToUserFailed, when both ways have
// failed or when it has had no outcome after kRequestTimeout seconds. At most
// one attempt per user and type is under way at a time.
//
// Outgoing connections use the peer's plain port unless PreferObfuscatedPort
// is set and the peer announces an obfuscated one. Frames (init frames
// included) on a connection made to or accepted on the obfuscated port are
// obfuscated both ways (see Obfuscation.h); the raw bytes of a file
// connection after its init are never obfuscated.
//
// Every byte from a peer is untrusted: frame lengths, counts, strings and
// zlib payloads are capped (PeerCodes.h); a malformed or capped message is
// dropped whole and logged, and the connection that sent it keeps serving.
// A connection's frames are handled a share of a pass at a time, in turn
// with every other connection (TurnTaker.h), and what waits to be sent on it
// is bounded (PeerConnection.h): kMaxWaitingToSend on a messaging connection,
// kMaxWaitingToSendDistributed on a distributed one; a peer's requests wait
// while its replies wait. What waits for all peers together is bounded too
// (UnsentBytes::kMaxInAll, shared bytes counted once); past it, connections
// are closed, those that do not read first (ConnectionRoom.h).
// Idle and silent sockets, frames that don't come at a frame's pace and
// stale attempts are closed on the 30-second timer (ExpireStale); sockets
// handed over with FileConnectionRequested or FileConnectionAccepted are not
// ours any more and are never touched again (a running transfer's socket
// never makes room for anyone).
//
// The sockets held stay within a budget made from the file limit, in all and
// accepted from one address; the listener takes IPv4 peers only. Who makes
// room for a newcomer, and when it waits in the listener's queue or is
// refused, is ConnectionRoom's to say (its address is weighed before anyone
// is closed for it). Outgoing sockets not yet up are bounded too, and the
// server's requests to connect (code 18) per user and in all; the rest wait
// their turn or are refused (OutgoingAttempts.h).
//
// Hooks for the shared-folders library (a higher library, which must not be
// included here): SetSharedFilesMessageProvider installs the builder of the
// answer to a share-list request (code 4), which may answer later by itself;
// until one is installed, every request is answered with an empty share. A
// request that comes while the user's last list is still on its way is
// answered by that list.
// Folder requests (code 36) are the signal SharedFilesInFolderRequested;
// once a builder is installed (SetFolderReplyBuilder, by the shared-folders
// manager) each is also handed to it with the connection that asked, and its
// reply goes back on that very connection, or nowhere when it has gone.
//
// A peer that closes with requests still unread gets none of them answered:
// what it asked for (share list, folder, user information, place in line)
// is dropped, what it told us is still handled, and its place in the table
// is free at once (Closed follows once its frames are handled), unless as
// many as the table holds are leaving so already.
#include "ConnectionRoom.h"
#include "FileInfo.h"
#include "OutgoingAttempts.h"
#include "ReadingClock.h"
#include "UnsentBytes.h"
#include "store/DataLoadedEventHandler.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/MemStream.h"
#include <QAbstractSocket>
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMultiHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class PeerConnection;
class SearchReplyQueue;
class ShareListDecoder;
class QTcpServer;
class QTcpSocket;

class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler {
    Q_OBJECT
public:
    // Sets the global peerMessenger, declares the peer network's item types
    // and connects to the server's signals and to the 30-second timer. Needs
    // gp_server.
    explicit PeerMessenger(QObject* parent = nullptr);
    ~PeerMessenger() override;

    // Takes a port chosen in the listening-port dialog ("new_listening_port")
    // into "listening_port" and "obfuscated_listening_port" (that port + 1),
    // writes the defaults "2235" and "2236" when absent, and listens.
    void DataLoaded() override;
    // (Re)listens on the ports of the settings (a setting of 0 picks a free
    // port). When either is held by another program or can't be bound, it
    // listens on another free pair (a port and the next one up) for this run
    // and leaves the settings as they are; when no pair can be had it listens
    // on nothing. The server is told only the ports held, never a port that
    // some other program may hold. True while listening, on the chosen ports
    // or on others; ListeningChanged follows either way.
    bool Listen();
    // The ports held now; 0 while not listening.
    quint16 ListeningPort() const;
    quint16 ObfuscatedListeningPort() const;
    // Why the ports held are not the chosen ones, as the user reads it (also
    // logged); empty while the chosen ports are held.
    QString ListeningProblem() const { return m_listeningProblem; }

    // Sends a complete message (u32 code and fields), framed with its length,
    // over the newest open "P" connection to the user; without one, keeps it
    // as an unsent message (sent when a messaging connection to the user
    // opens, either way; dropped after kUnsentLifetime seconds) and connects
    // to the user unless an attempt is under way.
    void SendMessage(QString user, MemStream& message);
    // The same for a message in pieces (as EncodeUserInfoPieces makes it):
    // large pieces are sent as they are, not copied.
    void SendMessage(QString user, const QByteArrayList& message);
    void SendMessageToUser(QString user, MemStream& message);

    void GetUserSharedFiles(QString user); // code 4
    void GetUserInfo(QString user); // code 15
    void QueueDownload(QString user, std::string path); // code 43
    void QueueUpload(QString user, QString file, qint64 size); // code 60
    void SendUploadPlaceInLine(QString user, QString file, int place); // code 44
    void DenyUpload(QString user, QString file, QString reason); // code 50
    // Code 40 with direction 1 under the request number taken from the saved
    // setting "transfer_req_counter", which is advanced by one; returns it.
    uint RequestUpload(QString user, QString file, qint64 size);
    void AcceptTransferRequest(QString user, uint req, bool withSize, qint64 fileSize); // code 41
    void DenyTransferRequest(QString user, uint req, QString reason); // code 41
    // Starts an "F" connection to the user unless one is under way; success
    // is FileConnectionAccepted, failure ConnectionToUserFailed(user, "F").
    void RequestFileConnectionToUser(QString user);

    // The answer to a share-list request (code 4): the complete code-5
    // message for the user, or nothing when it is not ready yet (the provider
    // then sends it itself once it is). Installed by the shared-folders
    // manager.
    using SharedFilesMessageProvider = std::function<std::optional<MemStream>(const QString& user)>;
    void SetSharedFilesMessageProvider(SharedFilesMessageProvider provider);

    // The builder of folder replies (code 37): called for each folder
    // request with the serial of the connection that asked, it answers with
    // FolderReplyBuilt, later or at once, exactly once per call (with no
    // reply when it gives none). Meanwhile the request counts against that
    // connection (kMaxRepliesBuilding). ConnectionGone tells when building
    // for a connection is of no more use.
    using FolderReplyBuilder = std::function<void(
        quint64 connection, const QString& user, quint32 request, const QString& folder)>;
    void SetFolderReplyBuilder(FolderReplyBuilder builder) { m_folderReplies = std::move(builder); }
    // Sends the reply, unless null, on the connection, unless it has gone.
    void FolderReplyBuilt(quint64 connection, const MemStream* reply);

    // For the distributed tree: a "D" connection to a possible parent at a
    // known address (and through the server at once). The outcome is
    // DistributedConnectionOpened or ConnectionToUserFailed(user, "D").
    void ConnectToDistributedPeer(QString user, quint32 ip, quint16 port);

    // Connect outgoing sockets to the obfuscated port when the peer has one.
    void SetPreferObfuscatedPort(bool prefer) { m_preferObfuscated = prefer; }

    // Closes idle and silent sockets, fails stale attempts and drops old
    // unsent messages, as of now (seconds since the epoch). The 30-second
    // timer calls it with the current time.
    void ExpireStale(qint64 now);

    // Counts, for diagnostics and tests.
    int ConnectionCount() const { return int(m_connections.size()); }
    const ConnectionBudget& Budget() const { return m_room.Budget(); }
    int ConnectionsFrom(const QHostAddress& address) const
    {
        return m_room.From(ConnectionRoom::AddressKey(address));
    }
    // Outgoing sockets not up yet as the queue of attempts counts them, as
    // they are, and attempts waiting for their turn.
    int ConnectingCount() const { return m_outgoing.Connecting(); }
    int ConnectingSocketCount() const;
    int WaitingConnectCount() const { return m_outgoing.Waiting(); }
    // Bytes waiting to be sent to all peers (UnsentBytes.h), and their bound.
    qint64 UnsentTotal() const { return m_unsentBytes.Total(); }
    void SetUnsentBound(qint64 bytes) { m_unsentBytes.SetBound(bytes); }
    int PendingConnectionCount() const;
    int ObfuscatedConnectionCount() const;
    int UnsentMessageCount(const QString& user) const;
    bool HasOpenMessageConnection(const QString& user) const;

    // Runs one received messaging frame (u32 code and fields) as if it came
    // from the user over a "P" connection (for the fuzzer).
    void ProcessMessage(const QString& user, const QByteArray& frame);
    // Share lists are decoded on a worker and announced (UserShare) from the
    // event loop; this waits for every list received so far and announces
    // it now.
    void FinishShareLists();
    // During UserShare, the list announced, held for a receiver that reads it
    // later instead of copying it; null for any other list.
    std::shared_ptr<const FileInfoMap> HoldShareList(const FileInfoMap& share) const;
    // Share lists are numbered from 1 as they arrive. During UserShare or
    // ShareListRefused, the number of that list; at any other time, that of
    // the last list to arrive. A list numbered at or below what this was
    // when a request went out came before it: it answers an earlier request.
    quint64 ShareListNumber() const;
    // Search replies are decoded on a worker and stored a part at a time from
    // the event loop (SearchReplyQueue); this stores every reply received so
    // far now.
    void FinishSearchReplies();

public slots:
    void OnHalfMinuteTimer();

signals:
    // Transfers.
    void FileTransferRequested(QString user, int direction, uint req, std::string file, qint64 fileSize);
    void FileTransferResponse(
        QString user, uint req, bool accepted, bool receivedFileSize, qint64 fileSize, QString denialReason);
    // The socket is handed over with every signal connection removed; it
    // belongs to the receiver from then on.
    void FileConnectionRequested(QString user, QTcpSocket* socket, uint req);
    void FileConnectionAccepted(QString user, QTcpSocket* socket);
    void QueueUploadRequested(QString user, QString file);
    void QueueDownloadRequested(QString user, std::string path, qint64 size);
    void UploadPlaceInLineRequested(QString user, QString file);
    void DownloadPlaceInLine(QString user, std::string path, int place);
    void UploadDenied(QString user, std::string path, QString reason);
    void UploadFailed(QString user, std::string path);

    // Shares and searches. A received share list is decoded on a worker and
    // announced from the event loop, lists in the order they came; the list
    // is only valid during the call.
    void UserShare(QString user, FileInfoMap& share, AttributeTranslationTable& table);
    void SharedFilesInFolderRequested(QString user, quint32 request, QString folder);
    // A share list that was refused (too many waiting, too large, malformed),
    // with the reason as the log tells it.
    void ShareListRefused(QString user, QString why);
    // One user's reply to a search, or a part of a long one, stored as a
    // search_results item.
    void SearchResults(ItemPtr results);
    // Results of a user's replies that were left out: the search had all it
    // keeps (searchFull), or too many were waiting (SearchReplyQueue.h).
    void SearchResultsDropped(quint32 ticket, QString user, qint64 results, bool searchFull);

    // User information. The picture bytes are only valid during the call. A
    // picture longer than kMaxPictureLength is left out: picture is null and
    // pictureLength is the length it had.
    void UserInfoRequested(QString user);
    void UserInfoReceived(QString user, QString description, bool hasPicture, char* picture,
        int pictureLength, int uploadSlots, int queuedUploads, bool freeToUpload);

    // Neither a direct nor a brokered connection of the type ("P", "F", "D")
    // could be made.
    void ConnectionToUserFailed(QString user, QString type);
    // A connection of the type that the user asked us to make through the
    // server could not be made; the reason is the system's.
    void ConnectionForUserFailed(QString user, QString type, QString reason);

    // A "D" connection is open: requestedByUs is true for one made with
    // ConnectToDistributedPeer (a parent candidate), false for one the peer
    // asked for (a child). The connection stays owned by the messenger; its
    // FrameReceived and Closed signals carry the rest.
    void DistributedConnectionOpened(QString user, PeerConnection* connection, bool requestedByUs);

    // Every messaging frame received, before it is handled (diagnostics).
    void MessageReceived(QString user, quint32 code, qint64 length);

    // Listen has run: the ports held or the problem may have changed.
    void ListeningChanged();

    // The connection of that serial left the table (closed, handed over,
    // or its peer left): nothing more can be sent on it.
    void ConnectionGone(quint64 connection);

private:
    struct Request;
    using Outgoing = OutgoingAttempts::Attempt;
    struct Unsent {
        QByteArrayList frame;
        qint64 queued;
    };

    // Connections (PeerMessenger.cpp).
    QTcpServer* ListenOn(int port, bool obfuscated, QString* problem = nullptr);
    bool ListenOnPair(int port, int obfuscatedPort, QString* problem = nullptr);
    bool ListenOnAnotherPair(int above);
    void StopListening();
    void OnIncoming(QTcpServer* server, bool obfuscated);
    void TakeIncoming(QTcpServer* server, bool obfuscated);
    void OnAcceptError(QTcpServer* server, QAbstractSocket::SocketError error);
    PeerConnection* NewConnection(QTcpSocket* socket, bool outgoing, bool obfuscated);
    void Forget(PeerConnection* connection);
    void OnInit(PeerConnection* connection, quint8 code, const QByteArray& payload);
    void OnConnectionClosed(PeerConnection* connection, bool wasEstablished);
    void OpenAs(PeerConnection* connection, const QString& user, const QString& type, bool requestedByUs);
    void OnRawBytes(PeerConnection* connection);
    void HandOver(PeerConnection* connection, bool accepted, uint req);
    void CloseConnection(PeerConnection* connection);
    PeerConnection* NewestMessageConnection(const QString& user) const;
    void Flush(const QString& user, PeerConnection* connection);
    void SendFramed(const QString& user, const QByteArrayList& frame);
    bool SendOn(PeerConnection* connection, const QByteArrayList& frame);

    // Room in the connection table (PeerAccepting.cpp).
    std::vector<ConnectionRoom::Seat> Seats() const;
    // Closes what the room says must go for a newcomer; false when there is
    // no room for it.
    bool MakeRoom(const QHostAddress* address, bool incoming, bool dryRun = false);
    void ReadWaitingInits();
    // Some accepted connection is still judged by its age (ReadingClock).
    bool AgesCount() const;
    void Evict(PeerConnection* connection, const QString& why);
    // Past the bound on bytes waiting for all peers: drops connections, the
    // one just written to last.
    void TrimUnsent(const void* writer);

    // Outgoing sockets and the attempts waiting for one (PeerOutgoing.cpp).
    void QueueOutgoing(Outgoing attempt);
    void StartWaitingOutgoing();
    void ScheduleWaitingOutgoing();
    // Opens the attempt's socket; the socket's serial, or 0 when the attempt
    // was settled the other way while it waited.
    quint64 Launch(const Outgoing& attempt);
    PeerConnection* NewOutgoing(const Outgoing& attempt);
    PeerConnection* LaunchDirect(Request& request, const Outgoing& attempt);
    PeerConnection* LaunchBrokered(const Outgoing& attempt);
    void Settled(PeerConnection* connection);
    void RefuseBrokered(quint32 token, const QString& user, const QString& type, const QString& why);
    void ExpireWaitingOutgoing(qint64 now);

    // Connection attempts (PeerRequests.cpp).
    void RequestConnection(const QString& user, const QString& type, bool addressKnown = false,
        quint32 ip = 0, quint16 port = 0);
    Request* FindRequest(const QString& user, const QString& type);
    // Forgets the attempt (the caller deletes it); null when there is none.
    Request* TakeRequest(quint32 token);
    void OnPeerAddress(QString user, quint32 ip, quint16 port, bool obfuscated, quint16 obfuscatedPort);
    void ConnectDirect(Request& request, quint32 ip, quint16 port, bool obfuscated);
    void OnDirectFailed(quint32 token);
    void OnBrokeredFailed(quint32 token);
    void CheckFailed(quint32 token);
    void Complete(quint32 token, PeerConnection* connection);
    void OnConnectToPeerRequested(QString user, QString type, quint32 ip, quint16 port, quint32 token,
        bool privileged, bool obfuscated, quint16 obfuscatedPort);

    // Messages (PeerMessages.cpp).
    void Dispatch(PeerConnection* connection, const QByteArray& frame);
    // `from` is null for a message not from a connection (ProcessMessage).
    void DispatchMessage(const QString& user, const QByteArray& frame, PeerConnection* from = nullptr);
    void OnSharedFileList(const QString& user, const QByteArray& frame);
    void OnShareListFailed(QString user, QString why);
    void OnSearchResults(const QString& user, const QByteArray& frame);
    void OnUserInfoReply(const QString& user, MemStream& in);
    MemStream EmptyShareMessage() const;
    void DeclareTypes();

    QString OwnUser() const;

    QTcpServer* m_listener = nullptr;
    QTcpServer* m_obfuscatedListener = nullptr;
    QString m_listeningProblem;
    std::vector<PeerConnection*> m_connections; // in order of creation
    // Connections whose peers left, out of the table while their last
    // frames are handled; at most Budget().total.
    QSet<PeerConnection*> m_leaving;
    QMultiHash<QString, PeerConnection*> m_messaging; // "P" ones by user
    quint64 m_serials = 0;
    std::map<quint32, Request*> m_requests; // by token
    QMultiHash<QString, quint32> m_requestsByUser; // their tokens by user
    // Messaging attempts that one way has won: the other way's connection is
    // kept too (the peer may already be sending on it). Token -> user, time.
    std::map<quint32, std::pair<QString, qint64>> m_wonMessageTokens;
    std::map<QString, std::deque<Unsent>> m_unsent;
    SharedFilesMessageProvider m_shareProvider;
    FolderReplyBuilder m_folderReplies;
    ShareListDecoder* m_shareLists;
    SearchReplyQueue* m_searchReplies;
    bool m_preferObfuscated = false;

    ConnectionRoom m_room;
    // The age of accepted connections, counted while some are young.
    ReadingClock m_readingClock { [this] { return AgesCount(); } };
    bool m_takeQueued[2] = { false, false }; // per listener: plain, obfuscated
    OutgoingAttempts m_outgoing;
    bool m_outgoingQueued = false;
    UnsentBytes m_unsentBytes;
    // Users whose share list is being built for them, since when: their
    // connections are busy, not idle.
    QHash<QString, qint64> m_shareListsDue;
    QuietLog m_evictions { QStringLiteral("Peer Messenger") };
    QuietLog m_refusals { QStringLiteral("Peer Messenger") };
};

extern PeerMessenger* peerMessenger;
