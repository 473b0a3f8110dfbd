// Rows of the floods benchmark where what peers ask for grows with the share
// or the crowd: the parent in the distributed tree passing down searches that
// match every file of a big share, and a thousand peers each queueing a
// hundred uploads while the Uploads tab is open. Each prints its stall, its
// peak memory and what stays once its peers are gone (MiB).
#pragma once
#include "PeerFloods.h"
#include "Ui_MainWindow.h"
#include "pages/transfers/TransfersForm.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "transfers/TransferQueueManager.h"
#include <QElapsedTimer>
#include <algorithm>

namespace {

constexpr int kWholeShareFiles = 50000;
constexpr int kWholeShareSearches = 200;
constexpr int kWholeSearchesPerTenth = 10; // 100 a second
constexpr int kQueueingPeers = 1000;
constexpr int kUploadsPerPeer = 100;
constexpr int kPeersPerWave = 200;

// A shared folder of 50,000 files in albums of 20, all under one folder whose
// name is a word of every file; the wire paths of its first files, for
// queueing uploads.
struct WholeShare {
    ScratchFolder folder { "floods_whole" };
    QStringList wirePaths;
    bool made = false;

    bool Make()
    {
        if (made)
            return true;
        if (!folder.isValid())
            return false;
        const QString root = folder.path() + QStringLiteral("/wholeshare");
        for (int i = 0; i < kWholeShareFiles; ++i) {
            const QString dir = root + QStringLiteral("/album %1").arg(i / 20);
            if (i % 20 == 0)
                QDir().mkpath(dir);
            const QString path = dir + QStringLiteral("/track %1 of everything shared here.mp3").arg(i);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return false;
            if (wirePaths.size() < kUploadsPerPeer)
                wirePaths << QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
        }
        sharedFoldersManager->AddSharedFolder(root) += d.GetType("shared_public")->NewItem();
        made = gui::WaitFor([] { return !sharedFoldersManager->IsScanning(); }, 300000);
        return made;
    }
};

WholeShare& TheWholeShare()
{
    static WholeShare share;
    return share;
}

void AddWholeShareSearchRow(FloodRun& run)
{
    const QString row = QStringLiteral("parent_search_whole_share");
    auto mark = std::make_shared<MemoryMark>();
    auto parentPort = std::make_shared<DescriptorServer>();
    auto parent = std::make_shared<std::unique_ptr<StreamingPeer>>();
    auto searched = std::make_shared<TreeSearches>();
    // Ten searches every tenth of a second, each of another user.
    std::vector<QByteArray> bursts;
    if (run.Wants(row))
        for (int sent = 0; sent < kWholeShareSearches; ++sent) {
            if (sent % kWholeSearchesPerTenth == 0)
                bursts.emplace_back();
            DistributedSearch search;
            search.user = QStringLiteral("whole searcher %1").arg(sent);
            search.token = quint32(sent);
            search.query = QStringLiteral("wholeshare");
            bursts.back() += Framed(EncodeDistributedSearch(search));
        }
    const bool runs = run.Add(
        row,
        [=] {
            mark->Begin();
            searched->Watch(searched);
            AdoptParent(
                parentPort, QStringLiteral("wholeparent"), [=](std::unique_ptr<StreamingPeer> adopted) {
                    *parent = std::move(adopted);
                    auto* pace = new QTimer;
                    auto next = std::make_shared<size_t>(0);
                    QObject::connect(pace, &QTimer::timeout, [=] {
                        if (*parent)
                            (*parent)->Peer().SendRaw(bursts[(*next)++]);
                        if (*next == bursts.size())
                            pace->deleteLater();
                    });
                    pace->start(100);
                });
        },
        [=] { return searched->processed == kWholeShareSearches; }, 600000, [] { TheWholeShare().Make(); });
    if (runs)
        run.After([=] {
            FloodRun::Print(row + QStringLiteral("_answered"), searched->answered, "searches");
            PrintMemory(row, *mark, [parent] { parent->reset(); });
        });
}

void AddUploadQueueRow(FloodRun& run)
{
    const QString row = QStringLiteral("upload_queue_1000_peers");
    auto mark = std::make_shared<MemoryMark>();
    auto queued = std::make_shared<int>(0);
    auto asks = std::make_shared<std::vector<QByteArray>>();
    MainWindow* window = run.Window();
    const bool runs = run.Add(
        row,
        [=, &run] {
            mark->Begin();
            window->Ui().tabControl->setCurrentWidget(window->Ui().transfersTab);
            transfersForm->TabControl()->setCurrentIndex(1); // Uploads
            *queued = int(d.GetType("upload_entry")->Count());
            // In waves of peers that stay until the window has taken their
            // asks: more at once than it keeps connections would only be
            // turned away at the door. A wave leaves on the peers' thread,
            // the window's not waiting for it.
            auto wave = std::make_shared<int>(0);
            auto* waves = new QTimer;
            QObject::connect(waves, &QTimer::timeout, [=, &run] {
                const int first = *wave * kPeersPerWave;
                if (*wave > 0 && int(d.GetType("upload_entry")->Count()) < *queued + first * kUploadsPerPeer)
                    return;
                run.Peers().CloseLater();
                if (first == kQueueingPeers) {
                    waves->deleteLater();
                    return;
                }
                for (int p = first; p < first + kPeersPerWave; ++p)
                    run.Peers().Add(QStringLiteral("queueing peer %1").arg(p), *asks);
                ++*wave;
            });
            waves->start(20);
        },
        // Every upload in its row.
        [=] {
            const int want = *queued + kQueueingPeers * kUploadsPerPeer;
            if (int(d.GetType("upload_entry")->Count()) < want)
                return false;
            int rows = 0;
            QTreeWidget* tree = transfersForm->UploadsList();
            for (int u = 0; u < tree->topLevelItemCount(); ++u)
                for (int f = 0; f < tree->topLevelItem(u)->childCount(); ++f)
                    rows += tree->topLevelItem(u)->child(f)->childCount();
            return rows >= want;
        },
        600000,
        [=] {
            TheWholeShare().Make();
            asks->clear();
            for (const QString& path : TheWholeShare().wirePaths)
                asks->push_back(EncodePathMessage(PM_QUEUE_UPLOAD, path).GetBuffer());
        });
    if (runs)
        run.After([=] {
            // Then the peers are online and one upload ends after another:
            // what starting the next costs with the whole queue waiting.
            ItemPtr online = d.GetType("is_online")->GetGlobalNullItem();
            for (int p = 0; p < kQueueingPeers; ++p)
                d.GetType("user")->GetItem(Value(QStringLiteral("queueing peer %1").arg(p))) += online;
            ItemPtr requesting = d.GetType("upload_entry_status")->HasItem("requesting");
            // The longest of 20 calls, back to back or each in a pass of its own.
            auto startNext = [=](bool apart) {
                double longest = 0;
                for (int n = 0; n < 20; ++n) {
                    if (apart)
                        QTest::qWait(200);
                    for (ItemPtr upload : requesting.GetItems("upload_entry"))
                        transferQueueManager->SetUploadEntryStatus(upload, QStringLiteral("complete"));
                    QElapsedTimer clock;
                    clock.start();
                    transferQueueManager->StartNewUploads();
                    longest = std::max(longest, double(clock.nsecsElapsed()) / 1e3);
                }
                return longest;
            };
            FloodRun::Print(row + QStringLiteral("_start_next"), startNext(false), "us");
            FloodRun::Print(row + QStringLiteral("_start_next_apart"), startNext(true), "us");
            PrintMemory(row, *mark, [] {});
        });
}

void AddShareCrowdsRows(FloodRun& run)
{
    AddWholeShareSearchRow(run);
    AddUploadQueueRow(run);
}

} // namespace
