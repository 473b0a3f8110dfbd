// The share index against real folders: what a walk records (odd and Unicode
// names, hidden entries, links, pipes), lookups by path, rescans with their
// counts, folders that cannot be read, files that leave with their folder,
// and the index surviving the data file.
#include "MemoryTemp.h"
#include "helper_shares.h"
#include "shares/CaseFoldIndex.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {
size_t Count(const char* type)
{
    return d.GetType(type)->Count();
}
QStringList Names(ItemPtr folder)
{
    QStringList names;
    for (ItemPtr file : folder.GetItems("shared_file"))
        names << file["shared_file_name"].AsString();
    names.sort();
    return names;
}
ItemPtr Folder(const QString& path)
{
    return d.GetType("shared_file_folder")->HasItem(Value(path));
}
}

class TestShareIndex : public QObject {
    Q_OBJECT
    SharedFoldersManager* manager = nullptr;
    std::unique_ptr<QTemporaryDir> dir;

    QString Path(const QString& relative) const { return dir->filePath(relative); }
    QPair<int, int> Rescan()
    {
        QSignalSpy spy(manager, &SharedFoldersManager::SharedFilesRescanned);
        manager->RescanShares();
        if (!WaitForScans(manager) || spy.size() != 1)
            return { -1, -1 };
        return { spy.at(0).at(0).toInt(), spy.at(0).at(1).toInt() };
    }

private slots:
    void initTestCase() { manager = MakeShareManager(); }
    void cleanupTestCase() { delete manager; }
    void init()
    {
        QVERIFY(WaitForScans(manager));
        d.Clear();
        settings.Set("shared_folder_counter", 1);
        settings.Set("username", "me");
        dir = std::make_unique<QTemporaryDir>(MemoryTemp("shareindex")); // trees of 60,000 files
    }

    void folderIds()
    {
        QDir().mkpath(Path("one"));
        QDir().mkpath(Path("two"));
        ItemPtr one = manager->AddSharedFolder(Path("one"));
        ItemPtr two = manager->AddSharedFolder(Path("two"));
        QCOMPARE(one["shared_folder_id"].AsString(), QStringLiteral("[1]one"));
        QCOMPARE(two["shared_folder_id"].AsString(), QStringLiteral("[2]two"));
        QCOMPARE(settings.GetInt("shared_folder_counter"), 3);
        QVERIFY(WaitForScans(manager));
        // The same path again is the same folder and starts no walk.
        QCOMPARE(manager->AddSharedFolder(Path("one")), one);
        QVERIFY(!manager->IsScanning());
        QCOMPARE(settings.GetInt("shared_folder_counter"), 3);
        // A trailing separator makes another folder.
        QVERIFY(manager->AddSharedFolder(Path("one") + "/") != one);
    }

    void walkRecordsRegularFilesOnly()
    {
        const QStringList names { "plain.txt", "with space & #hash.flac", "Ünïcödé — ☃ 音楽.mp3",
            "back\\slash.txt", "dots...", "UPPER.MP3" };
        for (const QString& name : names)
            WriteFile(Path("share/") + name);
        WriteFile(Path("share/.hidden"));
        WriteFile(Path("share/.hiddendir/inside.txt"));
        WriteFile(Path("share/deep/er/est/leaf.txt"));
        WriteFile(Path("elsewhere/target.txt"));
        QVERIFY(QFile::link(Path("elsewhere/target.txt"), Path("share/link.txt")));
        QVERIFY(QFile::link(Path("elsewhere"), Path("share/linkdir")));
        QVERIFY(QFile::link(Path("nowhere"), Path("share/dangling")));
        QCOMPARE(::mkfifo(QFile::encodeName(Path("share/pipe")).constData(), 0600), 0);

        manager->AddSharedFolder(Path("share"));
        QVERIFY(WaitForScans(manager));
        QStringList expected = names;
        expected.sort();
        QCOMPARE(Names(Folder(Path("share"))), expected);
        QCOMPARE(Names(Folder(Path("share/deep/er/est"))), QStringList { "leaf.txt" });
        QVERIFY(!Folder(Path("share/.hiddendir")));
        QVERIFY(!Folder(Path("share/linkdir")));
        QCOMPARE(Count("shared_file"), size_t(names.size() + 1));
        // The folder and file sizes are those on disk.
        ItemPtr leaf = manager->GetSharedFileItem(Path("share/deep/er/est/leaf.txt"));
        QCOMPARE(leaf["shared_file_size"].AsInt64(), qint64(1));
    }

    void lookupByPath()
    {
        WriteFile(Path("share/Music/Song.mp3"));
        WriteFile(Path("share/Other/Song.mp3"));
        WriteFile(Path("share/case/a.mp3"), "lower");
        WriteFile(Path("share/case/A.mp3"), "UPPER!");
        WriteFile(Path("share/Ünï/Über Straße.mp3"), "uber");
        WriteFile(Path("share/Dup/x.mp3"), "one");
        WriteFile(Path("share/DUP/x.mp3"), "second");
        manager->AddSharedFolder(Path("share"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(manager->GetSharedFileItem(Path("share/ÜNÏ/über straße.MP3"))["shared_file_size"].AsInt64(),
            qint64(4));

        ItemPtr song = manager->GetSharedFileItem(Path("share/music/SONG.MP3").toUpper());
        QVERIFY(song);
        QCOMPARE(song["shared_file_folder"].AsString(), Path("share/Music"));
        QCOMPARE(manager->GetSharedFileItem(Path("share/Other/song.mp3"))["shared_file_folder"].AsString(),
            Path("share/Other"));
        // The name exactly as stored, in two folders, the folder in another case.
        QCOMPARE(manager->GetSharedFileItem(Path("share/MUSIC/Song.mp3"))["shared_file_folder"].AsString(),
            Path("share/Music"));
        // The folder part is compared as text: "\" does not stand for "/".
        QString backslashed = Path("share/Music/Song.mp3");
        backslashed.replace(u'/', u'\\');
        QVERIFY(!manager->GetSharedFileItem(backslashed));
        QVERIFY(!manager->GetSharedFileItem(Path("share/Music/Nothing.mp3")));

        // Two files differing only in case are two files, and each request
        // gets its own file: never the other one's bytes.
        ItemPtr lower = manager->GetSharedFileItem(Path("share/case/a.mp3"));
        ItemPtr upper = manager->GetSharedFileItem(Path("share/case/A.mp3"));
        QVERIFY(lower && upper && lower != upper);
        QCOMPARE(lower["shared_file_name"].AsString(), QStringLiteral("a.mp3"));
        QCOMPARE(upper["shared_file_name"].AsString(), QStringLiteral("A.mp3"));
        QCOMPARE(upper["shared_file_size"].AsInt64(), qint64(6));
        // So are two folders differing only in case: the exact path wins.
        QCOMPARE(manager->GetSharedFileItem(Path("share/Dup/x.mp3"))["shared_file_size"].AsInt64(), qint64(3));
        QCOMPARE(manager->GetSharedFileItem(Path("share/DUP/x.mp3"))["shared_file_size"].AsInt64(), qint64(6));
        QVERIFY(manager->GetSharedFileItem(Path("share/dup/X.mp3")));

        // Names that left the share leave the lookups too.
        QVERIFY(QFile::remove(Path("share/case/A.mp3")));
        QVERIFY(QDir(Path("share/Ünï")).removeRecursively());
        QCOMPARE(Rescan(), qMakePair(0, 2));
        d.RemoveDisconnectedItems();
        QVERIFY(!manager->GetSharedFileItem(Path("share/ÜNÏ/über straße.mp3")));
        QCOMPARE(manager->GetSharedFileItem(Path("share/case/A.mp3")), lower);
    }

    void caseFoldIndex()
    {
        // Through growth, removals and tombstones, with many names whose
        // lower-case forms are equal.
        Type* type = d.HasType("fold_probe") ? d.GetType("fold_probe") : d.NewType("fold_probe", kAttribute, false, true);
        CaseFoldIndex index;
        std::vector<Item*> items;
        for (int k = 0; k < 3000; ++k) {
            for (const char* form : { "Name %1.TXT", "name %1.txt", "NAME %1.txt" })
                items.push_back(type->GetItem(Value(QString::fromLatin1(form).arg(k))).Get());
        }
        items.push_back(type->GetItem(Value(QStringLiteral("Ärger/Straße/"))).Get());
        items.push_back(type->GetItem(Value(QStringLiteral("ärger/straße"))).Get());
        for (Item* item : items)
            index.Insert(item);
        index.Insert(items.front()); // once only
        QCOMPARE(index.Size(), items.size());
        QCOMPARE(index.Find("name 17.txt").size(), size_t(3));
        QCOMPARE(index.Find(CaseFoldIndex::Key("ÄRGER/STRASSE")).size(), size_t(0));
        QCOMPARE(CaseFoldIndex::Key("Ärger/Straße/"), std::string("ärger/straße"));
        QCOMPARE(index.Find("ärger/straße").size(), size_t(2));
        for (size_t k = 0; k < items.size(); k += 2)
            index.Erase(items[k]);
        for (int round = 0; round < 2; ++round) {
            for (size_t k = 0; k + 2 < items.size(); k += 3) {
                // Of the three forms of a name, those at odd places are left.
                const std::vector<Item*> found = index.Find(CaseFoldIndex::Key(ItemPtr(items[k]).AsStdString()));
                QCOMPARE(found.size(), k % 2 ? size_t(2) : size_t(1));
                for (Item* item : found)
                    QCOMPARE((std::find(items.begin(), items.end(), item) - items.begin()) % 2, 1);
            }
            // Erased slots are taken again, and the rest still found.
            for (size_t k = 0; k < items.size(); k += 2)
                index.Insert(items[k]);
            for (size_t k = 0; k < items.size(); k += 2)
                index.Erase(items[k]);
        }
        QVERIFY(index.Find("name 3000.txt").empty());
    }

    void rescanCounts()
    {
        for (int k = 0; k < 50; ++k)
            WriteFile(Path("share/sub%1/file%2.txt").arg(k % 5).arg(k));
        manager->AddSharedFolder(Path("share"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(50));
        QCOMPARE(Rescan(), qMakePair(0, 0));

        ItemPtr kept = manager->GetSharedFileItem(Path("share/sub1/file1.txt"));
        const size_t tokens = kept.CountItems("search_token");
        WriteFile(Path("share/sub1/file1.txt"), QByteArray(1000, 'z'));
        WriteFile(Path("share/new/one.txt"));
        WriteFile(Path("share/sub2/two.txt"));
        QVERIFY(QFile::remove(Path("share/sub3/file3.txt")));
        QVERIFY(QDir(Path("share/sub4")).removeRecursively()); // 10 files
        QCOMPARE(Rescan(), qMakePair(2, 11));
        QCOMPARE(Count("shared_file"), size_t(50 + 2 - 11));
        QVERIFY(!Folder(Path("share/sub4")));
        // A changed size keeps the item and its words.
        QCOMPARE(manager->GetSharedFileItem(Path("share/sub1/file1.txt")), kept);
        QCOMPARE(kept["shared_file_size"].AsInt64(), qint64(1000));
        QCOMPARE(kept.CountItems("search_token"), tokens);
    }

    void unreadableFoldersKeepTheirFiles()
    {
        for (int k = 0; k < 20; ++k)
            WriteFile(Path("disk/music/track%1.mp3").arg(k));
        WriteFile(Path("home/notes.txt"));
        QVERIFY(QDir().mkpath(Path("blank")));
        manager->AddSharedFolder(Path("disk/music"));
        manager->AddSharedFolder(Path("home"));
        manager->AddSharedFolder(Path("blank"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(21));
        QVERIFY(Folder(Path("blank"))); // shared empty: listed with no files

        // The disk is unmounted, its mount point left empty: a rescan keeps
        // its files and counts nothing.
        QVERIFY(QDir().rename(Path("disk"), Path("unmounted")));
        QVERIFY(QDir().mkpath(Path("disk/music")));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(Count("shared_file"), size_t(21));
        // The mount point gone as well: the start-up walk still keeps them
        // (the disk may be mounted later)...
        QVERIFY(QDir(Path("disk")).removeRecursively());
        manager->Init();
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(21));
        QVERIFY(manager->GetSharedFileItem(Path("disk/music/track3.mp3")));
        // ...but a rescan lets a shared folder that no longer exists go.
        QCOMPARE(Rescan(), qMakePair(0, 20));
        QCOMPARE(Count("shared_file"), size_t(1));
        QVERIFY(d.GetType("shared_folder")->HasItem(Value(Path("disk/music"))));
        // Back again, it is shared again.
        QVERIFY(QDir().rename(Path("unmounted"), Path("disk")));
        QCOMPARE(Rescan(), qMakePair(20, 0));
    }

    void removedFolderTakesItsFiles()
    {
        // Files named like files of another folder are reachable through the
        // shared names; they must still leave with their folder.
        for (const char* folder : { "a", "b" }) {
            WriteFile(Path("share/%1/cover.jpg").arg(folder));
            WriteFile(Path("share/%1/folder.jpg").arg(folder));
        }
        manager->AddSharedFolder(Path("share"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(4));
        QVERIFY(QDir(Path("share/b")).removeRecursively());
        QCOMPARE(Rescan(), qMakePair(0, 2));
        QCOMPARE(Count("shared_file"), size_t(2));
        QCOMPARE(Count("shared_file_folder"), size_t(2)); // share and share/a

        // At start-up too.
        WriteFile(Path("share/c/cover.jpg"));
        QCOMPARE(Rescan(), qMakePair(1, 0));
        QVERIFY(QDir(Path("share/c")).removeRecursively());
        manager->Init();
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(2));
        d.RemoveDisconnectedItems();
        QCOMPARE(Count("shared_file"), size_t(2));
    }

    void requestsWhileAWalkRuns()
    {
        for (int k = 0; k < 2000; ++k)
            WriteFile(Path("first/%1/f%2.txt").arg(k % 50).arg(k));
        WriteFile(Path("second/late.txt"));
        // Shared while the first walk runs and while a rescan waits: walked all
        // the same, the rescan reports once, and each added folder is reported
        // once, when its files are in the index (the second by the rescan).
        QSignalSpy rescanned(manager, &SharedFoldersManager::SharedFilesRescanned);
        QSignalSpy added(manager, &SharedFoldersManager::SharedFolderScanned);
        std::map<QString, size_t> indexedWhenReported;
        QObject context;
        connect(manager, &SharedFoldersManager::SharedFolderScanned, &context,
            [&](QString path) { indexedWhenReported[path] = Count("shared_file"); });
        manager->AddSharedFolder(Path("first"));
        manager->RescanShares();
        manager->AddSharedFolder(Path("second"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(rescanned.size(), 1);
        QCOMPARE(Count("shared_file"), size_t(2001));
        QVERIFY(manager->GetSharedFileItem(Path("second/late.txt")));
        QCOMPARE(added.size(), 2);
        QCOMPARE(added.at(0), (QList<QVariant> { Path("first"), 2000 }));
        QCOMPARE(added.at(1), (QList<QVariant> { Path("second"), 1 }));
        QCOMPARE(indexedWhenReported[Path("first")], size_t(2000));
        QCOMPARE(indexedWhenReported[Path("second")], size_t(2001));
        // Sharing it again walks nothing and reports nothing.
        manager->AddSharedFolder(Path("second"));
        QTest::qWait(50);
        QCOMPARE(added.size(), 2);
    }

    void nestedSharedFolders()
    {
        WriteFile(Path("outer/inner/song.mp3"));
        ItemPtr outer = manager->AddSharedFolder(Path("outer"));
        ItemPtr inner = manager->AddSharedFolder(Path("outer/inner"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        ItemPtr folder = Folder(Path("outer/inner"));
        QVERIFY(folder.IsConnected(outer) && folder.IsConnected(inner));
        QCOMPARE(Count("shared_file"), size_t(1));
    }

    void indexSurvivesDataFile()
    {
        for (int k = 0; k < 30; ++k)
            WriteFile(Path("share/Artist %1/Album/Track %2.ogg").arg(k % 3).arg(k));
        manager->AddSharedFolder(Path("share"));
        QVERIFY(WaitForScans(manager));
        d.GetType("shared_public")->NewItem() += d.GetType("shared_folder")->HasItem(Value(Path("share")));
        const QString file = dir->filePath(".Marrowby");
        dataSaver->Save(file);
        d.Clear();
        QVERIFY(QDir(Path("share/Artist 2")).removeRecursively()); // 10 files
        dataSaver->Load(file);
        QCOMPARE(Count("shared_file"), size_t(30));
        QCOMPARE(settings.GetInt("shared_folder_counter"), 2);
        // Twins come back with the items; words only with the merge.
        QVERIFY(manager->GetSharedFileItem(Path("share/artist 1/album/track 1.ogg")));
        QCOMPARE(Count("search_token"), size_t(0));
        manager->Init();
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(20));
        QVERIFY(d.GetType("search_token")->HasItem(Value("artist")));
        QVERIFY(!d.GetType("search_token")
                     ->HasItem(Value(dir->path().section(u'/', -1).toLower().toStdString())));
    }

    void wordRemovedDuringAMerge()
    {
        // The merge finds each word of the walk once and keeps it; a word
        // item removed between two slices is found or made anew. Enough
        // files that the merge takes several slices after a quick walk.
        for (int k = 0; k < 60000; ++k)
            WriteFile(Path("many/%1/common f%2.dat").arg(k % 40).arg(k), QByteArray());
        manager->AddSharedFolder(Path("many"));
        QElapsedTimer clock;
        clock.start();
        while (Count("shared_file") == 0 && clock.elapsed() < 60000)
            QTest::qWait(1);
        QVERIFY(manager->IsScanning()); // mid-merge
        std::set<Item*> before;
        for (ItemPtr file : d.GetType("shared_file")->GetItems())
            before.insert(file.Get());
        d.GetType("search_token")->HasItem(Value("common")).Remove();
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(60000));
        ItemPtr common = d.GetType("search_token")->HasItem(Value("common"));
        QVERIFY(common);
        // Every file merged after the removal bears the new word; those merged
        // before lost theirs with the old one.
        size_t after = 0;
        for (ItemPtr file : d.GetType("shared_file")->GetItems()) {
            if (before.count(file.Get()))
                continue;
            ++after;
            QVERIFY(file.IsConnected(common));
        }
        QVERIFY(after > 0);
        QCOMPARE(common.CountItems("shared_file"), after);
    }

    void rescanHidesNothing()
    {
        // While a rescan is merged, every file that stays shared stays visible
        // to a peer: to transfer requests and to share lists.
        for (int k = 0; k < 60000; ++k)
            WriteFile(Path("many/%1/f%2.dat").arg(k % 40).arg(k), QByteArray());
        ItemPtr shared = manager->AddSharedFolder(Path("many"));
        shared += d.GetType("shared_public")->NewItem();
        QVERIFY(WaitForScans(manager));
        QVERIFY(QFile::remove(Path("many/0/f0.dat")));
        const QStringList probes { Path("many/0/f40.dat"), Path("many/39/f59999.dat"), Path("many/17/f17.dat") };
        QSignalSpy rescanned(manager, &SharedFoldersManager::SharedFilesRescanned);
        manager->RescanShares();
        int looks = 0;
        while (manager->IsScanning()) {
            for (const QString& probe : probes)
                QVERIFY2(manager->IsFileSharedWithUser(manager->GetSharedFileItem(probe), "peer"), qPrintable(probe));
            QCOMPARE(manager->GetUserSharedFolders("peer").GetItems("shared_file_folder").Size(), size_t(41));
            ++looks;
            QTest::qWait(1);
        }
        QVERIFY(looks > 3);
        QCOMPARE(rescanned.size(), 1);
        QCOMPARE(rescanned.at(0).at(1).toInt(), 1);
        QVERIFY(!manager->GetSharedFileItem(Path("many/0/f0.dat")));
    }

    void walkMergedInParts()
    {
        // A walk handed over a few files at a time: words first seen in one
        // part and met again in later ones link every file, folders of early
        // parts are not taken for gone at the end, and the counts of a rescan
        // and the start-up walk's removals come out as for a walk in one piece.
        manager->Scanner()->SetPartSize(7);
        for (int k = 0; k < 300; ++k)
            WriteFile(Path("share/d%1/song%2 common.mp3").arg(k % 30).arg(k));
        WriteFile(Path("share/d29/zz last.txt"));
        manager->AddSharedFolder(Path("share"));
        QVERIFY(WaitForScans(manager));
        auto filesOf = [](const char* word) {
            ItemPtr token = d.GetType("search_token")->HasItem(Value(word));
            return token ? token.CountItems("shared_file") : size_t(0);
        };
        QCOMPARE(Count("shared_file"), size_t(301));
        QCOMPARE(filesOf("common"), size_t(300));
        QCOMPARE(filesOf("mp3"), size_t(300));
        QCOMPARE(filesOf("song299"), size_t(1));
        QCOMPARE(filesOf("last"), size_t(1));

        QVERIFY(QDir(Path("share/d3")).removeRecursively()); // 10 files
        WriteFile(Path("share/d4/new common.txt"));
        QCOMPARE(Rescan(), qMakePair(1, 10));
        QCOMPARE(filesOf("common"), size_t(291));

        QVERIFY(QDir(Path("share/d5")).removeRecursively());
        manager->Init(); // the start-up walk
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file_folder"), size_t(29));
        QCOMPARE(Count("shared_file"), size_t(291 - 10 + 1));
        QCOMPARE(filesOf("common"), size_t(281));
        QVERIFY(manager->GetSharedFileItem(Path("share/d29/zz last.txt")));
        manager->Scanner()->SetPartSize(16384);
    }

    void thousandsOfFiles()
    {
        for (int k = 0; k < 3000; ++k)
            WriteFile(Path("big/d%1/e%2/f%3.dat").arg(k % 7).arg(k % 11).arg(k), QByteArray(k % 17, 'q'));
        manager->AddSharedFolder(Path("big"));
        QVERIFY(WaitForScans(manager));
        QCOMPARE(Count("shared_file"), size_t(3000));
        QCOMPARE(manager->GetSharedFileItem(Path("big/d6/e10/f1000.dat"))["shared_file_size"].AsInt64(),
            qint64(1000 % 17));
    }
};

QTEST_GUILESS_MAIN(TestShareIndex)
#include "tst_shareindex.moc"
