// Pieces of the whole-client benchmarks: the client's data file at scale
// (1,000,000 shared files and 10,000 queued downloads by default) written by a
// child process, the child processes themselves, and the window started as
// the client starts it.
#pragma once
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
#include <cstdio>

namespace {

const char kRole[] = "MARROWBY_BENCH_ROLE";

inline void CreateCore()
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

// Settings for a start without dialogs and a share of the files, made as the
// share merge makes them, in the core of this process.
inline void MakeShare(long files)
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
}

// Writes the data file: MakeShare's and the downloads, made as the download
// queue makes them.
inline int Generate(long files)
{
    MakeShare(files);
    for (long k = 0; k < files / 100; ++k) {
        transferQueueManager->AddDownload(QStringLiteral("uploader%1").arg(k % 100),
            QStringLiteral("file %1.flac").arg(k).toStdString(), QStringLiteral("music\\set %1").arg(k / 100).toStdString(),
            20000000, false, 0);
    }
    dataSaver->Save(DataSaver::DefaultPath());
    return 0;
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

// A home of its own and no server to reach, for this process and its children.
inline void UseHome(const QString& home, const QString& runtime)
{
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("MARROWBY_SERVER", "127.0.0.1:1");
    qputenv("MARROWBY_WEB", "127.0.0.1:1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Runs the "generate" role in a child; false (and a message) if it failed.
inline bool WriteDataFile(const char* bench)
{
    Child generate("generate");
    if (!generate.process.waitForFinished(1800000) || generate.process.exitCode() != 0) {
        std::fprintf(stderr, "%s: could not write the data file\n", bench);
        return false;
    }
    return true;
}

// The main window as the client shows it at start-up (the data file loaded).
inline MainWindow* ShowWindow()
{
    DataSaver::Prefetch(MainWindow::DataFilePath());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InitShellResources();
    auto* window = new MainWindow();
    window->show();
    window->Init();
    return window;
}

} // namespace
