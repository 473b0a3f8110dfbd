// The scanner thread on its own: what a walk records, nested shared folders,
// folders that cannot be read, its listing threads held back by a slow owner, MP3 attributes reaching the
// index through the queued signals, and stopping a walk of a large tree.
#include "helper_shares.h"
#include "shares/FileScanner.h"
#include "store/Data.h"
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A scanner on its own thread, stopped and joined at the end.
struct ScannerThread {
    QThread thread;
    FileScanner* scanner = new FileScanner;
    ScannerThread()
    {
        scanner->moveToThread(&thread);
        thread.start();
    }
    ~ScannerThread()
    {
        scanner->Quit();
        thread.exit(0);
        thread.wait();
        delete scanner;
    }
    FileScanner::Walk Walk(const char* slot, const QStringList& roots)
    {
        QSignalSpy done(scanner, &FileScanner::FoldersScanned);
        QMetaObject::invokeMethod(scanner, slot, Qt::QueuedConnection, Q_ARG(QStringList, roots));
        // The walk may end before the wait begins.
        if (done.isEmpty() && !done.wait(30000))
            return {};
        return scanner->TakeResult();
    }
};
}

class TestFileScanner : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString Path(const QString& relative) const { return dir.filePath(relative); }

private slots:
    void walks()
    {
        ScannerThread s;
        // Nothing to walk: an empty result, and the signal all the same.
        FileScanner::Walk empty = s.Walk("ScanFolders", {});
        QVERIFY(empty.folders.empty());

        QDir().mkpath(Path("empty"));
        WriteFile(Path("outer/a.txt"), "12345");
        WriteFile(Path("outer/inner/b.txt"));
        WriteFile(Path("outer/.hidden/c.txt"));
        FileScanner::Walk walk
            = s.Walk("ScanFolders", { Path("empty"), Path("outer"), Path("outer/inner"), Path("missing") });
        QCOMPARE(walk.folders.size(), size_t(1)); // the inner root was reached through the outer one
        QCOMPARE(walk.folders[Path("outer")][Path("outer")][QStringLiteral("a.txt")].size, qint64(5));
        QCOMPARE(walk.folders[Path("outer")].size(), size_t(2));
        QVERIFY(!walk.folders[Path("outer")].count(Path("outer/.hidden")));
        // An empty root may be a disk's mount point: it can't be told from
        // an unmounted disk, so it is unavailable. A root that is gone is missing.
        QCOMPARE(walk.empty, std::set<QString> { Path("empty") });
        QCOMPARE(walk.missing, std::set<QString> { Path("missing") });
        QVERIFY(!walk.unavailable.count(Path("missing")));

        // Names that are not valid UTF-8 are left out and counted, a folder
        // with its files: none is listed under a name that leads elsewhere,
        // and a name that holds the replacement character stays its file's.
        const QByteArray odd = QFile::encodeName(Path("odd"));
        QVERIFY(::mkdir(odd.constData(), 0755) == 0 && ::mkdir((odd + "/dir\xff").constData(), 0755) == 0);
        const QList<QByteArray> names { "/dir\xff/x.txt", "/only\xfe.bin", "/bad\xff.txt",
            "/bad\xef\xbf\xbd.txt" };
        auto remove = qScopeGuard([&] { // names the temporary folder can't remove
            for (const QByteArray& name : names)
                ::unlink((odd + name).constData());
            ::rmdir((odd + "/dir\xff").constData());
        });
        for (const QByteArray& name : names) {
            const int file = ::open((odd + name).constData(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(file >= 0 && ::write(file, name.constData(), size_t(name.size())) == name.size());
            ::close(file);
        }
        FileScanner::Walk named = s.Walk("ScanFolders", { Path("odd") });
        QCOMPARE(named.folders[Path("odd")].size(), size_t(1));
        const FileScanner::FileMap& listed = named.folders[Path("odd")][Path("odd")];
        QCOMPARE(listed.size(), size_t(1));
        QCOMPARE(listed.at(QStringLiteral("bad\uFFFD.txt")).size, qint64(11));
        QCOMPARE(named.undecodable[Path("odd")].first, size_t(3));

        // A rescan walks each root on its own: the inner folder under both.
        FileScanner::Walk again = s.Walk("RescanFolders", { Path("outer"), Path("outer/inner") });
        QVERIFY(again.folders[Path("outer")].count(Path("outer/inner")));
        QVERIFY(again.folders[Path("outer/inner")].count(Path("outer/inner")));

        // A folder swapped for a link once its parent is listed (as the part is handed
        // over) is left out, nothing outside recorded; so is a link planted before.
        WriteFile(Path("outside/secret.txt"));
        WriteFile(Path("swapped/top.txt"));
        WriteFile(Path("swapped/dir/inner.txt"));
        QVERIFY(QFile::link(Path("outside"), Path("swapped/planted")));
        s.scanner->SetPartSize(1);
        auto swap = [&] { // once: no part is taken before the walk ends
            QDir().rename(Path("swapped/dir"), Path("moved"));
            QFile::link(Path("outside"), Path("swapped/dir"));
        };
        connect(s.scanner, &FileScanner::FoldersListed, s.scanner, swap, Qt::DirectConnection);
        FileScanner::Walk linked = s.Walk("ScanFolders", { Path("swapped") });
        QVERIFY(QFileInfo(Path("swapped/dir")).isSymLink());
        for (const FileScanner::Walk& part : s.scanner->TakeParts()) // the root's folder only
            QCOMPARE(part.folders.at(Path("swapped")).rbegin()->first, Path("swapped"));
        QCOMPARE(linked.links[Path("swapped")], std::set<QString> { Path("swapped/dir") });
    }

    void stopEndsALargeWalk()
    {
        // The stop is asked on the scanner thread as the first folder with a
        // file is recorded, so it always comes while most of the 4,000
        // folders are still queued, however fast or loaded the machine is.
        for (int k = 0; k < 4000; ++k)
            WriteFile(Path("large/%1/%2/f.txt").arg(k % 40).arg(k));
        ScannerThread s;
        s.scanner->SetPartSize(1);
        QElapsedTimer clock;
        clock.start();
        // The time from the stop to the scanner thread's next event: the end
        // of the walk, its listing threads joined.
        std::atomic<qint64> stopped { -1 }, ended { -1 };
        connect(
            s.scanner, &FileScanner::FoldersListed, s.scanner,
            [&] {
                if (stopped >= 0)
                    return;
                stopped = clock.nsecsElapsed();
                s.scanner->Quit();
                QMetaObject::invokeMethod(
                    s.scanner, [&] { ended = clock.nsecsElapsed(); }, Qt::QueuedConnection);
            },
            Qt::DirectConnection);
        FileScanner::Walk walk = s.Walk("ScanFolders", { Path("large") });
        QTRY_VERIFY_WITH_TIMEOUT(ended >= 0, 30000);
        // The folders queued and the listings not yet taken were dropped at
        // once: nothing was recorded after the stop, only the part that
        // asked for it, with what was walked before.
        std::vector<FileScanner::Walk> parts = s.scanner->TakeParts();
        QCOMPARE(parts.size(), size_t(1));
        QVERIFY(walk.folders.empty());
        const FileScanner::FolderMap& before = parts[0].folders[Path("large")];
        QVERIFY(before.count(Path("large")));
        QVERIFY(before.size() < 100);
        QCOMPARE(std::count_if(before.begin(), before.end(),
                     [](const auto& f) { return f.second.count(QStringLiteral("f.txt")); }),
            1);
        // The walk ended after the listings in progress; the bound only
        // catches a walk that goes on listing.
        const qint64 ms = (ended - stopped) / 1000000;
        QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
    }

    void listingThreadsWaitForASlowOwner()
    {
        // More folders than listings may wait: the threads stop while the
        // list is full and go on as it is taken, and each folder comes back
        // once, whole. A stop drops the folders queued and the listings not
        // yet taken at once, so the owner is not kept waiting.
        const int folders = 3 * int(FolderLister::kMaxReady) + 5;
        for (int k = 0; k < folders; ++k) {
            WriteFile(Path("wide/%1/a.txt").arg(k), QByteArray(k, 'x'));
            WriteFile(Path("wide/%1/.hidden").arg(k));
            QDir().mkpath(Path("wide/%1/sub").arg(k));
        }
        std::atomic<bool> stop { false };
        FolderLister lister([&stop] { return stop.load(); });
        for (int k = 0; k < folders; ++k)
            lister.Add(Path("wide/%1").arg(k));
        lister.Add(Path("wide/gone"));
        QThread::msleep(100);
        std::set<QString> seen;
        FolderLister::Listing listing;
        while (lister.Next(listing)) {
            if (listing.path == Path("wide/gone")) {
                QCOMPARE(listing.error, ENOENT);
                continue;
            }
            QVERIFY(seen.insert(listing.path).second);
            QCOMPARE(listing.files.size(), size_t(1));
            QCOMPARE(QByteArray(listing.names.data() + listing.files[0].first), QByteArray("a.txt"));
            QCOMPARE(listing.files[0].second, qint64(listing.path.section(u'/', -1).toInt()));
            QCOMPARE(listing.folders.size(), size_t(1));
            QCOMPARE(QByteArray(listing.names.data() + listing.folders[0]), QByteArray("sub"));
        }
        QCOMPARE(seen.size(), size_t(folders));

        // Neither a sub-folder nor its parent swapped for a link is listed through it, be it
        // opened from its parent held open or (past kMaxHeld) from the root again: ELOOP.
        WriteFile(Path("wide-outside/sub/secret.txt"));
        FolderLister::Listing top;
        lister.Add(Path("wide"));
        QVERIFY(lister.Next(top));
        for (size_t at : top.folders)
            lister.Add(top, at, Path("wide/") + (top.names.data() + at));
        std::vector<FolderLister::Listing> listed;
        std::set<QString> reopened; // sub-folders whose parent is opened from the root again
        for (; lister.Next(listing); listed.push_back(std::move(listing))) {
            if (!listing.opened)
                reopened.insert(listing.path + "/sub");
        }
        QVERIFY(!reopened.empty());
        for (int k = 0; k < folders; ++k) {
            const QString swapped = k % 3 == 1 ? Path("wide/%1/sub").arg(k) : Path("wide/%1").arg(k);
            QVERIFY(k % 3 == 0
                || (QDir().rename(swapped, Path("wide-moved%1").arg(k))
                    && QFile::link(Path(k % 3 == 1 ? "wide-outside/sub" : "wide-outside"), swapped)));
        }
        for (const FolderLister::Listing& parent : listed)
            lister.Add(parent, parent.folders[0], parent.path + "/sub");
        while (lister.Next(listing)) {
            QVERIFY2(listing.names.empty(), qPrintable(listing.path));
            const int kind = listing.path.section(u'/', -2, -2).toInt() % 3;
            QCOMPARE(listing.error, kind == 1 || (kind == 2 && reopened.count(listing.path)) ? ELOOP : 0);
        }

        for (int k = 0; k < folders; ++k)
            lister.Add(Path("wide/%1").arg(k));
        QVERIFY(lister.Next(listing));
        stop = true;
        QVERIFY(!lister.Next(listing));
        lister.Add(Path("wide/0"));
        QVERIFY(!lister.Next(listing));

        // With no thread to be had, the folders are listed as they are added.
        stop = false;
        FolderLister alone([&stop] { return stop.load(); }, 0);
        alone.Add(Path("wide/7"));
        QVERIFY(alone.Next(listing));
        QCOMPARE(listing.files.size(), size_t(1));
        QCOMPARE(listing.files[0].second, qint64(7));
        QVERIFY(!alone.Next(listing));
        stop = true;
        alone.Add(Path("wide/8"));
        QVERIFY(!alone.Next(listing));
    }

    void mp3AttributesReachTheIndex()
    {
        SharedFoldersManager* manager = MakeShareManager();
        const QString wav = Path("tone.wav");
        WriteSineWav(wav, 44100, 2, 3.0);
        QDir().mkpath(Path("music/live"));
        QVERIFY(RunLame({ "-b", "192", "-m", "s", wav, Path("music/Song.mp3") }));
        QVERIFY(RunLame({ "-b", "96", "-m", "m", wav, Path("music/live/Mono.MP3") }));
        QVERIFY(RunLame({ "-b", "96", wav, Path("music/mixed.Mp3") }));
        WriteFile(Path("music/fake.mp3"), "not audio");
        manager->AddSharedFolder(Path("music")) += d.GetType("shared_public")->NewItem();
        QVERIFY(WaitForScans(manager));
        ItemPtr song = manager->GetSharedFileItem(Path("music/Song.mp3"));
        QTRY_VERIFY(song.IsConnected("is_scanned"));
        QCOMPARE(song["bitrate"].AsInt(), 192);
        QCOMPARE(song["bitrate_mode"].AsString(), QStringLiteral("cbr"));
        QCOMPARE(song["mpeg_version"].AsString(), QStringLiteral("1"));
        QCOMPARE(song["channel_mode"].AsString(), QStringLiteral("stereo"));
        QCOMPARE(song["audio_frequency"].AsString(), QStringLiteral("0"));
        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(song), QStringLiteral("192 CBR"));
        ItemPtr mono = manager->GetSharedFileItem(Path("music/live/Mono.MP3"));
        QTRY_VERIFY(mono.IsConnected("is_scanned"));
        QCOMPARE(mono["channel_mode"].AsString(), QStringLiteral("mono"));
        // A mixed-case extension is never read; text named .mp3 gets nothing.
        QTest::qWait(200);
        QVERIFY(!manager->GetSharedFileItem(Path("music/mixed.Mp3")).IsConnected("is_scanned"));
        QVERIFY(!manager->GetSharedFileItem(Path("music/fake.mp3")).IsConnected("is_scanned"));
        // Display text of a browsed file with a length.
        ItemPtr browsed = d.GetType("user_share_file")->NewItem();
        browsed += d.GetType("length_seconds")->GetItem(Value(75));
        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(browsed), QStringLiteral(", 1m:15s"));
        // A result for a file that left the index changes nothing.
        manager->OnMP3Scanned(Path("music/gone.mp3"), 1, "stereo", 0, false, 128);
        QVERIFY(!manager->GetSharedFileItem(Path("music/gone.mp3")));
        delete manager;
    }
};

QTEST_GUILESS_MAIN(TestFileScanner)
#include "tst_filescanner.moc"
