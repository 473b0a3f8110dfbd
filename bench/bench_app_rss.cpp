// link: mainwindow
// Resident memory of the whole client: the main window (offscreen) started
// on a data file with 1,000,000 shared files and 10,000 queued downloads,
// then a search tab taking 50,000 results (500 replies of 100 files), and
// the share list that everybody may see built in the background.
//   app.rss_1m_share_peak: the most this process was resident (VmHWM) by the
//     time the share list is built and compressed, all of the above shown.
//   app.rss_1m_share_rest: VmRSS a second after that.
//   app.rss_goal: 1.5 x (1,000,000 x shares.bytes_per_file) + 300 MiB, the
//     ceiling the figures are held to. bytes_per_file is bench_shares'
//     figure (heap per file of an indexed share, 393 B); the data file here
//     is loaded, not indexed, so this run cannot measure it cheaply.
// Usage: bench_app_rss [files]   (default 1000000; downloads are files / 100)
// The home folder (with the data file) is made in /dev/shm and removed at the
// end.
#include "AppBench.h"
#include "ProcessMemory.h"
#include "ScratchFolder.h"
#include "SearchReplies.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultsForm.h"
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>

namespace {

const double kBytesPerFile = 393;

} // namespace

int main(int argc, char** argv)
{
    const long files = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (qgetenv(kRole) == "generate") {
        QCoreApplication app(argc, argv);
        return Generate(files);
    }

    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    ScratchFolder home("app_rss", base);
    ScratchFolder runtime("app_rss", base);
    if (!home.isValid() || !runtime.isValid())
        return 1;
    UseHome(home.path(), runtime.path());
    QApplication app(argc, argv);
    if (!WriteDataFile("bench_app_rss"))
        return 1;

    // No server is reachable: its "connection failed" box is answered.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            box->reject();
    });
    answer.start(100);
    MainWindow* window = ShowWindow();
    // The start-up settled: no walk or merge left.
    while (sharedFoldersManager->IsScanning())
        QTest::qWait(50);
    QTest::qWait(500);

    const unsigned token = gp_server->FileSearch(QStringLiteral("music track"), false);
    SearchResultsForm* tab = searchForm->CreateSearchForm(token, QStringLiteral("music track"), ManualSearch);
    for (ItemPtr reply : MakeReplies(token, 500, 100, nullptr)) {
        searchForm->OnUserSearchResults(reply);
        QCoreApplication::processEvents();
    }
    tab->Sort();
    // The list built ahead for everybody, then its memory handed back.
    const char* scale = files == 1000000 ? "_1m" : "";
    QElapsedTimer waited;
    waited.start();
    while (!sharedFoldersManager->IsShareListReady(QStringLiteral("anybody")) && waited.elapsed() < 300000)
        QTest::qWait(20);
    if (!sharedFoldersManager->IsShareListReady(QStringLiteral("anybody")))
        std::printf("app.rss%s_share_peak: the share list was not built\n", scale);
    const double peak = StatusMiB("VmHWM:");
    QTest::qWait(1000);
    const double rest = StatusMiB("VmRSS:");
    const double goal = 1.5 * (double(files) * kBytesPerFile) / (1024.0 * 1024.0) + 300.0;
    std::printf("app.rss%s_share_peak: %.1f MiB\n", scale, peak);
    std::printf("app.rss%s_share_rest: %.1f MiB\n", scale, rest);
    std::printf("app.rss_goal: %.1f MiB\n", goal);
    std::fflush(stdout);
    if (!window->isVisible() || tab->searchResults()->topLevelItemCount() == 0)
        std::printf("app.rss%s_share: the window or its results tab is not shown\n", scale);
    std::fflush(stdout);
    // The data file and home go now; the window's teardown is not measured.
    home.remove();
    runtime.remove();
    std::_Exit(0);
}
