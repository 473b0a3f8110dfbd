// Answering searches: the words cut from real shared paths, the matching rules
// (whole words, the length rule, excluded and partial words against the name),
// who gets an answer, and the reply read back byte by byte.
#include "helper_peers.h"
#include "helper_shares.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Reply {
    std::string user;
    quint32 ticket = 0;
    std::vector<WireFile> files;
    bool freeSlot = false;
    quint32 speed = 0, queue = 0, table = 99;
};

bool Decode(const MemStream& message, Reply& reply)
{
    const QByteArray body = InflateMessage(message, 9);
    MemStream in(body);
    quint32 count;
    if (!in.ReadString(reply.user) || !in.ReadUInt32(reply.ticket) || !in.ReadUInt32(count))
        return false;
    for (quint32 k = 0; k < count; ++k) {
        WireFile file;
        if (!ReadWireFile(in, file))
            return false;
        reply.files.push_back(file);
    }
    return in.ReadBool(reply.freeSlot) && in.ReadUInt32(reply.speed) && in.ReadUInt32(reply.queue)
        && in.ReadUInt32(reply.table) && in.Remaining() == 0;
}
}

class TestShareSearch : public QObject {
    Q_OBJECT
    SharedFoldersManager* manager = nullptr;
    QTemporaryDir dir;
    QString root;

    QStringList Answer(const QString& query, const QString& user = "searcher")
    {
        MemStream message;
        if (!manager->BuildSearchReply(user, 7, query, message))
            return { "(no reply)" };
        Reply reply;
        if (!Decode(message, reply))
            return { "(malformed)" };
        QStringList names;
        for (const WireFile& f : reply.files)
            names << QString::fromStdString(f.name).section(u'\\', -1);
        names.sort();
        return names;
    }
    bool HasToken(const char* token) const { return bool(d.GetType("search_token")->HasItem(Value(token))); }

private slots:
    void initTestCase()
    {
        // The peer network and the tree first: the manager takes searches from them.
        Settings::CreateTypes();
        gp_server = new Server(this);
        gp_server->CreateData();
        settings.Set("listening_port", "0");
        settings.Set("obfuscated_listening_port", "0");
        QVERIFY((new PeerMessenger(this))->Listen());
        new DNetManager(this);
        manager = MakeShareManager();
        settings.Set("username", "me");
        root = dir.filePath("home/alice/Music");
        for (const char* name :
            { "Live Sets/Hey-Ya (Live).mp3", "beatles.mp3", "café.mp3", "Русский трек.mp3", "Live.mp3",
                "live/other.flac", "a live one.mp3", "Loud.MP3", "Hey/zz.txt", "Live Sets/DEEP Cuts/rare.ogg" })
            WriteFile(root + "/" + name, QByteArray(100, 'x'));
        ItemPtr shared = manager->AddSharedFolder(root);
        shared += d.GetType("shared_public")->NewItem();
        // A folder for the user list and one for a group only.
        WriteFile(dir.filePath("Friends/beatles demo.mp3"));
        WriteFile(dir.filePath("Friends/Members Only/notes.txt"));
        WriteFile(dir.filePath("Band/beatles rehearsal.mp3"));
        manager->AddSharedFolder(dir.filePath("Friends")) += d.GetType("shared_userlist")->NewItem();
        ItemPtr band = d.GetType("user_list_group")->GetItem(Value("band"));
        manager->AddSharedFolder(dir.filePath("Band")) += band;
        d.GetType("user")->GetItem(Value("member")) += d.GetType("in_user_list")->NewItem();
        ItemPtr drummer = d.GetType("user")->GetItem(Value("drummer")).NewItem("in_user_list");
        drummer += band;
        QVERIFY(WaitForScans(manager));
        manager->OnMP3Scanned(root + "/Live Sets/Hey-Ya (Live).mp3", 1, "joint stereo", 0, false, 192);
        manager->OnMP3Scanned(root + "/Loud.MP3", 1, "stereo", 0, true, 211);
    }
    void cleanupTestCase() { delete manager; }

    void wordsOfThePath()
    {
        ItemPtr file = manager->GetSharedFileItem(root + "/Live Sets/Hey-Ya (Live).mp3");
        // The name's words are the file's; the folder path's are its folder's.
        QStringList tokens;
        for (ItemPtr token : file.GetItems("search_token"))
            tokens << token.AsString();
        for (ItemPtr token : file["shared_file_folder"].GetItems("search_token"))
            tokens << token.AsString();
        tokens.sort();
        tokens.removeDuplicates();
        QCOMPARE(
            tokens, (QStringList { "(live).mp3", "hey", "hey-ya", "live", "mp3", "music", "sets", "ya" }));
        // Folders above the shared folder give no words.
        QVERIFY(!HasToken("alice"));
        QVERIFY(!HasToken("home"));
        QVERIFY(HasToken("café"));
        QVERIFY(HasToken("русский"));
        QVERIFY(!HasToken("русск"));
        // The walk cuts names on the scanner thread; cutting them again here
        // gives the same words, whatever the script.
        for (const char* name : { "Live Sets/Hey-Ya (Live).mp3", "café.mp3", "Русский трек.mp3", "Loud.MP3" }) {
            ItemPtr scanned = manager->GetSharedFileItem(root + "/" + name);
            auto words = [&] {
                QStringList list;
                for (ItemPtr token : scanned.GetItems("search_token"))
                    list << token.AsString();
                list.sort();
                return list;
            };
            const QStringList walked = words();
            QVERIFY(walked.size() > 1);
            scanned.Disconnect(d.GetType("search_token"));
            manager->TokenizeSharedFile(scanned);
            QCOMPARE(words(), walked);
        }
        QVERIFY(SharedFoldersManager::IsSearchTokenSeparator(u'-'));
        QVERIFY(!SharedFoldersManager::IsSearchTokenSeparator(QChar(0xE9)));
        QVERIFY(SharedFoldersManager::IsSearchTokenSeparator(QChar(0x0416)));
    }

    void matching_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("names");
        const QStringList none { "(no reply)" };
        QTest::newRow("short words only") << "ya" << none;
        QTest::newRow("part of a word") << "beat" << none;
        QTest::newRow("partial only") << "*beat" << none;
        QTest::newRow("above the share") << "alice" << none;
        QTest::newRow("pass 1 words") << "hey ya" << QStringList { "Hey-Ya (Live).mp3" };
        QTest::newRow("pass 2 word") << "hey-ya" << QStringList { "Hey-Ya (Live).mp3" };
        QTest::newRow("folder word") << "hey" << QStringList { "Hey-Ya (Live).mp3", "zz.txt" };
        // Every folder from the shared folder's own name down gives its words,
        // in any letter case.
        QTest::newRow("folders up to the share")
            << "music sets deep cuts" << QStringList { "rare.ogg" };
        QTest::newRow("folder and name words") << "sets hey" << QStringList { "Hey-Ya (Live).mp3" };
        QTest::newRow("latin-1") << "café" << QStringList { "café.mp3" };
        QTest::newRow("cyrillic run") << "Русский" << QStringList { "Русский трек.mp3" };
        QTest::newRow("partial in name") << "mp3 *eat" << QStringList { "beatles.mp3" };
        QTest::newRow("excluded, lower case only")
            << "music -live"
            << QStringList { "Hey-Ya (Live).mp3", "Live.mp3", "Loud.MP3", "beatles.mp3", "café.mp3",
                   "other.flac", "rare.ogg", "zz.txt", "Русский трек.mp3" };
        QTest::newRow("upper-case name never matches") << "music *loud" << none;
    }
    void matching()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, names);
        QCOMPARE(Answer(query), names);
    }

    void answersHoldOnlyWhatTheAskerMaySee()
    {
        // One word, files in a public, a user-list and a group folder.
        QCOMPARE(Answer("beatles", "stranger"), QStringList { "beatles.mp3" });
        QCOMPARE(Answer("beatles", "member"), (QStringList { "beatles demo.mp3", "beatles.mp3" }));
        QCOMPARE(Answer("beatles", "drummer"),
            (QStringList { "beatles demo.mp3", "beatles rehearsal.mp3", "beatles.mp3" }));
        // A word found only in a folder the asker may not see: no reply at all.
        QCOMPARE(Answer("members notes", "stranger"), QStringList { "(no reply)" });
        QCOMPARE(Answer("rehearsal", "member"), QStringList { "(no reply)" });
        QCOMPARE(Answer("members notes", "member"), QStringList { "notes.txt" });
        QSignalSpy processed(manager, &SharedFoldersManager::SearchProcessed);
        manager->OnDirectFileSearch("stranger", 4, "members notes");
        QCOMPARE(processed.size(), 1);
        QCOMPARE(processed.at(0).at(1).toBool(), false);
    }

    void replyLayout()
    {
        settings.Set("upload_speed", 4321);
        manager->SetUploadStateProvider([] { return false; }, [] { return 3; });
        MemStream message;
        QVERIFY(manager->BuildSearchReply("searcher", 0xDEADBEEF, "music mp3", message));
        Reply reply;
        QVERIFY(Decode(message, reply));
        QCOMPARE(reply.user, std::string("me"));
        QCOMPARE(reply.ticket, 0xDEADBEEFu);
        QCOMPARE(reply.files.size(), size_t(7)); // the .ogg has no word "mp3"
        for (size_t k = 1; k < reply.files.size(); ++k)
            QVERIFY(reply.files[k - 1].name < reply.files[k].name);
        QString expectedPath = root + "/Live Sets/Hey-Ya (Live).mp3";
        expectedPath.replace(u'/', u'\\');
        bool sawHeyYa = false, sawLoud = false;
        for (const WireFile& f : reply.files) {
            QCOMPARE(f.size, qint64(100));
            QCOMPARE(f.extension, std::string("mp3"));
            if (f.name == expectedPath.toStdString()) {
                sawHeyYa = true;
                QCOMPARE(f.attributes, (std::vector<std::pair<quint32, quint32>> { { 0, 192 }, { 2, 0 } }));
            } else if (QString::fromStdString(f.name).endsWith("Loud.MP3")) {
                sawLoud = true;
                QCOMPARE(f.attributes, (std::vector<std::pair<quint32, quint32>> { { 0, 211 }, { 2, 1 } }));
            } else {
                QVERIFY(f.attributes.empty());
            }
        }
        QVERIFY(sawHeyYa && sawLoud);
        QVERIFY(!reply.freeSlot);
        QCOMPARE(reply.speed, 4321u);
        QCOMPARE(reply.queue, 3u);
        QCOMPARE(reply.table, 0u);

        MemStream flac;
        QVERIFY(manager->BuildSearchReply("searcher", 1, "other", flac));
        Reply other;
        QVERIFY(Decode(flac, other));
        QCOMPARE(other.files.size(), size_t(1));
        QCOMPARE(other.files[0].extension, std::string());
        QVERIFY(other.files[0].attributes.empty());
        settings.Clear("upload_speed");
        manager->SetUploadStateProvider({}, {});
    }

    void whoGetsAnswers()
    {
        QSignalSpy processed(manager, &SharedFoldersManager::SearchProcessed);
        // Own searches are neither answered nor announced.
        manager->OnDirectFileSearch("me", 1, "beatles");
        manager->OnDNetSearchRequest("me", 1, "beatles");
        QCOMPARE(processed.size(), 0);
        manager->OnDNetSearchRequest("stranger", 2, "beatles");
        QCOMPARE(processed.size(), 1);
        QCOMPARE(processed.at(0).at(1).toBool(), true);
        // An unshared user gets nothing; the search is announced as unanswered.
        d.GetType("user")->GetItem(Value("pest")) += d.GetType("unshared")->NewItem();
        manager->OnDirectFileSearch("pest", 3, "beatles");
        QCOMPARE(processed.size(), 2);
        QCOMPARE(processed.at(1).at(0).toString(), QStringLiteral("beatles"));
        QCOMPARE(processed.at(1).at(1).toBool(), false);
        // Nobody is answered while finishing uploads to quit.
        runtimeSettings.Set("finish_uploads_and_quit", "yes");
        QCOMPARE(Answer("beatles"), QStringList { "(no reply)" });
        runtimeSettings.Clear("finish_uploads_and_quit");
        QCOMPARE(Answer("beatles"), QStringList { "beatles.mp3" });
    }

    void aBurstFromTheParentIsAnsweredInTurns()
    {
        // The parent passes down 100,000 searches at once, each of another
        // user, and a child reads none of them: the window keeps turning, the
        // oldest beyond the bound go unanswered (the log says so), the newest
        // are answered, and the child is dropped.
        DescriptorServer parentPort;
        QVERIFY(parentPort.listen(QHostAddress::LocalHost, 0));
        emit gp_server->PossibleParents({ Candidate(QStringLiteral("par"), parentPort.serverPort()) });
        auto parent = AcceptCandidate(parentPort);
        QVERIFY(parent);
        parent->SendFrame(EncodeBranchLevel(0));
        QTRY_VERIFY(dnetManager->HasParent());
        RawPeer deaf;
        QVERIFY(deaf.Connect(peerMessenger->ListeningPort()));
        deaf.Socket().setReadBufferSize(1); // the rest stays with the system
        deaf.SendFrame(PeerInitBody(QStringLiteral("deaf"), QStringLiteral("D"), 0));
        QTRY_COMPARE(dnetManager->Children(), QStringList { "deaf" });

        QSignalSpy processed(manager, &SharedFoldersManager::SearchProcessed);
        QSignalSpy dropped(dnetManager, &DNetManager::ChildRemoved);
        QByteArray burst;
        DistributedSearch search;
        search.query = QStringLiteral("beatles");
        for (int i = 0; i < 100000; ++i) {
            search.user = QStringLiteral("searcher %1 ").arg(i) + QString(80, u's'); // fills a deaf child
            search.token = quint32(i);
            burst += Framed(EncodeDistributedSearch(search));
        }
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        beat.start(5);
        parent->SendRaw(burst);
        QTRY_COMPARE_WITH_TIMEOUT(peerMessenger->UnsentMessageCount(search.user), 1, 60000);
        QTRY_COMPARE(dropped.size(), 1);
        beat.stop();
        QVERIFY(processed.size() < 100000);
        QVERIFY(Logged(QStringLiteral("Search"), QStringLiteral("came faster than they could be answered")));
        QVERIFY2(longest < 1000, qPrintable(QStringLiteral("%1 ms").arg(longest)));
    }

    void replyIsCapped()
    {
        // More matches than a receiver accepts: the reply stops at the limit.
        ItemPtr shared = d.GetType("shared_folder")->GetItem(Value("/cap"));
        shared += d.GetType("shared_public")->NewItem();
        ItemPtr folder = d.GetType("shared_file_folder")->GetItem(Value("/cap"));
        shared += folder;
        ItemPtr token = d.GetType("search_token")->GetItem(Value("capped"));
        ItemPtr size = d.GetType("shared_file_size")->GetItem(Value(5));
        const int total = int(SharedFoldersManager::kMaxRecords) + 10;
        for (int k = 0; k < total; ++k) {
            ItemPtr file = d.GetType("shared_file")->NewItem();
            file += folder;
            file += size;
            file += d.GetType("shared_file_name")->GetItem(Value(QString::number(k)));
            token += file;
        }
        MemStream message;
        QVERIFY(manager->BuildSearchReply("searcher", 1, "capped", message));
        Reply reply;
        QVERIFY(Decode(message, reply));
        QCOMPARE(reply.files.size(), size_t(SharedFoldersManager::kMaxRecords));
        QCOMPARE(reply.files.front().name, std::string("\\cap\\0"));
    }
};

QTEST_GUILESS_MAIN(TestShareSearch)
#include "tst_sharesearch.moc"
