#pragma once
// The connection to the central server: login, framing, every request and
// every message of the server, and the server-side item types.
//
// Connection states. Idle (not connected), connecting (TCP connect and login
// under way; IsConnected() is false), logged in. A loss of a logged-in
// connection that the user did not ask for makes the connection "abruptly
// disconnected": the 30-second timer then tries again until a login succeeds
// or is refused, or the user disconnects. An attempt (the TCP connect and the
// login) that has no answer within kLoginDeadlineMs fails like any other, so a
// server that accepts the connection but stays silent never leaves the client
// connecting for good. Disconnect() and the server's
// "relogged" message (41) never lead to a reconnection.
//
// Every frame from the server is untrusted: a length above kMaxServerFrame
// breaks the connection (and starts the reconnection), a frame whose fields run
// out is dropped and logged, unknown codes are logged and skipped. Requests made
// while not logged in are dropped without notice.
//
// However much the server sends at once, its frames are handled in shares of
// the event loop's one budget, in turn with the peers' connections
// (TurnTaker.h), with a fixed part of every pass first however many peers
// stream: at most SlicedWork::kFramesPerTurn in one share, and none past its
// end; the rest waits for a later share, in order. A message too big to apply at
// once (a room list, the users of a room) leaves the rest of its work as a
// SlicedWork, done a slice per share before the frames after it. A frame that
// arrives while nothing waits in the round is handled at once.
//
// Bytes are taken from the socket only while fewer than kBacklogBytes wait
// unhandled (a frame longer than that is taken whole); the rest stays in the
// socket, whose own buffer is bounded too, so under a sustained flood TCP
// holds the server back instead of the backlog growing. When the server
// closes the connection (or it breaks), what it sent before is still handled,
// in order and in the same turns; the connection counts as lost, and the
// reconnection starts, once no whole frame is left (until then requests are
// dropped as when not logged in). Reaches() is false from the moment the
// close is known, even while it still waits in the socket behind bytes not
// read yet: what the user asks for then is told as not sent, never taken as
// said.
#include "LoginWatches.h"
#include "ServerCodes.h"
#include "UserStats.h"
#include "store/DataLoadedEventHandler.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/SlicedWork.h"
#include "store/TurnTaker.h"
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <ctime>
#include <string>
#include <unordered_map>
#include <unordered_set>

class MemStream;
class QTcpSocket;
class QTimer;
class ServerFrameReader;

// One candidate parent of the distributed search tree (server code 102).
struct PossibleParent {
    QString user;
    quint32 ip = 0; // first octet in the most significant byte
    quint16 port = 0;
};
Q_DECLARE_METATYPE(PossibleParent)

class Server : public QObject, public DataHandler, public DataLoadedEventHandler {
    Q_OBJECT
public:
    explicit Server(QObject* parent = nullptr);
    ~Server() override;

    // Declares the server-side item types and writes the default of
    // "availability_status". Safe to call again.
    void CreateData();

    // Connection.
    void Connect();
    void Disconnect();
    bool IsConnected() const { return m_loggedIn; }
    // Logged in, and the server has not closed its side (which it may have
    // done behind frames still to be handled): what is sent now reaches it.
    bool Reaches() const;
    bool IsAbruptlyDisconnected() const { return m_abrupt; }
    // The server closed the connection because the same user name logged in
    // elsewhere (until the next attempt).
    bool LoggedInElsewhere() const { return m_loggedInElsewhere; }
    // The last attempt found no server at the address (the host's name did
    // not resolve, or nothing listens on the port there).
    bool LastAttemptFoundNoServer() const { return m_foundNoServer; }
    // How long an attempt may wait for the login's answer.
    static constexpr int kLoginDeadlineMs = 45000;
    // Tests shorten the deadline.
    void SetLoginDeadline(int milliseconds);
    // The server address in use: MARROWBY_SERVER ("host:port") when set, else
    // the build's default.
    QString Host() const { return m_host; }
    quint16 Port() const { return m_port; }
    // The own address as the server saw it at the last login (0 before).
    quint32 OwnAddress() const { return m_ownAddress; }
    // The next search or connection token of this connection's counter.
    quint32 NextToken();

    // Searches.
    quint32 FileSearch(const QString& text, bool wishlist);
    quint32 SearchUserList(const QString& text);
    quint32 SearchRoom(const QString& room, const QString& text);
    void GetSearchCorrelations(const QString& text);

    // Rooms.
    void GetRoomList();
    void EnterRoom(const QString& room, bool isPrivate);
    void LeaveRoom(const QString& room);
    void SendRoomChat(const QString& room, const QString& text);
    void SetRoomTicker(const QString& room, const QString& text);
    void GiveUpPrivateRoom(const QString& room);
    void GiveUpPrivateRoomMembership(const QString& room);
    void EnablePrivateRoomAdd(bool enable);
    void AddPrivateRoomMember(const QString& room, const QString& user);
    void RemovePrivateRoomMember(const QString& room, const QString& user);
    void AddPrivateRoomOperator(const QString& room, const QString& user);
    void RemovePrivateRoomOperator(const QString& room, const QString& user);

    // Users, chat and the own account.
    void SendPrivateChat(const QString& user, QString text);
    void AddUser(const QString& user);
    void TrackUser(const QString& user);
    void UntrackUser(const QString& user);
    void GetUserStatus(const QString& user);
    void GetUserStats(const QString& user);
    void GiftPrivileges(const QString& user, int days);
    void GetOwnPrivilegesStatus();
    void SetAvailabilityStatus(bool available);
    void SendFilesFolders(int folders, int files);
    void SendUploadSpeed(int bytesPerSecond);

    // Peer connections and the distributed search tree.
    // The ports the peer network holds (0 for none), told to the server now
    // and at every login; a change has them forwarded by UPnP.
    void SetListeningPorts(quint16 port, quint16 obfuscatedPort);
    // Those ports, without the zeros.
    QList<int> ListeningPorts() const;
    void GetPeerAddress(const QString& user);
    void ConnectToPeer(quint32 token, const QString& user, const QString& type);
    void CannotConnect(quint32 token, const QString& user);
    void HaveNoParent(bool haveNoParent);
    void AcceptChildren(bool accept);
    void SetBranchLevel(quint32 level);
    void SetBranchRoot(const QString& root);
    void SetChildDepth(quint32 depth);

    // Runs received bytes through the framing and the dispatch exactly as if
    // they came from the socket (used by the fuzzer with no connection).
    void ProcessIncoming(const QByteArray& bytes);
    // Handles now what waits for later turns (the fuzzer has no event loop).
    void FinishIncoming();
    // The unhandled bytes beyond which no more are read from the socket, and
    // the most the socket itself holds.
    static constexpr qsizetype kBacklogBytes = 1024 * 1024;
    static constexpr qsizetype kSocketBufferBytes = 256 * 1024;
    // The most users a room keeps in its list, and in each of a private
    // room's lists of members and operators: the first of the list the
    // server gives when the room is entered, then those who join while
    // fewer are listed. Far more than the busiest rooms hold; a room beyond
    // it would cost the window memory and time without bound.
    static constexpr size_t kMaxRoomMembers = 20000;
    size_t MaxRoomMembers() const { return m_maxRoomMembers; }
    // Tests lower the bound.
    void SetMaxRoomMembers(size_t members) { m_maxRoomMembers = members; }
    // Bytes received from the server and not handled yet, those still in the
    // socket's buffer included.
    qsizetype Backlog() const;

    // After the data file was read (or there was none): writes "use_upnp" =
    // "yes" when it is absent and starts the port forwarding.
    void DataLoaded() override;

public slots:
    // The 30-second timer: a pending reconnection is tried.
    void OnReconnectTimer();
    // The 5-minute timer: the heartbeat.
    void EveryFiveMinutes();
    // The hourly timer: port mappings are renewed while "use_upnp" is "yes".
    void OnPortMappingTimer();

signals:
    void Connecting();
    void Connected();
    void Disconnected();
    void ConnectionFailed(QString reason);

    void PrivateChat(QString user, QString text, time_t time, bool spontaneous);
    void PrivateChatSent(QString user, QString text);
    void AdminMessage(QString message);
    void ReceivedOwnPrivilegesStatus(int seconds);
    void ReceivedUserStats(QString user, UserStats stats);
    void AddUserResponse(QString user, bool exists);

    void DirectFileSearch(QString user, quint32 ticket, QString query);
    void SearchRequested(quint32 token, QString text, bool wishlist);
    void SearchCorrelations(QString text);
    void WishListWait(uint seconds);

    void RoomChat(QString room, QString user, QString text);
    void PrivateRoomAddEnabled(bool enabled);
    void CannotCreateRoom(QString room);
    // The server's answer to entering the room came (its users follow).
    void RoomEntered(QString room);
    // More users are in the room than it keeps (kMaxRoomMembers): those
    // beyond are not listed. Said once per entry into the room.
    void RoomMembersCut(QString room);

    void PeerAddressReceived(QString user, quint32 ip, quint16 port, bool obfuscated, quint16 obfuscatedPort);
    void ConnectToPeerRequested(QString user, QString type, quint32 ip, quint16 port, quint32 token,
        bool privileged, bool obfuscated, quint16 obfuscatedPort);
    void PeerCannotConnect(quint32 token);
    void PossibleParents(QList<PossibleParent> parents);
    void EmbeddedDistributedMessage(quint8 code, QByteArray payload);
    void ResetDistributed();

private slots:
    void OnConnected();
    void OnReadyRead();
    void OnSocketDisconnected();
    void OnSocketError();

private:
    // Framing and sending (Server.cpp).
    void StartSocket();
    bool Send(quint32 code, const MemStream& fields);
    bool SendAlways(quint32 code, const MemStream& fields);
    void ReadSocket();
    void HandleArrived();
    void ProcessBuffer();
    bool HasWholeFrame() const;
    void DropIncoming();
    void CloseConnection(bool abrupt);
    void OnLost(const QString& reason);
    void OnClosedByServer(const QString& reason);
    void AfterLogin();
    void TrackUsersAtLogin();
    // At login, for one user: watched again while tracked, or tracked now
    // while still waiting for it.
    void WatchAgain(const QString& user);
    void OnUnknownUserWatched(const QString& user);
    void SendListeningPorts();

    // Dispatch of received frames (ServerDispatch.cpp, ServerRooms.cpp).
    void Dispatch(quint32 code, const QByteArray& fields);
    void Malformed(quint32 code);
    void OnLoginReply(ServerFrameReader& in);
    void OnPrivateMessage(ServerFrameReader& in);
    void OnWatchReply(ServerFrameReader& in);
    void OnUserStatus(ServerFrameReader& in);
    void OnUserStats(ServerFrameReader& in);
    // The user of a status or statistics message: made when the name was
    // asked for (and taken from the names asked), found when it exists,
    // else null.
    ItemPtr AskedOrKnownUser(QSet<QString>& asked, const std::string& name);
    void OnPrivilegedUsers(ServerFrameReader& in);
    void OnOwnPrivileges(ServerFrameReader& in);
    void OnRelatedSearches(ServerFrameReader& in);
    void OnPeerAddress(ServerFrameReader& in);
    void OnConnectToPeer(ServerFrameReader& in);
    void OnPossibleParents(ServerFrameReader& in);
    bool DispatchRoom(quint32 code, ServerFrameReader& in);
    void OnRoomList(ServerFrameReader& in);
    void OnJoinRoom(ServerFrameReader& in);
    void OnUserJoinedRoom(ServerFrameReader& in);
    void OnRoomTickers(ServerFrameReader& in);
    void OnRoomUserList(quint32 code, ServerFrameReader& in);

    // Items (ServerData.cpp).
    ItemPtr UserItem(const std::string& name);
    ItemPtr UserItem(const QString& name);
    ItemPtr RoomItem(const std::string& name);
    void SetFlag(ItemPtr item, const char* flagType, bool on);
    // now: the time of the change as StatusChangeTime gives it; the current
    // time when null (a room's join passes one for all its users).
    void SetUserStatus(ItemPtr user, quint32 status, const QString& now = QString());
    static QString StatusChangeTime();
    void SetUserStats(ItemPtr user, const UserStats& stats);
    void SetCountry(ItemPtr user, const std::string& country);
    void UpdateUserCount(ItemPtr room);
    // At the end of a session nobody's status is known, nor who is in a room:
    // the flags and the rooms' users are cleared a slice at a time in turns
    // (a room's users at once), and what is left of it at once before a new
    // session begins, so none of it reaches the next login's.
    void StartClearing();
    void FinishClearing();
    // Goes on until the deadline has passed (a room, or kItemsAtOnce users,
    // at least); true when all is done.
    bool ClearSome(const QDeadlineTimer& until);
    // The room's list has left users out: said once per entry into the room.
    void NoteMembersCut(const std::string& room);
    ItemPtr RoomGroupItem(ItemPtr room, const char* type);
    bool InRoom(const std::string& name);
    void AddTicker(ItemPtr room, ItemPtr user, const std::string& text, qint64 order);
    void RemoveTicker(ItemPtr room, ItemPtr user);
    quint32 NewSearchRequest(const QString& text, bool wishlist);

    QTcpSocket* m_socket = nullptr;
    QTimer* m_loginDeadline = nullptr;
    // Frames or work wait for a later share; a fixed part of each pass is the
    // server's, however many peers stream.
    TurnTaker m_nextTurn { [this] { ProcessBuffer(); }, TurnTaker::Part::Fixed };
    QByteArray m_inBuffer;
    qsizetype m_inPos = 0; // where the frames not yet handled begin
    SlicedWork m_rest; // of the frame being applied
    // The clearing of the session that ended: users still flagged at most,
    // and the rooms whose users go (the next of them at m_roomsCleared).
    TurnTaker m_clearTurn { [this] {
        if (!ClearSome(SlicedWork::Turn()))
            m_clearTurn.Wake();
    } };
    size_t m_flagsToClear = 0;
    std::vector<std::string> m_roomsToClear;
    size_t m_roomsCleared = 0;
    // By room: the order number of the room's next ticker, above all it has.
    std::unordered_map<std::string, qint64> m_tickerOrders;
    // Rooms whose list has left users out since they were entered.
    std::unordered_set<std::string> m_cutRooms;
    size_t m_maxRoomMembers = kMaxRoomMembers;
    bool m_inTurn = false;
    // The server closed the connection: it counts as lost with this reason
    // once the frames sent before are handled.
    bool m_closedByServer = false;
    QString m_closeReason;
    QString m_host;
    quint16 m_port = 2242;
    QString m_loginUser;
    bool m_loggedIn = false;
    bool m_abrupt = false;
    bool m_foundNoServer = false;
    bool m_loggedInElsewhere = false;
    bool m_active = false; // an attempt or a connection is open
    bool m_loginPending = false; // TCP connected, login sent, no answer yet
    QSet<QString> m_trackAtLogin; // tracking asked for while the request could not go out
    LoginWatches m_loginWatches { [this](const QString& user) { WatchAgain(user); } };
    // Users whose status or statistics were asked for and not answered yet
    // (forgotten when the connection closes).
    QSet<QString> m_statusAsked;
    QSet<QString> m_statsAsked;
    quint64 m_session = 0; // increases whenever the connection closes
    quint32 m_nextToken = 0;
    quint32 m_ownAddress = 0;
    quint32 m_sharedFolders = 0;
    quint32 m_sharedFiles = 0;
    quint16 m_listeningPort = 0;
    quint16 m_obfuscatedPort = 0;
};

extern Server* gp_server;
