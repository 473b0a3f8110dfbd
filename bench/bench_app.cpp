// link: mainwindow
// Start-up of the client with a big data file: 1,000,000 shared files and
// 10,000 queued downloads.
//   app.core_load_1m: from the start of a process to the data file read into
//     the core alone (no window): the reference for the window's start-up.
//   app.startup_1m: from the start of a process to its window shown,
//     initialised, the folder scan settled and the event loop idle. Both
//     figures count the process's start alike.
//   app.startup_longest_stall: the longest time the event loop did not turn in
//     the first 10 s after that.
//   store.load: the item store's own load benchmark (as bench_store runs it,
//     with as many items as files) in this run, the measure of the start-up.
// Usage: bench_app [files]   (default 1000000; downloads are files / 100)
// The roles below run in child processes of this program (MARROWBY_BENCH_ROLE).
#include "AppBench.h"
#include "ScratchFolder.h"
#include "StoreBench.h"
#include <QTimer>
#include <cstdio>

namespace {

int CoreLoad()
{
    CreateCore();
    dataSaver->Load(DataSaver::DefaultPath());
    std::printf("loaded\n");
    std::fflush(stdout);
    return 0;
}

// The client's start-up: prints "ready" once the window is up and the loop is
// idle, then "stall <ms>" after 10 s.
int Window()
{
    MainWindow* window = ShowWindow();

    // Idle: no walk or merge left and a 10 ms timer fires on time.
    QElapsedTimer tick;
    auto* probe = new QTimer(window);
    probe->setInterval(10);
    bool ready = false;
    qint64 longest = 0;
    QElapsedTimer since;
    QObject::connect(probe, &QTimer::timeout, [&] {
        const qint64 late = tick.isValid() ? tick.elapsed() - 10 : 0;
        tick.start();
        if (!ready) {
            if (late < 20 && !sharedFoldersManager->IsScanning()) {
                ready = true;
                std::printf("ready\n");
                std::fflush(stdout);
                since.start();
            }
            return;
        }
        longest = std::max(longest, late);
        if (since.elapsed() >= 10000) {
            std::printf("stall %lld\n", static_cast<long long>(longest));
            std::fflush(stdout);
            QCoreApplication::quit();
        }
    });
    probe->start();
    const int rc = QApplication::exec();
    delete window;
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    const long files = argc > 1 ? std::atol(argv[1]) : 1000000;
    const QByteArray role = qgetenv(kRole);
    if (role == "generate") {
        QCoreApplication app(argc, argv);
        return Generate(files);
    }
    if (role == "core") {
        QCoreApplication app(argc, argv);
        return CoreLoad();
    }
    if (role == "window") {
        QApplication app(argc, argv);
        return Window();
    }

    QCoreApplication app(argc, argv);
    const char* scale = files == 1000000 ? "_1m" : "";
    ScratchFolder home("app");
    ScratchFolder runtime("app");
    UseHome(home.path(), runtime.path());
    if (!WriteDataFile("bench_app"))
        return 1;
    {
        ScratchFolder dir("app");
        const QString path = dir.filePath(QStringLiteral("store"));
        WriteStoreFile(path, files);
        PrintFigure("store.load", StoreLoadSeconds(path, files), "s", scale);
    }
    {
        Child core("core");
        if (core.WaitFor("loaded").isNull()) {
            std::fprintf(stderr, "bench_app: the core did not load the data file\n");
            return 1;
        }
        std::printf("app.core_load%s: %.3f s\n", scale, core.clock.nsecsElapsed() / 1e9);
        std::fflush(stdout);
    }
    {
        Child window("window");
        if (window.WaitFor("ready").isNull()) {
            std::fprintf(stderr, "bench_app: the window did not start\n");
            return 1;
        }
        std::printf("app.startup%s: %.3f s\n", scale, window.clock.nsecsElapsed() / 1e9);
        std::fflush(stdout);
        const QString stall = window.WaitFor("stall");
        std::printf("app.startup_longest_stall: %s ms\n", qPrintable(stall));
    }
    return 0;
}
