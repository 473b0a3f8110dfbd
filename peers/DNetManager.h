#pragma once
// The distributed search tree.
//
// While without a parent the client tries the possible parents that the
// server names (code 102) with "D" connections; the first that tells its
// branch level or root becomes the parent and the other candidates are
// closed. The server then learns: no longer looking for a parent (71 false),
// the level (126, the parent's level + 1) and the root (127, the parent's
// root). Children are peers that open "D" connections to us; each is told
// our level and root on connect and whenever they change, and is pinged on
// the 30-second timer so that it can tell a quiet parent from a lost one.
//
// Every search request from the parent, or embedded (93) from the server,
// is announced with DNetSearchRequest and forwarded unchanged to every child.
// A parent silent for kParentTimeout seconds, or one that closes, is dropped
// and the search for a parent starts again. The server's reset (130) drops
// the parent and the children. At most kMaxChildren children are kept; the
// server is told to send no more while the client is full.
#include "store/Event.h"
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <map>

class PeerConnection;
struct PossibleParent;

class DNetManager : public QObject, public DataHandler {
    Q_OBJECT
public:
    static constexpr qint64 kParentTimeout = 120;
    static constexpr int kMaxChildren = 25;
    static constexpr int kMaxCandidates = 5;

    // Sets the global dnetManager and connects to the server, the peer
    // messenger and the 30-second timer. Needs gp_server and peerMessenger.
    explicit DNetManager(QObject* parent = nullptr);
    ~DNetManager() override;

    bool HasParent() const { return m_parent != nullptr; }
    QString ParentUser() const;
    qint32 Level() const { return m_level; }
    QString Root() const;
    QStringList Children() const;
    quint32 ChildDepth() const { return m_childDepth; }

    // Drops a silent parent as of now (seconds since the epoch); the timer
    // calls it with the current time.
    void CheckParent(qint64 now);

public slots:
    void OnHalfMinuteTimer();

signals:
    // A search request from the tree (or embedded by the server while we are
    // a branch root); it has already been forwarded to the children.
    void DNetSearchRequest(QString user, quint32 ticket, QString query);
    // Changes of the tree, for diagnostics and tests.
    void ParentAdopted(QString user);
    void ParentLost(QString user);
    void ChildAdded(QString user);
    void ChildRemoved(QString user);

private:
    void OnServerConnected();
    void OnPossibleParents(QList<PossibleParent> parents);
    void OnConnectionOpened(QString user, PeerConnection* connection, bool requestedByUs);
    void OnConnectionFailed(QString user, QString type);
    void Watch(PeerConnection* connection);
    void OnEmbedded(quint8 code, QByteArray payload);
    void OnReset();
    void OnParentFrame(PeerConnection* connection, const QByteArray& frame);
    void OnChildFrame(PeerConnection* connection, const QByteArray& frame);
    void OnClosed(PeerConnection* connection);
    // A search request frame (u8 code 3 first): forwarded and announced.
    void HandleSearch(const QByteArray& frame);
    void Adopt(PeerConnection* connection);
    void DropParent(bool lookAgain);
    void DropChildren();
    void SendToChildren(const QByteArray& frame);
    void TellChildren();
    void TellServer();
    void UpdateChildDepth();
    void ReportAcceptChildren();
    QString OwnUser() const;

    PeerConnection* m_parent = nullptr;
    QString m_parentUser;
    qint64 m_parentHeard = 0;
    std::map<QString, PeerConnection*> m_candidates;
    // A child may briefly have two connections (direct and brokered) until it
    // closes the one it does not keep: children are kept by connection.
    std::map<PeerConnection*, QString> m_children;
    std::map<PeerConnection*, quint32> m_childDepths;
    qint32 m_level = 0;
    QString m_root; // empty: ourselves
    quint32 m_childDepth = 0;
    bool m_acceptingChildren = true;
};

extern DNetManager* dnetManager;
