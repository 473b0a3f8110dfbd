// link: mainwindow
// Start-up of the client with a big data file: 1,000,000 shared files and
// 10,000 queued downloads.
//   app.core_load_1m: the data file read into the core alone (no window), in a
//     process of its own: the reference for the window's start-up.
//   app.startup_1m: from the start of a process to its window shown,
//     initialised, the folder scan settled and the event loop idle.
//   app.startup_longest_stall: the longest time the event loop did not turn in
//     the first 10 s after that.
// Usage: bench_app [files]   (default 1000000; downloads are files / 100)
// The roles below run in child processes of this program (MARROWBY_BENCH_ROLE).
#include "MainWindow.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

const char kRole[] = "MARROWBY_BENCH_ROLE";

void CreateCore()
{
    new TimerManager();
    new DataSaver(&d);
    new Server();
    Settings::CreateTypes();
    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");
    gp_server->CreateData();
    new PeerMessenger();
    new DNetManager();
    new SharedFoldersManager();
    new TransferQueueManager();
}

// Writes the data file: settings for a start without dialogs, the share and
// the downloads, made as the share merge and the download queue make them.
int Generate(long files)
{
    QCoreApplication::setApplicationName(QStringLiteral("bench_app"));
    CreateCore();
    settings.Set("username", "bencher");
    settings.Set("password", "secret");
    settings.Set("use_upnp", "no");
    settings.Set("listening_port", "0");
    settings.Set("obfuscated_listening_port", "0");
    // A folder that does not exist here: the start-up walk leaves its files as
    // they are, so the figure is the load and the window, not a disk walk.
    const QString root = QStringLiteral("/nonexistent/marrowby-bench");
    ItemPtr shared = d.GetType("shared_folder")->GetItem(Value(root));
    shared.NewItem("shared_public");
    Type* folderType = d.GetType("shared_file_folder");
    Type* fileType = d.GetType("shared_file");
    Type* nameType = d.GetType("shared_file_name");
    Type* sizeType = d.GetType("shared_file_size");
    const long perFolder = 1000;
    for (long f = 0; f * perFolder < files; ++f) {
        ItemPtr folder = folderType->GetItem(Value(QStringLiteral("%1/album %2").arg(root).arg(f)));
        shared += folder;
        for (long k = 0; k < perFolder && f * perFolder + k < files; ++k) {
            ItemPtr file = fileType->NewItem();
            file += folder;
            file += nameType->GetItem(Value(QStringLiteral("track %1 of album %2.mp3").arg(k).arg(f)));
            file += sizeType->GetItem(Value(qint64(3000000 + k * 1000)));
        }
    }
    for (long k = 0; k < files / 100; ++k) {
        transferQueueManager->AddDownload(QStringLiteral("uploader%1").arg(k % 100),
            QStringLiteral("file %1.flac").arg(k).toStdString(), QStringLiteral("music\\set %1").arg(k / 100).toStdString(),
            20000000, false, 0);
    }
    dataSaver->Save(DataSaver::DefaultPath());
    return 0;
}

int CoreLoad()
{
    CreateCore();
    QElapsedTimer clock;
    clock.start();
    dataSaver->Load(DataSaver::DefaultPath());
    std::printf("loaded %.3f\n", clock.nsecsElapsed() / 1e9);
    std::fflush(stdout);
    return 0;
}

// The client's start-up: prints "ready" once the window is up and the loop is
// idle, then "stall <ms>" after 10 s.
int Window()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InitShellResources();
    auto* window = new MainWindow();
    window->show();
    window->Init();

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

struct Child {
    QProcess process;
    QElapsedTimer clock;
    explicit Child(const char* role)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kRole), QString::fromLatin1(role));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        clock.start();
        process.start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
    }
    // The next line of output that starts with the word; its rest.
    QString WaitFor(const char* word, int ms = 600000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                if (line.startsWith(QLatin1String(word)))
                    return line.mid(int(qstrlen(word))).trimmed();
            }
            if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning && !process.canReadLine())
                return QString();
        }
        return QString();
    }
    ~Child() { process.waitForFinished(60000); }
};

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
    QTemporaryDir home;
    QTemporaryDir runtime;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qputenv("MARROWBY_SERVER", "127.0.0.1:1");
    qputenv("MARROWBY_WEB", "127.0.0.1:1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    {
        Child generate("generate");
        if (!generate.process.waitForFinished(1800000) || generate.process.exitCode() != 0) {
            std::fprintf(stderr, "bench_app: could not write the data file\n");
            return 1;
        }
    }
    {
        Child core("core");
        const QString loaded = core.WaitFor("loaded");
        std::printf("app.core_load%s: %.3f s\n", scale, loaded.toDouble());
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
