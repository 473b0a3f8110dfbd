// Rows of the floods benchmark that peers send through real loopback
// connections to the window's listening port: one peer's flood of messages,
// the parent in the distributed tree passing down a flood of searches while
// children read none of them, and a peer that asks for the share list again
// and again and never reads. Besides its stall, each row prints
//   <row>_peak_memory: how far the process grew above where the row began (MiB);
//   <row>_memory_after: how far above it stays once the peers are gone.
#pragma once
#include "../ScratchFolder.h"
#include "FloodRun.h"
#include "peers/DNetManager.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include <QFile>
#include <memory>

namespace {

constexpr int kPeerFloodMessages = 1000000;
constexpr int kParentFloodSearches = 100000;
constexpr int kDeafChildren = 25;
constexpr int kShareListAsks = 3000;
constexpr int kFloodShareFiles = 20000;

// The memory of a row, in MiB: where it began, its peak and what stays.
struct MemoryMark {
    qint64 start = 0;
    void Begin()
    {
        ResetPeakResident();
        start = ResidentKiB();
    }
    double Peak() const { return double(std::max<qint64>(0, PeakResidentKiB() - start)) / 1024; }
    double Now() const { return double(ResidentKiB() - start) / 1024; }
};

// A peer that writes a long run of one frame, topping its socket up as the
// system takes what it holds, so that its own buffer stays small; what comes
// back is read and dropped, unless it is deaf.
class StreamingPeer {
public:
    explicit StreamingPeer(bool reads = true)
    {
        if (reads)
            QObject::connect(&m_peer.Socket(), &QTcpSocket::readyRead, [this] { m_peer.Socket().readAll(); });
        else
            m_peer.Socket().setReadBufferSize(1); // the rest stays with the system
        QObject::connect(&m_peer.Socket(), &QTcpSocket::bytesWritten, [this] { TopUp(); });
    }
    RawPeer& Peer() { return m_peer; }
    void Stream(const QByteArray& frame, int count)
    {
        m_frame = frame;
        m_left = count;
        TopUp();
    }

private:
    void TopUp()
    {
        constexpr int kFramesAtOnce = 4096;
        if (m_left == 0 || m_peer.Socket().bytesToWrite() > 64 * 1024)
            return;
        const int n = std::min(m_left, kFramesAtOnce);
        m_left -= n;
        // Written from the event loop, which tells when it is taken.
        m_peer.Socket().write(m_frame.repeated(n));
    }
    RawPeer m_peer;
    QByteArray m_frame;
    int m_left = 0;
};

// A peer of the given type at the window's listening port; null when it
// could not connect.
std::unique_ptr<StreamingPeer> PeerAtWindow(const QString& user, const QString& type, bool reads = true)
{
    auto peer = std::make_unique<StreamingPeer>(reads);
    if (!peer->Peer().Connect(peerMessenger->ListeningPort()))
        return nullptr;
    peer->Peer().SendFrame(PeerInitBody(user, type, 0));
    return peer;
}

// Messages of the user that the window has taken in, counted from now.
std::shared_ptr<int> CountMessages(const QString& user)
{
    auto count = std::make_shared<int>(0);
    QObject::connect(peerMessenger, &PeerMessenger::MessageReceived,
        [count, user](QString from, quint32, qint64) { *count += from == user; });
    return count;
}

// The row's peak and, once its peers are gone (a second later) and the
// allocator has handed back what it keeps for reuse, what stays.
void PrintMemory(const QString& row, const MemoryMark& mark, const std::function<void()>& dropPeers)
{
    FloodRun::Print(row + QStringLiteral("_peak_memory"), mark.Peak(), "MiB");
    dropPeers();
    QTest::qWait(1000);
    malloc_trim(0);
    FloodRun::Print(row + QStringLiteral("_memory_after"), mark.Now(), "MiB");
}

void AddMessageFloodRow(FloodRun& run)
{
    const QString row = QStringLiteral("peer_message_flood");
    auto mark = std::make_shared<MemoryMark>();
    auto flooder = std::make_shared<std::unique_ptr<StreamingPeer>>();
    auto handled = std::make_shared<std::shared_ptr<int>>();
    const QByteArray ask
        = Framed(EncodePathMessage(PM_QUEUE_UPLOAD, QStringLiteral("no\\such.mp3")).GetBuffer());
    const bool runs = run.Add(
        row,
        [=] {
            mark->Begin();
            *handled = CountMessages(QStringLiteral("flooder"));
            *flooder = PeerAtWindow(QStringLiteral("flooder"), QStringLiteral("P"));
            if (*flooder)
                (*flooder)->Stream(ask, kPeerFloodMessages);
        },
        [=] { return *handled && **handled == kPeerFloodMessages; });
    if (runs)
        run.After([=] { PrintMemory(row, *mark, [flooder] { flooder->reset(); }); });
}

// The searches the tree passes down and the window's answers, from Watch().
struct TreeSearches {
    int received = 0;
    int processed = 0; // answered or found to get no answer
    int answered = 0;
    QElapsedTimer quietSince; // the last search answered or left unanswered

    void Watch(const std::shared_ptr<TreeSearches>& self)
    {
        QObject::connect(dnetManager, &DNetManager::DNetSearchRequest, [self] { ++self->received; });
        QObject::connect(
            sharedFoldersManager, &SharedFoldersManager::SearchProcessed, [self](const QString&, bool sent) {
                ++self->processed;
                self->answered += sent;
                self->quietSince.start();
            });
    }
    // Every search in, and the answers done with what they kept.
    bool Quiet(int searches) const
    {
        return received == searches && quietSince.isValid() && quietSince.elapsed() > 300;
    }
};

// The window takes a peer listening on parentPort as its parent in the tree;
// then(parent) runs once it is connected.
void AdoptParent(const std::shared_ptr<DescriptorServer>& parentPort, const QString& name,
    std::function<void(std::unique_ptr<StreamingPeer>)> then)
{
    parentPort->listen(QHostAddress::LocalHost, 0);
    emit gp_server->PossibleParents({ Candidate(name, parentPort->serverPort()) });
    auto* adopt = new QTimer;
    QObject::connect(adopt, &QTimer::timeout, [=] {
        if (parentPort->accepted.empty())
            return;
        adopt->deleteLater();
        auto parent = std::make_unique<StreamingPeer>();
        parent->Peer().Adopt(parentPort->accepted.front());
        parent->Peer().SendFrame(EncodeBranchLevel(0));
        parent->Peer().SendFrame(EncodeBranchRoot(name));
        then(std::move(parent));
    });
    adopt->start(5);
}

void AddParentFloodRow(FloodRun& run)
{
    const QString row = QStringLiteral("parent_search_flood");
    auto mark = std::make_shared<MemoryMark>();
    auto parentPort = std::make_shared<DescriptorServer>();
    auto parent = std::make_shared<std::unique_ptr<StreamingPeer>>();
    auto children = std::make_shared<std::vector<std::unique_ptr<StreamingPeer>>>();
    auto searched = std::make_shared<TreeSearches>();
    auto dropped = std::make_shared<int>(0);
    // Each search of another user, for the words of an album (20 files).
    auto searches = std::make_shared<QByteArray>();
    if (run.Wants(row)) {
        DistributedSearch search;
        for (int i = 0; i < kParentFloodSearches; ++i) {
            search.user = QStringLiteral("flood searcher %1").arg(i);
            search.token = quint32(i);
            search.query = QStringLiteral("album %1").arg(i % (kFloodShareFiles / 20));
            *searches += Framed(EncodeDistributedSearch(search));
        }
    }
    const bool runs = run.Add(
        row,
        [=] {
            mark->Begin();
            searched->Watch(searched);
            QObject::connect(dnetManager, &DNetManager::ChildRemoved, [dropped] { ++*dropped; });
            // The window takes this peer as its parent, then the children come.
            AdoptParent(
                parentPort, QStringLiteral("floodparent"), [=](std::unique_ptr<StreamingPeer> adopted) {
                    *parent = std::move(adopted);
                    for (int i = 0; i < kDeafChildren; ++i)
                        if (auto child = PeerAtWindow(
                                QStringLiteral("deaf child %1").arg(i), QStringLiteral("D"), false))
                            children->push_back(std::move(child));
                    (*parent)->Peer().SendRaw(*searches);
                });
        },
        [=] { return searched->Quiet(kParentFloodSearches); });
    if (runs)
        run.After([=] {
            FloodRun::Print(row + QStringLiteral("_children_dropped"), *dropped, "children");
            PrintMemory(row, *mark, [parent, children] {
                parent->reset();
                children->clear();
            });
        });
}

void AddDeafPeerRow(FloodRun& run)
{
    const QString row = QStringLiteral("peer_not_reading");
    auto mark = std::make_shared<MemoryMark>();
    auto hog = std::make_shared<std::unique_ptr<StreamingPeer>>();
    auto asked = std::make_shared<std::shared_ptr<int>>();
    const QByteArray ask = Framed(EncodeCodeOnly(PM_GET_SHARED_FILE_LIST).GetBuffer());
    const bool runs = run.Add(
        row,
        [=] {
            mark->Begin();
            *asked = CountMessages(QStringLiteral("hog"));
            *hog = PeerAtWindow(QStringLiteral("hog"), QStringLiteral("P"), false);
            if (*hog)
                (*hog)->Stream(ask, kShareListAsks);
        },
        // Every ask handled, and the list on its way.
        [=] {
            return *asked && **asked == kShareListAsks && *hog
                && (*hog)->Peer().Socket().bytesAvailable() > 0;
        });
    if (runs)
        run.After([=] { PrintMemory(row, *mark, [hog] { hog->reset(); }); });
}

// A shared folder of 20,000 files in albums of 20: what the parent's searches
// find, and the share list that a peer asks for.
bool ShareFloodFolder(ScratchFolder& folder)
{
    if (!folder.isValid())
        return false;
    for (int i = 0; i < kFloodShareFiles; ++i) {
        const QString dir = folder.path() + QStringLiteral("/album %1").arg(i / 20);
        if (i % 20 == 0)
            QDir().mkpath(dir);
        QFile file(dir + QStringLiteral("/flood song number %1 of a long running series.mp3").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    sharedFoldersManager->AddSharedFolder(folder.path()) += d.GetType("shared_public")->NewItem();
    return gui::WaitFor([] { return !sharedFoldersManager->IsScanning(); }, 120000);
}

void AddPeerFloodsRows(FloodRun& run)
{
    if (run.Wants(QStringLiteral("parent_search_flood")) || run.Wants(QStringLiteral("peer_not_reading"))) {
        static ScratchFolder folder("floods");
        if (!ShareFloodFolder(folder))
            std::fprintf(stderr, "bench_floods: the flood share could not be made\n");
    }
    AddMessageFloodRow(run);
    AddParentFloodRow(run);
    AddDeafPeerRow(run);
}

} // namespace
