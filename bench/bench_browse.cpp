// link: pages
// The Browse page receiving a large share list:
//   browse.share_100k_longest_stall  the longest time the event loop was kept
//                                    waiting from the list's arrival (inflated
//                                    and decoded by the peer network) until the
//                                    tab shows the folder tree and the file
//                                    list of one folder
//   browse.share_100k_page_longest_stall  the same after the turn in which
//                                    the list arrived (the page's own slices)
//   browse.share_100k_shown          the whole of that, for reference
// Usage: bench_browse [files]   (default 100000, in folders of 20 files)
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "peers/DNetManager.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

namespace {

void Print(const char* name, double value, const char* unit)
{
    std::printf("%s: %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

// A share as a peer would send it: artist folders holding album folders of
// 20 tracks each, with audio attributes.
QByteArray ShareListFrame(int files)
{
    FileInfoMap share;
    const int perFolder = 20;
    for (int f = 0; f * perFolder < files; ++f) {
        const std::string artist = "Music\\Artist " + std::to_string(f / 10);
        share[artist];
        FileInfoSet& tracks = share[artist + "\\Album " + std::to_string(f) + " (Remastered Edition)"];
        for (int i = 0; i < perFolder && f * perFolder + i < files; ++i) {
            FileInfo info;
            info.name = std::to_string(i + 1) + " - Some Fairly Long Track Title Number " + std::to_string(i) + ".mp3";
            info.size = 3000000 + f * 1000 + i;
            info.attributes.extension = "mp3";
            info.attributes.attributes = { { ATTR_BITRATE, 320 }, { ATTR_LENGTH, 240 }, { ATTR_BITRATE_MODE, 0 } };
            tracks.insert(info);
        }
    }
    MemStream body;
    share.Write(body);
    AttributeTranslationTable().Write(body);
    return SharedFoldersManager::CompressedMessage(PM_SHARED_FILE_LIST, body.GetBuffer()).GetBuffer();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;

    // The parts of the client the page stands on, in the window's order.
    new TimerManager(&app);
    dataSaver = new DataSaver(&d);
    new Server(&app);
    Settings::CreateTypes();
    gp_server->CreateData();
    QMainWindow window;
    actionBar = new ActionSetToolBar(&window);
    window.addToolBar(actionBar);
    new PeerMessenger(&app);
    new DNetManager(&app);
    new SharedFoldersManager(&app);
    new TransferQueueManager(&app);
    eventToolBar = new EventToolBar(&window);
    auto* page = new SharesForm(&window);
    window.setCentralWidget(page);
    page->Init();
    settings.Set("expand_new_shares", "yes");
    window.resize(1200, 800);
    window.show();

    const QByteArray frame = ShareListFrame(files);
    // The tab is read on every turn of the watch below: held so that a tab
    // gone meanwhile ends the run instead of being read.
    QPointer<ShareForm> form = static_cast<ShareForm*>(page->OpenShareBrowse(QStringLiteral("bob")));
    app.processEvents();

    // The longest gap between two turns of the event loop.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 pageLongest = 0;
    int ticks = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        if (++ticks > 1)
            pageLongest = std::max(pageLongest, now - last);
        last = now;
    });
    bool shown = false;
    QTimer::singleShot(0, [&] {
        clock.start();
        last = 0;
        probe.start();
        // As the peer network gets it: inflate, decode, then UserShare.
        peerMessenger->ProcessMessage(QStringLiteral("bob"), frame);
    });
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!form) {
            std::fprintf(stderr, "the share's tab was closed\n");
            app.exit(1);
            return;
        }
        if (shown || !form->FolderTree()->isVisibleTo(form))
            return;
        // Choose the last album, as a user would (the tree that takes the
        // keyboard makes its first folder, an artist's, current).
        QTreeWidget* tree = form->FolderTree();
        QTreeWidgetItem* artist = tree->topLevelItem(tree->topLevelItemCount() - 1);
        QTreeWidgetItem* album = artist->child(artist->childCount() - 1);
        if (tree->currentItem() != album) {
            tree->setCurrentItem(album);
            return;
        }
        if (form->FileList()->topLevelItemCount() == 0)
            return;
        shown = true;
        const double total = clock.nsecsElapsed() / 1e6;
        probe.stop();
        Print("browse.share_100k_longest_stall", longest / 1e6, "ms");
        Print("browse.share_100k_page_longest_stall", pageLongest / 1e6, "ms");
        Print("browse.share_100k_shown", total, "ms");
        app.quit();
    });
    watch.start();
    QTimer::singleShot(120000, &app, [&] {
        std::fprintf(stderr, "the share was not shown within two minutes\n");
        app.exit(1);
    });
    const int rc = app.exec();
    return rc;
}
