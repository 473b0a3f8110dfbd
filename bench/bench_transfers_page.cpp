// link: pages
// The Transfers page's downloads tree built for 10,000 saved downloads of 100
// users (10 folders of 10 files each), from the load to every row in the tree,
// against a bare tree in the same run (best of five alternating rounds each).
// The bare tree does the same work the same way as the page, less the store:
// from the values the store holds (names as bytes, sizes as numbers) it makes
// the same texts (isolated names, reversed folder paths made once per folder,
// sizes with commas, the status), the same rows (the page's own row class, one
// colour per row, the offline icon), builds the user rows out of the tree and
// puts them in as one batch, then opens them all. Then the GUI
// thread's CPU while 100 of those downloads report progress at the engine's
// pace (every 500 ms each, spread over the interval), with the page shown.
//
// Usage: bench_transfers_page [downloads] [seconds]   (defaults 10000 and 10)
// With BENCH_NO_REPORT set, the emulated engine moves the counters but emits
// nothing: the CPU figure is then the emulation's own share.
// Prints:
//   transfers.progress_100_gui_cpu: N %        (100 downloads, nothing else queued)
//   transfers.page_10k_build: N ms
//   transfers.page_10k_bare_tree: N ms
//   transfers.progress_100_in_10k_gui_cpu: N %  (100 of the 10,000 report)
#include "ScratchFolder.h"
#include "TransfersCore.h"
#include "pages/transfers/TransferRow.h"
#include "pages/transfers/TransfersForm.h"
#include "shell/Kit.h"
#include "shell/TreeWidget.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kUsers = 100;
constexpr int kFolders = 10;

double ThreadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QString UserName(int u)
{
    return QStringLiteral("user%1").arg(u, 3, 10, QLatin1Char('0'));
}

std::string FolderPath(int u, int f)
{
    return QStringLiteral("music\\collection %1\\album %2").arg(u).arg(f).toStdString();
}

std::string FileName(int n)
{
    return QStringLiteral("track %1 - a song with a name.mp3").arg(n, 5, 10, QLatin1Char('0')).toStdString();
}

// Saved downloads as the data file leaves them: entries with their user,
// name, folder, size, order and status, all queued. Users take turns, so rows
// are made in the order a real queue has.
std::vector<ItemPtr> MakeDownloads(int count, int users, int folders, const QString& prefix)
{
    std::vector<ItemPtr> entries;
    entries.reserve(size_t(count));
    Type* entryType = d.GetType("download_entry");
    ItemPtr queued = d.GetType("download_entry_status")->GetItem("queued");
    for (int n = 0; n < count; ++n) {
        const int u = n % users;
        const int f = (n / users) % folders;
        ItemPtr entry = entryType->NewItem();
        entry += d.GetType("user")->GetItem(Value(prefix + UserName(u)));
        entry += d.GetType("file_name")->GetItem(Value(FileName(n)));
        entry += d.GetType("remote_folder")->GetItem(Value(FolderPath(u, f)));
        entry += d.GetType("file_size")->GetItem(Value(static_cast<long long>(4000000 + n)));
        entry += d.GetType("download_order")->NewItem(Value(n + 1));
        entry += queued;
        entries.push_back(entry);
    }
    return entries;
}

// Runs the event loop (sleeping while idle) for ms.
void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// From the load to every saved download's row in the tree, the page shown and
// idle before: the rows are made in slices, and the user rows go in with the
// last one.
double BuildPage(QWidget* host, TransfersForm*& form)
{
    delete form;
    form = new TransfersForm(host);
    host->layout()->addWidget(form);
    form->Init();
    RunEventLoop(50);
    QElapsedTimer clock;
    clock.start();
    emit transferQueueManager->TransfersLoaded();
    while (form->DownloadsList()->topLevelItemCount() == 0)
        QApplication::processEvents();
    QApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

// What a saved download's rows are made from, as the store holds it.
struct Saved {
    int user;
    int folder; // of all users'
    std::string userName, folderPath, fileName;
    qint64 size;
};

double BuildBareTree(QWidget* host, const std::vector<Saved>& saved)
{
    auto* tree = new QTreeWidget(host);
    host->layout()->addWidget(tree);
    tree->setColumnCount(9);
    tree->setUniformRowHeights(true);
    RunEventLoop(50);
    const QIcon icon(QStringLiteral(":/icons/offline_icon"));
    QElapsedTimer clock;
    clock.start();
    const QBrush queued = TransfersForm::StatusBrush(QStringLiteral("queued"));
    std::vector<TransferRow*> users(kUsers, nullptr);
    std::vector<TransferRow*> folders(size_t(kUsers * kFolders), nullptr);
    QList<QTreeWidgetItem*> added;
    for (const Saved& download : saved) {
        TransferRow*& user = users[size_t(download.user)];
        if (!user) {
            user = new TransferRow;
            user->setText(0, IsolatedText(QString::fromStdString(download.userName)));
            user->setIcon(0, icon);
            user->SetRowForeground(queued);
            added.append(user);
        }
        TransferRow*& folder = folders[size_t(download.folder)];
        if (!folder) {
            folder = new TransferRow(user);
            folder->setText(1, IsolatedText(ReversePathname(QString::fromStdString(download.folderPath))));
            folder->SetRowForeground(queued);
        }
        auto* file = new TransferRow(folder);
        file->setText(2, IsolatedText(QString::fromStdString(download.fileName)));
        file->setText(7, CommafyNumber(download.size));
        file->setText(3, QStringLiteral("queued"));
        file->SetRowForeground(queued);
    }
    tree->addTopLevelItems(added);
    tree->expandAll();
    QApplication::processEvents();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    delete tree;
    return ms;
}

// The first 100 downloads (in the 10k queue one per user) report progress
// every 500 ms each; the reports are spread over the interval as the worker
// threads' would be.
double ProgressCpu(const std::vector<ItemPtr>& entries, int seconds)
{
    std::vector<ItemPtr> active;
    for (size_t k = 0; k < 100 && k < entries.size(); ++k) {
        ItemPtr entry = entries[k];
        entry += d.GetType("write_position")->NewItem(Value(new qint64(0)));
        entry += d.GetType("bytes_per_second")->NewItem(Value(new int(0)));
        entry += d.GetType("last_receipt_time")->NewItem(Value(new QDateTime(QDateTime::currentDateTime())));
        transferQueueManager->SetDownloadEntryStatus(entry, QStringLiteral("downloading"));
        active.push_back(entry);
    }
    QApplication::processEvents();
    size_t next = 0;
    QTimer tick;
    tick.setInterval(500 / int(active.size()) > 0 ? 500 / int(active.size()) : 1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ItemPtr entry = active[next];
        next = (next + 1) % active.size();
        *entry["write_position"].AsPointer<qint64>() += 50000;
        *entry["bytes_per_second"].AsPointer<int>() = 100000;
        *entry["last_receipt_time"].AsPointer<QDateTime>() = QDateTime::currentDateTime();
        if (!qEnvironmentVariableIsSet("BENCH_NO_REPORT"))
            emit transferQueueManager->DownloadProgressed(entry);
    });
    // Every row reports once first: bars are made when a row's first report
    // is shown, and each new one lays the tree out again.
    for (ItemPtr entry : active)
        emit transferQueueManager->DownloadProgressed(entry);
    tick.start();
    RunEventLoop(1000);
    const double cpu0 = ThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunEventLoop(seconds * 1000);
    const double cpu = ThreadCpuSeconds() - cpu0;
    return 100.0 * cpu / (double(wall.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    InitShellResources();
    ScratchFolder home("transfers_page");
    qputenv("HOME", home.path().toUtf8());
    const int count = argc > 1 ? std::max(kUsers, atoi(argv[1])) : 10000;
    const int seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 10;

    MakeTransfersCore();
    QWidget window;
    window.resize(1200, 800);
    auto* layout = new QVBoxLayout(&window);
    Q_UNUSED(layout);
    window.show();
    QApplication::processEvents();

    // 100 downloads (20 users, 5 each) and nothing else in the queue.
    TransfersForm* form = nullptr;
    std::vector<ItemPtr> few = MakeDownloads(100, 20, 1, QStringLiteral("few "));
    BuildPage(&window, form);
    std::printf("transfers.progress_100_gui_cpu: %.2f %%\n", ProgressCpu(few, seconds));
    std::fflush(stdout);
    for (ItemPtr entry : few)
        transferQueueManager->RemoveDownload(entry);

    // Rounds alternate, and each figure is the best of its rounds, so a busy
    // moment of the machine hurts neither more than the other.
    const std::vector<ItemPtr> entries = MakeDownloads(count, kUsers, kFolders, QString());
    std::vector<Saved> saved;
    for (int n = 0; n < count; ++n) {
        ItemPtr entry = entries[size_t(n)];
        saved.push_back({ n % kUsers, n % kUsers * kFolders + (n / kUsers) % kFolders, entry["user"].Text(),
            entry["remote_folder"].Text(), entry["file_name"].Text(), entry["file_size"].AsInt64() });
    }
    double bare = 1e9, page = 1e9;
    for (int round = 0; round < 5; ++round) {
        bare = std::min(bare, BuildBareTree(&window, saved));
        page = std::min(page, BuildPage(&window, form));
    }
    std::printf("transfers.page_10k_build: %.1f ms\n", page);
    std::printf("transfers.page_10k_bare_tree: %.1f ms\n", bare);
    std::fflush(stdout);
    // The same while the queue holds 10,000: each report sums its user's 100.
    std::printf("transfers.progress_100_in_10k_gui_cpu: %.2f %%\n", ProgressCpu(entries, seconds));
    return 0;
}
