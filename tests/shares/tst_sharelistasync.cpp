// Share-list requests from real peers on loopback, answered without building
// the list on the GUI thread: a list that is not cached yet is built in the
// background and sent when ready, once per request; a change of the index
// while it is built gives the list of the new index; a folder too big for
// one slice is read over several; the manager can go away
// in the middle of a build.
#include "helper_shares.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <set>

namespace {
QByteArray U32(quint32 v)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(v, bytes.data());
    return bytes;
}

std::string Key(QString path)
{
    return path.replace(u'/', u'\\').toStdString();
}

QByteArray Str(const QByteArray& s)
{
    return U32(quint32(s.size())) + s;
}

// A peer that has introduced itself on a messaging connection and collects
// every frame it is sent.
class Asker : public QObject {
public:
    bool Connect(quint16 port, const QByteArray& user)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { Read(); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(5000))
            return false;
        Send(QByteArray(1, char(1)) + Str(user) + Str("P") + U32(0));
        return true;
    }
    void Send(const QByteArray& body)
    {
        m_socket.write(U32(quint32(body.size())) + body);
        m_socket.flush();
    }
    void AskForList() { Send(U32(PM_GET_SHARED_FILE_LIST)); }
    void Leave() { m_socket.abort(); }
    // The share lists (code 5) received so far, and the other frames.
    QList<QByteArray> lists;
    QList<QByteArray> others;

private:
    void Read()
    {
        m_buffer += m_socket.readAll();
        while (m_buffer.size() >= 4) {
            const quint32 length = qFromLittleEndian<quint32>(m_buffer.constData());
            if (m_buffer.size() < 4 + qsizetype(length))
                return;
            const QByteArray frame = m_buffer.mid(4, length);
            m_buffer.remove(0, 4 + length);
            if (frame.size() >= 4 && qFromLittleEndian<quint32>(frame.constData()) == PM_SHARED_FILE_LIST)
                lists.append(frame);
            else
                others.append(frame);
        }
    }
    QTcpSocket m_socket;
    QByteArray m_buffer;
};
}

class TestShareListAsync : public QObject {
    Q_OBJECT
    static constexpr int kLongNames = 8000;
    static constexpr int kDeepFolders = 1400;
    // More files than one slice reads and writes.
    static constexpr int kBigFolder = 40000;
    PeerMessenger* pm = nullptr;
    SharedFoldersManager* manager = nullptr;
    QTemporaryDir dir;
    QString members;

    // The list as the synchronous build makes it from the index as it is now.
    QByteArray ListNow(const QString& user)
    {
        FileInfoMap share;
        AttributeTranslationTable table;
        manager->GetSharedFilesAsUserShare(user, share, table);
        MemStream body;
        share.Write(body);
        table.Write(body);
        return SharedFoldersManager::CompressedMessage(5, body.GetBuffer()).GetBuffer();
    }

    // Makes every cached list stale, as a new file found by a rescan does.
    bool NewFile(const QString& path)
    {
        WriteFile(path, "new");
        manager->RescanShares();
        return WaitForScans(manager) && !manager->IsShareListReady("member");
    }

    // Runs fn right after the messenger has handled the next share-list
    // request of the user: before any background work on it has begun.
    void AfterNextRequest(const QString& user, std::function<void()> fn)
    {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(pm, &PeerMessenger::MessageReceived, this,
            [this, user, fn, once](QString from, quint32 code, int) {
                if (from != user || code != PM_GET_SHARED_FILE_LIST)
                    return;
                disconnect(*once);
                QMetaObject::invokeMethod(this, fn, Qt::QueuedConnection);
            });
    }

private slots:
    void initTestCase()
    {
        Settings::CreateTypes();
        if (!gp_server)
            gp_server = new Server;
        gp_server->CreateData();
        settings.Set("username", "me");
        settings.Set("listening_port", "0");
        settings.Set("obfuscated_listening_port", "0");
        pm = new PeerMessenger;
        QVERIFY(pm->Listen());
        manager = MakeShareManager();

        // A public folder and a larger one for the user list only.
        const QString everybody = dir.filePath("Everybody");
        members = dir.filePath("Members");
        for (int k = 0; k < 100; ++k)
            WriteFile(everybody + QStringLiteral("/p%1.txt").arg(k), "p");
        for (int folder = 0; folder < 40; ++folder) {
            for (int k = 0; k < 75; ++k)
                WriteFile(members + QStringLiteral("/album %1/track %2.mp3").arg(folder).arg(k),
                    QByteArray(k + 1, 't'));
        }
        // Long names: the list is compressed in several pieces.
        const QString longName = QString(200, u'n');
        for (int k = 0; k < kLongNames; ++k)
            WriteFile(members + QStringLiteral("/long/%1 %2.txt").arg(longName).arg(k));
        // Folders with long paths: the list is more than the packer may fall
        // behind by, so building waits for it on the way.
        QString deep = members + QStringLiteral("/deep");
        for (int level = 0; level < 14; ++level)
            deep += QLatin1Char('/') + QString(250, QLatin1Char('d'));
        for (int k = 0; k < kDeepFolders; ++k)
            WriteFile(deep + QStringLiteral("/leaf %1 ").arg(k) + QString(240, u'l') + QStringLiteral("/f.txt"));
        for (int k = 0; k < kBigFolder; ++k)
            WriteFile(members + QStringLiteral("/big/b%1").arg(k), QByteArray());
        // Two folders with one key: "\\" is a plain character in a local name.
        WriteFile(members + "/x\\y/one.mp3");
        WriteFile(members + "/x/y/two.mp3");
        manager->AddSharedFolder(everybody) += d.GetType("shared_public")->NewItem();
        manager->AddSharedFolder(members) += d.GetType("shared_userlist")->NewItem();
        for (const char* user : { "member", "friend" })
            d.GetType("user")->GetItem(Value(user)) += d.GetType("in_user_list")->NewItem();
        QVERIFY(WaitForScans(manager));
    }

    void cleanupTestCase() { delete pm; }

    void memberGetsListBuiltInTheBackground()
    {
        QVERIFY(!manager->IsShareListReady("member"));
        Asker member;
        QVERIFY(member.Connect(pm->ListeningPort(), "member"));
        QTRY_VERIFY(pm->HasOpenMessageConnection("member"));
        // Not built while the request is handled: it is sent when ready.
        MemStream none;
        QVERIFY(!manager->RequestSharedFilesMessage("member", none));
        QCOMPARE(none.Size(), 0);
        member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size(), 1, 15000);
        // The very bytes that building it at once gives, every file in.
        QCOMPARE(member.lists[0], ListNow("member"));
        FileInfoMap share;
        AttributeTranslationTable table;
        manager->GetSharedFilesAsUserShare("member", share, table);
        size_t files = 0;
        for (const auto& [folder, set] : share)
            files += set.size();
        QCOMPARE(files, size_t(100 + 40 * 75 + 2 + kLongNames + kDeepFolders + kBigFolder));
        QVERIFY(InflateMessage(MemStream(member.lists[0]), 5).size() > 5 << 20);
        QCOMPARE(share[Key(members + "/x/y")].size(), size_t(2));

        // Cached now: the next request is answered at once, from the cache.
        QVERIFY(manager->IsShareListReady("member"));
        MemStream cached;
        QVERIFY(manager->RequestSharedFilesMessage("member", cached));
        QCOMPARE(cached.GetBuffer(), member.lists[0]);
        member.AskForList();
        QTRY_COMPARE(member.lists.size(), 2);
        QCOMPARE(member.lists[1], member.lists[0]);

        // Somebody outside the user list sees the public folder only.
        Asker stranger;
        QVERIFY(stranger.Connect(pm->ListeningPort(), "stranger"));
        stranger.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(stranger.lists.size(), 1, 15000);
        QCOMPARE(stranger.lists[0], ListNow("stranger"));
        QVERIFY(!InflateMessage(MemStream(stranger.lists[0]), 5).contains("album"));
    }

    void onePendingAnswerPerPeer()
    {
        QVERIFY(NewFile(members + "/album 1/extra.mp3"));
        Asker member, buddy;
        QVERIFY(member.Connect(pm->ListeningPort(), "member"));
        QVERIFY(buddy.Connect(pm->ListeningPort(), "friend"));
        // Both wait for the same build; one of them keeps asking meanwhile
        // and still gets one answer.
        member.AskForList();
        buddy.AskForList();
        for (int k = 0; k < 50; ++k)
            member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size() + buddy.lists.size(), 2, 15000);
        QTest::qWait(300);
        QCOMPARE(member.lists.size(), 1);
        QCOMPARE(buddy.lists.size(), 1);
        const QByteArray expected = ListNow("member");
        QCOMPARE(member.lists[0], expected);
        QCOMPARE(buddy.lists[0], expected);
        QVERIFY(expected.size() != ListNow("stranger").size());
    }

    void indexOrVisibilityChangeDuringBuildGivesNewList()
    {
        QVERIFY(NewFile(members + "/album 2/extra.mp3"));
        const QByteArray before = ListNow("member");
        Asker member;
        QVERIFY(member.Connect(pm->ListeningPort(), "member"));

        // A file leaves the index while its list is being built.
        ItemPtr gone = manager->GetSharedFileItem(members + "/album 3/track 7.mp3");
        QVERIFY(gone);
        AfterNextRequest("member", [gone] { gone.Remove(); });
        member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size(), 1, 15000);
        QVERIFY(!manager->GetSharedFileItem(members + "/album 3/track 7.mp3"));
        const QByteArray afterRemoval = ListNow("member");
        QVERIFY(afterRemoval != before);
        QCOMPARE(member.lists[0], afterRemoval);

        // A file's audio attributes arrive while the list is being built.
        AfterNextRequest("member",
            [this] { manager->OnMP3Scanned(members + "/album 4/track 1.mp3", 1, "stereo", 0, true, 192); });
        QVERIFY(NewFile(members + "/album 5/extra.mp3"));
        member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size(), 2, 15000);
        QTest::qWait(200);
        QCOMPARE(member.lists.size(), 2);
        const QByteArray withBitrate = ListNow("member");
        QCOMPARE(member.lists[1], withBitrate);
        const QByteArray body = InflateMessage(MemStream(withBitrate), 5);
        // extension, two pairs: bit rate 192, variable.
        QVERIFY(body.contains(Str("mp3") + U32(2) + U32(0) + U32(192) + U32(2) + U32(1)));

        // Some sizes in the big folder change on every pass of the event
        // loop while the list is built: it is read over several passes, so
        // they come from more than one of them.
        std::vector<ItemPtr> sampled;
        for (int k = 0; k < kBigFolder; k += 100)
            sampled.push_back(manager->GetSharedFileItem(members + QStringLiteral("/big/b%1").arg(k)));
        qint64 pass = 0;
        QTimer passes;
        connect(&passes, &QTimer::timeout, this, [this, &pass, &sampled] {
            ++pass;
            for (ItemPtr file : sampled)
                manager->SetSharedFileSize(file, pass);
        });
        passes.start(0);
        QTRY_VERIFY(pass > 0);
        member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size(), 3, 15000);
        passes.stop();
        FileInfoMap share;
        MemStream listed(InflateMessage(MemStream(member.lists[2]), 5));
        QVERIFY(share.Read(listed));
        std::set<qint64> sizes;
        for (const FileInfo& file : share[Key(members + "/big")])
            sizes.insert(file.size);
        sizes.erase(0);
        QVERIFY2(sizes.size() > 1, qPrintable(QString::number(sizes.size())));

        // The user leaves the user list while the list is being built: the
        // answer holds what the user may see when it is sent.
        QVERIFY(NewFile(members + "/album 6/extra.mp3"));
        Asker buddy;
        QVERIFY(buddy.Connect(pm->ListeningPort(), "friend"));
        ItemPtr buddyItem = d.GetType("user")->GetItem(Value("friend"));
        AfterNextRequest("friend", [buddyItem] { buddyItem.Disconnect("in_user_list"); });
        buddy.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(buddy.lists.size(), 1, 15000);
        QCOMPARE(buddy.lists[0], ListNow("stranger"));
        buddyItem += d.GetType("in_user_list")->NewItem();
    }

    void answeredWhileMp3ResultsArrive()
    {
        // MP3 results keep arriving (one every 10 ms, as a scan of a large
        // share gives them): share lists are still answered while they do,
        // not starved by each result starting the list over.
        QVERIFY(NewFile(members + "/album 8/extra.mp3"));
        int next = 0;
        QTimer scans;
        connect(&scans, &QTimer::timeout, this, [this, &next] {
            manager->OnMP3Scanned(members + QStringLiteral("/album %1/track %2.mp3").arg(next % 40).arg(next % 75),
                1, "stereo", 0, false, 128 + next % 64);
            ++next;
        });
        scans.start(10);
        Asker member;
        QVERIFY(member.Connect(pm->ListeningPort(), "member"));
        QTRY_VERIFY(next > 5);
        member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size(), 1, 30000);
        scans.stop();
        // Quiet again: the next answer holds every attribute.
        member.AskForList();
        QTRY_COMPARE_WITH_TIMEOUT(member.lists.size(), 2, 30000);
        QCOMPARE(member.lists[1], ListNow("member"));
    }

    void aCrowdAskingForABigFolderLeavesOthersAnswered()
    {
        // Twenty peers ask ten times each for the folder of 40,000 files at
        // once: a few of their replies are built at a time, off the event
        // loop's back, and a peer asking for the user's information is
        // answered meanwhile. Each reply is the one built at once, sent on
        // the very connection that asked; those of peers that left are
        // dropped unbuilt.
        QObject scope;
        connect(pm, &PeerMessenger::UserInfoRequested, &scope, [this](QString user) {
            MemStream reply = EncodeCodeOnly(PM_USER_INFO_REPLY);
            pm->SendMessage(user, reply);
        });
        int asked = 0;
        connect(pm, &PeerMessenger::MessageReceived, &scope,
            [&](QString, quint32 code) { asked += code == PM_GET_SHARED_FILES_IN_FOLDER; });
        const QString folder = QString(members + "/big").replace(u'/', u'\\');
        const int crowdSize = 20, asks = 10;
        std::vector<std::unique_ptr<Asker>> crowd;
        for (int i = 0; i < crowdSize; ++i) {
            crowd.push_back(std::make_unique<Asker>());
            QVERIFY(crowd.back()->Connect(pm->ListeningPort(), "member"));
            for (int k = 0; k < asks; ++k)
                crowd.back()->Send(
                    U32(PM_GET_SHARED_FILES_IN_FOLDER) + U32(quint32(k)) + Str(folder.toUtf8()));
        }
        QTRY_VERIFY(asked >= crowdSize * kMaxRepliesBuilding);
        Asker probe;
        QVERIFY(probe.Connect(pm->ListeningPort(), "friend"));
        probe.Send(U32(PM_USER_INFO_REQUEST));
        QTRY_COMPARE(probe.others.size(), 1);
        const size_t waiting = manager->FolderRepliesWaiting();
        QVERIFY2(waiting > 0 && waiting <= size_t(crowdSize * kMaxRepliesBuilding),
            qPrintable(QString::number(waiting)));

        QTRY_VERIFY_WITH_TIMEOUT(!crowd[0]->others.isEmpty(), 60000);
        MemStream expected;
        QVERIFY(manager->BuildFolderReply("member", 0, folder, expected));
        QCOMPARE(crowd[0]->others[0], expected.GetBuffer());
        QSignalSpy gone(pm, &PeerMessenger::ConnectionGone);
        for (auto& peer : crowd)
            peer->Leave();
        QTRY_COMPARE(gone.size(), crowdSize);
        QCOMPARE(manager->FolderRepliesWaiting(), size_t(0));
    }

    void shutdownDuringBuild()
    {
        QVERIFY(NewFile(members + "/album 7/extra.mp3"));
        Asker member;
        QVERIFY(member.Connect(pm->ListeningPort(), "member"));
        // The manager goes a moment after the request: while the list is
        // collected or packed.
        qint64 deleteMs = -1;
        QTimer later;
        later.setSingleShot(true);
        later.setInterval(1);
        connect(&later, &QTimer::timeout, this, [this, &deleteMs] {
            QElapsedTimer clock;
            clock.start();
            delete manager;
            manager = nullptr;
            deleteMs = clock.elapsed();
        });
        AfterNextRequest("member", [&later] { later.start(); });
        member.AskForList();
        QTRY_VERIFY_WITH_TIMEOUT(deleteMs >= 0, 5000);
        QVERIFY2(deleteMs < 1000, qPrintable(QString::number(deleteMs)));
        // Nothing comes from a build that was dropped; with the manager gone,
        // requests get the empty list.
        QTest::qWait(300);
        QVERIFY(member.lists.size() <= 1);
        const qsizetype before = member.lists.size();
        member.AskForList();
        QTRY_COMPARE(member.lists.size(), before + 1);
        QCOMPARE(InflateMessage(MemStream(member.lists.last()), 5), QByteArray(8, '\0'));
    }
};

QTEST_GUILESS_MAIN(TestShareListAsync)
#include "tst_sharelistasync.moc"
