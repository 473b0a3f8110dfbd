// link: mainwindow
// The client with a long download queue: 100,000 queued downloads (100 users,
// 1,000 folders) and a share of 10,000 files in its data file, the window
// started as the client starts it.
//   app.startup_100k_downloads_init: how long the window's own start took (the
//     data file loaded, the pages set up) before the event loop first turned.
//   app.startup_100k_downloads_longest_stall: the longest time the event loop
//     did not turn, from its first turn until every restored row is in the
//     list, and 5 s more.
//   app.startup_100k_downloads: from the start of the process until then.
//   store.save_100k_downloads_longest_stall: the longest time the event loop
//     did not turn while a change of the queue is saved, as the window saves
//     it (from the change until the file is written, and 1 s more).
//   app.exit_100k_downloads: from the window's close to the end of its process.
//   app.rss_100k_downloads_before, _added, _removed: resident memory of the
//     window started on the same share without downloads, once the queue was
//     added to it (a thousand at a time) and its rows shown, and once every
//     download was removed again (and 5 s more).
// Usage: bench_app_queue [downloads]   (default 100000)
// The roles below run in child processes of this program (MARROWBY_BENCH_ROLE).
#include "AppBench.h"
#include "ProcessMemory.h"
#include "ScratchFolder.h"
#include "StoreBench.h"
#include "pages/transfers/TransfersForm.h"
#include "shell/TreeWidget.h"
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

const long kSharedFiles = 10000;
const char kDownloads[] = "MARROWBY_BENCH_DOWNLOADS";

long Downloads() { return qEnvironmentVariableIntValue(kDownloads); }

// Downloads [first, end) of the queue: a hundred users with ten folders of a
// hundred files each.
void MakeQueue(long first, long end)
{
    for (long k = first; k < end; ++k)
        transferQueueManager->AddDownload(QStringLiteral("uploader%1").arg(k / 1000),
            QStringLiteral("track %1.flac").arg(k % 100).toStdString(),
            QStringLiteral("music\\album %1").arg(k / 100).toStdString(), 20000000, false, 0);
}

// Counts how late a 10 ms timer fires, from its first tick on.
struct StallProbe {
    QTimer timer;
    QElapsedTimer tick;
    qint64 longest = 0;
    std::function<void()> onTick;
    StallProbe()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (tick.isValid())
                longest = std::max(longest, tick.elapsed() - 10);
            tick.start();
            if (onTick)
                onTick();
        });
        timer.start();
    }
};

// Every restored row in the list: as many file rows as downloads.
bool RowsShown(long downloads)
{
    if (downloads == 0)
        return true;
    Type* nodes = d.HasType("download_list_node");
    QTreeWidget* list = transfersForm->DownloadsList();
    if (!nodes || long(nodes->Count()) < downloads || list->topLevelItemCount() == 0)
        return false;
    long rows = 0;
    for (int u = 0; u < list->topLevelItemCount(); ++u)
        for (int f = 0; f < list->topLevelItem(u)->childCount(); ++f)
            rows += list->topLevelItem(u)->child(f)->childCount();
    return rows >= downloads;
}

void Say(const char* line, double value = -1)
{
    if (value < 0)
        std::printf("%s\n", line);
    else
        std::printf("%s %.3f\n", line, value);
    std::fflush(stdout);
}

// Runs the event loop until done() holds, checked every 100 ms; false after
// ten minutes.
bool WaitUntil(const std::function<bool()>& done)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > 600000)
            return false;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window started on the queue: its start, a save, its close.
int Queue()
{
    QElapsedTimer init;
    init.start();
    MainWindow* window = ShowWindow();
    Say("init", init.nsecsElapsed() / 1e6);
    auto probe = std::make_unique<StallProbe>();
    const long downloads = Downloads();
    if (!WaitUntil([&] { return RowsShown(downloads); }))
        return 1;
    Say("shown");
    Settle(5000);
    Say("stall", double(probe->longest));

    probe = std::make_unique<StallProbe>();
    emit transferQueueManager->DownloadQueueChanged();
    Settle(2500);
    if (!WaitUntil([] { return !dataSaver->Saving(); }))
        return 1;
    Settle(1000);
    Say("save", double(probe->longest));
    probe.reset();

    Say("closing");
    window->close();
    delete window;
    return 0;
}

// The window started without downloads: its memory, then with the queue
// added (the downloads of MakeQueue, a thousand at a time as the user adds
// folders), then once every one is removed again.
int Memory()
{
    ShowWindow();
    Settle(2000);
    Say("before", StatusMiB("VmRSS:"));
    const long downloads = Downloads();
    for (long k = 0; k < downloads; k += 1000) {
        MakeQueue(k, std::min(k + 1000, downloads));
        QCoreApplication::processEvents();
    }
    if (!WaitUntil([&] { return RowsShown(downloads); }))
        return 1;
    Settle(2000);
    Say("added", StatusMiB("VmRSS:"));
    Type* entries = d.GetType("download_entry");
    while (ItemPtr entry = entries->GetItems().First()) {
        for (int k = 0; k < 1000 && entry; ++k, entry = entries->GetItems().First())
            transferQueueManager->RemoveDownload(entry);
        QCoreApplication::processEvents();
    }
    Settle(5000);
    Say("removed", StatusMiB("VmRSS:"));
    std::_Exit(0);
}

// The figure a child says after the word, printed as the row.
bool Row(Child& child, const char* word, const char* row, const char* unit, double scale = 1)
{
    const QString value = child.WaitFor(word);
    if (value.isNull()) {
        std::fprintf(stderr, "bench_app_queue: no %s from the window\n", word);
        return false;
    }
    std::printf("%s: %.3f %s\n", row, value.toDouble() * scale, unit);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const long downloads = argc > 1 ? std::atol(argv[1]) : 100000;
    const QByteArray role = qgetenv(kRole);
    if (role == "generate") {
        QCoreApplication app(argc, argv);
        MakeShare(kSharedFiles);
        MakeQueue(0, Downloads());
        dataSaver->Save(DataSaver::DefaultPath());
        return 0;
    }
    if (role == "queue" || role == "memory") {
        QApplication app(argc, argv);
        // No server is reachable: its "connection failed" box is answered.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                box->reject();
        });
        answer.start(100);
        return role == "queue" ? Queue() : Memory();
    }

    QCoreApplication app(argc, argv);
    const std::string tag = downloads == 100000 ? "_100k_downloads" : "_downloads";
    auto name = [&](const char* head) { return QByteArray(head).replace("%", tag.c_str()); };
    ScratchFolder home("app_queue");
    ScratchFolder runtime("app_queue");
    UseHome(home.path(), runtime.path());
    qputenv(kDownloads, QByteArray::number(qlonglong(downloads)));
    if (!WriteDataFile("bench_app_queue"))
        return 1;
    {
        Child queue("queue");
        if (!Row(queue, "init", name("app.startup%_init").constData(), "ms") || queue.WaitFor("shown").isNull())
            return 1;
        std::printf("%s: %.3f s\n", name("app.startup%").constData(), queue.clock.nsecsElapsed() / 1e9);
        if (!Row(queue, "stall", name("app.startup%_longest_stall").constData(), "ms")
            || !Row(queue, "save", name("store.save%_longest_stall").constData(), "ms") || queue.WaitFor("closing").isNull())
            return 1;
        QElapsedTimer exit;
        exit.start();
        queue.process.waitForFinished(600000);
        std::printf("%s: %.3f s\n", name("app.exit%").constData(), exit.nsecsElapsed() / 1e9);
    }
    qputenv(kDownloads, "0");
    if (!WriteDataFile("bench_app_queue"))
        return 1;
    qputenv(kDownloads, QByteArray::number(qlonglong(downloads)));
    Child memory("memory");
    return Row(memory, "before", name("app.rss%_before").constData(), "MiB")
            && Row(memory, "added", name("app.rss%_added").constData(), "MiB")
            && Row(memory, "removed", name("app.rss%_removed").constData(), "MiB")
        ? 0
        : 1;
}
