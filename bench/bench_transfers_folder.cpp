// link: pages
// A whole folder of a browsed share downloaded with a double click on it in
// the browse tab, the Transfers page a tab beside it, out of sight:
//   transfers.add_folder_100k_longest_stall  the longest time the event loop
//                              was kept waiting, from the double click until
//                              every download is queued and in its row
//   transfers.add_folder_100k  seconds until then
//   transfers.remove_one_of_100k  then the longest time the event loop was
//                              kept waiting by one of five removals of a
//                              download, the Transfers page shown (ms)
// Usage: bench_transfers_folder [files] [files per folder]
//   (defaults 100000 and 100000: one folder; "100000 5" downloads a folder
//   holding 20,000 folders of 5 files). With STALL_TRACE=<ms> set, the
//   events of each stall that long are printed (floods/StallTrace.h).
#include "ScratchFolder.h"
#include "TransfersCore.h"
#include "floods/StallTrace.h"
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "pages/transfers/TransfersForm.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TreeWidget.h"
#include "store/Data.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

void Print(const char* name, double value, const char* unit)
{
    std::printf("%s: %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

// The share of a peer: "Music\Big" holding the files, directly or in
// folders of perFolder files each.
QByteArray ShareListFrame(int files, int perFolder)
{
    FileInfoMap share;
    const std::string top = "Music\\Big";
    share[top];
    for (int n = 0; n < files; ++n) {
        const std::string folder
            = perFolder >= files ? top : top + "\\Album " + std::to_string(n / perFolder);
        FileInfo info;
        info.name = std::to_string(n % perFolder + 1) + " - Some Fairly Long Track Title.mp3";
        info.size = 3000000 + n;
        share[folder].insert(info);
    }
    MemStream body;
    share.Write(body);
    AttributeTranslationTable().Write(body);
    return SharedFoldersManager::CompressedMessage(PM_SHARED_FILE_LIST, body.GetBuffer()).GetBuffer();
}

// The longest gap between two turns of the event loop while it runs.
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void Start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start();
    }
    double Stop()
    {
        m_timer.stop();
        return double(std::max(m_longest, m_clock.nsecsElapsed() - m_last)) / 1e6;
    }
    double Seconds() const { return double(m_clock.nsecsElapsed()) / 1e9; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Runs the event loop (sleeping while idle) until done() holds, looked at
// every millisecond; false after the limit.
bool RunUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > limitMs)
            loop.quit();
    });
    check.start();
    loop.exec();
    return done();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TracingApplication app(argc, argv);
    InitShellResources();
    ScratchFolder home("transfers_folder");
    qputenv("HOME", home.path().toUtf8());
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    const int perFolder = argc > 2 ? std::max(1, std::atoi(argv[2])) : files;

    MakeTransfersCore();
    settings.Set("download_folder", home.path() + QStringLiteral("/downloads"));
    QMainWindow window;
    actionBar = new ActionSetToolBar(&window);
    window.addToolBar(actionBar);
    eventToolBar = new EventToolBar(&window);
    auto* tabs = new QTabWidget(&window);
    window.setCentralWidget(tabs);
    auto* shares = new SharesForm(tabs);
    tabs->addTab(shares, QStringLiteral("Browse"));
    shares->Init();
    auto* transfers = new TransfersForm(tabs);
    tabs->addTab(transfers, QStringLiteral("Transfers"));
    transfers->Init();
    emit transferQueueManager->TransfersLoaded();
    window.resize(1200, 800);
    window.show();

    QPointer<ShareForm> form = static_cast<ShareForm*>(shares->OpenShareBrowse(QStringLiteral("bob")));
    peerMessenger->ProcessMessage(QStringLiteral("bob"), ShareListFrame(files, perFolder));
    QTreeWidgetItem* big = nullptr;
    if (!RunUntil(
            [&] {
                if (!form || !form->FolderTree()->isVisibleTo(form))
                    return false;
                const auto rows = form->FolderTree()->findItems(
                    IsolatedText(QStringLiteral("Big")), Qt::MatchExactly | Qt::MatchRecursive, 0);
                big = rows.isEmpty() ? nullptr : rows.first();
                return big != nullptr;
            },
            120000)) {
        std::fprintf(stderr, "the share was not shown within two minutes\n");
        return 1;
    }

    // The folder chosen first, as a user would, and its files listed.
    form->FolderTree()->setCurrentItem(big);
    const int listed = perFolder >= files ? files : 0;
    if (!RunUntil(
            [&] {
                return form->FileList()->isSortingEnabled() && form->FileList()->topLevelItemCount() == listed;
            },
            120000)) {
        std::fprintf(stderr, "the folder's files were not listed within two minutes\n");
        return 1;
    }

    Type* entries = d.GetType("download_entry");
    Type* fileRows = d.GetType("download_list_node");
    QTreeWidget* downloads = transfers->DownloadsList();
    StallProbe probe;
    probe.Start();
    QTimer::singleShot(0, [&] { emit form->FolderTree()->itemDoubleClicked(big, 0); });
    const bool queued = RunUntil(
        [&] {
            return entries->Count() == size_t(files) && fileRows->Count() == size_t(files)
                && downloads->topLevelItemCount() == 1;
        },
        600000);
    const double seconds = probe.Seconds();
    const double stall = probe.Stop();
    if (!queued) {
        std::fprintf(stderr, "%zu of %d downloads queued and %zu in rows after ten minutes\n", entries->Count(),
            files, fileRows->Count());
        return 1;
    }
    Print("transfers.add_folder_100k_longest_stall", stall, "ms");
    Print("transfers.add_folder_100k", seconds, "s");

    // Removals with the Transfers page in sight, its rows laid out first.
    tabs->setCurrentWidget(transfers);
    RunUntil([] { return false; }, 500);
    const ItemList all = entries->GetItems().ToList();
    double longest = 0;
    for (int k = 1; k <= 5; ++k) {
        ItemPtr entry = all[all.size() * size_t(k) / 6];
        probe.Start();
        QTimer::singleShot(0, [entry] { transferQueueManager->RemoveDownload(entry); });
        RunUntil([] { return false; }, 300);
        longest = std::max(longest, probe.Stop());
    }
    Print("transfers.remove_one_of_100k", longest, "ms");
    return 0;
}
