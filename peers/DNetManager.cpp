#include "DNetManager.h"
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "server/Server.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <vector>

DNetManager* dnetManager = nullptr;

namespace {

const QString kArea = QStringLiteral("Distributed Network");

qint64 NowSecs()
{
    return QDateTime::currentSecsSinceEpoch();
}

// Depths beyond this are not believed; they only make numbers grow.
constexpr quint32 kMaxDepth = 1000;

} // namespace

DNetManager::DNetManager(QObject* parent)
    : QObject(parent)
{
    dnetManager = this;
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &DNetManager::OnServerConnected);
        connect(gp_server, &Server::PossibleParents, this, &DNetManager::OnPossibleParents);
        connect(gp_server, &Server::EmbeddedDistributedMessage, this, &DNetManager::OnEmbedded);
        connect(gp_server, &Server::ResetDistributed, this, &DNetManager::OnReset);
    }
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::DistributedConnectionOpened, this,
            &DNetManager::OnConnectionOpened);
        connect(
            peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &DNetManager::OnConnectionFailed);
    }
    if (timerManager)
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &DNetManager::OnHalfMinuteTimer);
}

DNetManager::~DNetManager()
{
    // The connections belong to the messenger; only our interest ends here.
    if (m_parent)
        m_parent->disconnect(this);
    for (auto& [user, c] : m_candidates)
        if (c)
            c->disconnect(this);
    for (auto& [c, user] : m_children)
        c->disconnect(this);
    if (dnetManager == this)
        dnetManager = nullptr;
}

QString DNetManager::OwnUser() const
{
    return settings.Get("username");
}
QString DNetManager::ParentUser() const
{
    return m_parent ? m_parentUser : QString();
}
QString DNetManager::Root() const
{
    return m_root.isEmpty() ? OwnUser() : m_root;
}

QStringList DNetManager::Children() const
{
    QStringList users;
    for (const auto& [c, user] : m_children)
        if (!users.contains(user))
            users.append(user);
    users.sort();
    return users;
}

void DNetManager::OnServerConnected()
{
    // A new login starts as a root looking for a parent (the server
    // connection has told the server so).
    DropParent(false);
    DropChildren();
    for (auto& [user, c] : m_candidates)
        if (c) {
            c->disconnect(this);
            c->Close();
        }
    m_candidates.clear();
    m_level = 0;
    m_root.clear();
    m_childDepth = 0;
    m_acceptingChildren = true;
}

void DNetManager::OnPossibleParents(QList<PossibleParent> parents)
{
    if (m_parent)
        return;
    const QString self = OwnUser();
    for (const PossibleParent& p : parents) {
        if (int(m_candidates.size()) >= kMaxCandidates)
            break;
        if (p.user.isEmpty() || p.user == self || m_candidates.count(p.user) || Children().contains(p.user))
            continue;
        m_candidates[p.user] = nullptr;
        Log(kArea, 2, QStringLiteral("Trying %1 as parent").arg(p.user));
        peerMessenger->ConnectToDistributedPeer(p.user, p.ip, p.port);
    }
}

void DNetManager::OnConnectionOpened(QString user, PeerConnection* connection, bool requestedByUs)
{
    if (requestedByUs) {
        auto it = m_candidates.find(user);
        if (m_parent || it == m_candidates.end() || it->second) {
            connection->Close();
            return;
        }
        it->second = connection;
        Watch(connection);
        connect(connection, &PeerConnection::FrameReceived, this,
            [this, connection](QByteArray frame) { OnParentFrame(connection, frame); });
        connect(connection, &PeerConnection::Closed, this, [this, connection] { OnClosed(connection); });
        return;
    }
    if (user == OwnUser() || (m_parent && user == m_parentUser) || int(m_children.size()) >= kMaxChildren) {
        connection->Close();
        ReportAcceptChildren();
        return;
    }
    const bool known = Children().contains(user);
    m_children[connection] = user;
    Watch(connection);
    connect(connection, &PeerConnection::FrameReceived, this,
        [this, connection](QByteArray frame) { OnChildFrame(connection, frame); });
    connect(connection, &PeerConnection::Closed, this, [this, connection] { OnClosed(connection); });
    connection->SendFrame(EncodeBranchLevel(m_level));
    connection->SendFrame(EncodeBranchRoot(Root()));
    if (!known) {
        Log(kArea, 2, QStringLiteral("%1 joined as a child").arg(user));
        emit ChildAdded(user);
    }
    ReportAcceptChildren();
}

void DNetManager::Watch(PeerConnection* connection)
{
    // The messenger owns the connection; should it be deleted without a
    // close (the messenger going first), nothing here may point at it.
    connect(connection, &QObject::destroyed, this, [this, connection] {
        if (m_parent == connection)
            m_parent = nullptr;
        std::erase_if(m_candidates, [connection](const auto& e) { return e.second == connection; });
        m_children.erase(connection);
        m_childDepths.erase(connection);
    });
}

void DNetManager::OnConnectionFailed(QString user, QString type)
{
    if (type != QLatin1String("D"))
        return;
    auto it = m_candidates.find(user);
    if (it != m_candidates.end() && !it->second)
        m_candidates.erase(it);
}

void DNetManager::OnParentFrame(PeerConnection* connection, const QByteArray& frame)
{
    if (frame.isEmpty())
        return;
    const quint8 code = quint8(frame.at(0));
    if (connection != m_parent) {
        // A candidate becomes the parent by telling its place in the tree.
        if (m_parent || (code != DM_BRANCH_LEVEL && code != DM_BRANCH_ROOT))
            return;
        Adopt(connection);
    }
    m_parentHeard = NowSecs();
    const QByteArray payload = frame.mid(1);
    MemStream in(payload);
    switch (code) {
    case DM_SEARCH_REQUEST:
        HandleSearch(frame);
        return;
    case DM_BRANCH_LEVEL: {
        qint32 level;
        if (!in.ReadInt32(level) || level < 0 || level > qint32(kMaxDepth))
            return;
        if (m_level != level + 1) {
            m_level = level + 1;
            TellServer();
            TellChildren();
        }
        return;
    }
    case DM_BRANCH_ROOT: {
        QString root;
        if (!in.ReadString(root) || root.isEmpty())
            return;
        if (m_root != root) {
            m_root = root;
            TellServer();
            TellChildren();
        }
        return;
    }
    case DM_EMBEDDED:
        if (!payload.isEmpty() && quint8(payload.at(0)) == DM_SEARCH_REQUEST)
            HandleSearch(payload);
        return;
    default:
        return; // pings and the rest only show that the parent is there
    }
}

void DNetManager::OnChildFrame(PeerConnection* connection, const QByteArray& frame)
{
    if (frame.isEmpty() || quint8(frame.at(0)) != DM_CHILD_DEPTH)
        return;
    MemStream in(frame.mid(1));
    quint32 depth;
    if (!in.ReadUInt32(depth))
        return;
    m_childDepths[connection] = std::min(depth, kMaxDepth);
    UpdateChildDepth();
}

void DNetManager::OnEmbedded(quint8 code, QByteArray payload)
{
    if (code != DM_SEARCH_REQUEST)
        return;
    QByteArray frame;
    frame.append(char(code));
    frame.append(payload);
    HandleSearch(frame);
}

void DNetManager::HandleSearch(const QByteArray& frame)
{
    DistributedSearch search;
    if (!DecodeDistributedSearch(frame.mid(1), search)) {
        Log(kArea, 2, QStringLiteral("Dropped a malformed search request"));
        return;
    }
    // Down the tree first, unchanged; then answered here.
    SendToChildren(frame);
    emit DNetSearchRequest(search.user, search.token, search.query);
}

void DNetManager::Adopt(PeerConnection* connection)
{
    m_parent = connection;
    m_parentUser = connection->user;
    m_parentHeard = NowSecs();
    std::vector<PeerConnection*> others;
    for (auto& [user, c] : m_candidates)
        if (c && c != connection)
            others.push_back(c);
    m_candidates.clear();
    for (PeerConnection* c : others) {
        c->disconnect(this);
        c->Close();
    }
    m_level = std::max(m_level, 1);
    Log(kArea, 1, QStringLiteral("%1 is our parent").arg(m_parentUser));
    if (gp_server)
        gp_server->HaveNoParent(false);
    if (m_childDepth)
        connection->SendFrame(EncodeChildDepth(m_childDepth));
    emit ParentAdopted(m_parentUser);
}

void DNetManager::DropParent(bool lookAgain)
{
    if (m_parent) {
        PeerConnection* parent = m_parent;
        m_parent = nullptr;
        parent->disconnect(this);
        parent->Close();
        Log(kArea, 1, QStringLiteral("Dropped parent %1").arg(m_parentUser));
        emit ParentLost(m_parentUser);
    }
    m_level = 0;
    m_root.clear();
    if (lookAgain) {
        if (gp_server && gp_server->IsConnected()) {
            gp_server->HaveNoParent(true);
            TellServer();
        }
        TellChildren();
    }
}

void DNetManager::DropChildren()
{
    std::map<PeerConnection*, QString> children;
    children.swap(m_children);
    m_childDepths.clear();
    QStringList gone;
    for (auto& [c, user] : children) {
        c->disconnect(this);
        c->Close();
        if (!gone.contains(user))
            gone.append(user);
    }
    for (const QString& user : gone)
        emit ChildRemoved(user);
    UpdateChildDepth();
}

void DNetManager::OnClosed(PeerConnection* connection)
{
    if (connection == m_parent) {
        m_parent = nullptr;
        Log(kArea, 1, QStringLiteral("Parent %1 went away").arg(m_parentUser));
        emit ParentLost(m_parentUser);
        DropParent(true);
        return;
    }
    for (auto it = m_candidates.begin(); it != m_candidates.end(); ++it) {
        if (it->second == connection) {
            m_candidates.erase(it);
            return;
        }
    }
    auto child = m_children.find(connection);
    if (child != m_children.end()) {
        const QString user = child->second;
        m_children.erase(child);
        m_childDepths.erase(connection);
        UpdateChildDepth();
        if (!Children().contains(user))
            emit ChildRemoved(user);
        ReportAcceptChildren();
    }
}

void DNetManager::OnReset()
{
    Log(kArea, 1, QStringLiteral("The server reset the distributed network"));
    DropChildren();
    ReportAcceptChildren();
    DropParent(true);
}

void DNetManager::SendToChildren(const QByteArray& frame)
{
    for (auto& [c, user] : m_children)
        c->SendFrame(frame);
}

void DNetManager::TellChildren()
{
    SendToChildren(EncodeBranchLevel(m_level));
    SendToChildren(EncodeBranchRoot(Root()));
}

void DNetManager::TellServer()
{
    if (!gp_server)
        return;
    gp_server->SetBranchLevel(quint32(m_level));
    gp_server->SetBranchRoot(Root());
}

void DNetManager::UpdateChildDepth()
{
    quint32 depth = 0;
    if (!m_children.empty()) {
        quint32 deepest = 0;
        for (const auto& [c, d] : m_childDepths)
            deepest = std::max(deepest, d);
        depth = std::min(deepest + 1, kMaxDepth);
    }
    if (depth == m_childDepth)
        return;
    m_childDepth = depth;
    if (gp_server)
        gp_server->SetChildDepth(depth);
    if (m_parent)
        m_parent->SendFrame(EncodeChildDepth(depth));
}

void DNetManager::ReportAcceptChildren()
{
    const bool accept = int(m_children.size()) < kMaxChildren;
    if (accept == m_acceptingChildren)
        return;
    m_acceptingChildren = accept;
    if (gp_server)
        gp_server->AcceptChildren(accept);
}

void DNetManager::OnHalfMinuteTimer()
{
    CheckParent(NowSecs());
}

void DNetManager::CheckParent(qint64 now)
{
    if (m_parent && now - m_parentHeard > kParentTimeout) {
        Log(kArea, 1, QStringLiteral("Parent %1 has been silent; looking for another").arg(m_parentUser));
        DropParent(true);
    }
    // Candidates that connected but never told their place are given up.
    std::vector<PeerConnection*> silent;
    for (auto& [user, c] : m_candidates)
        if (c && now - c->Created() > kParentTimeout)
            silent.push_back(c);
    for (PeerConnection* c : silent)
        c->Close();
    if (!m_parent && m_candidates.empty() && gp_server && gp_server->IsConnected())
        gp_server->HaveNoParent(true); // the server answers with possible parents
    if (!m_children.empty())
        SendToChildren(EncodeDistributedPing());
}
