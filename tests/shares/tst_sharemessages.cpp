// The share list (code 5) and the folder reply (37) built from real shared
// folders and read back byte by byte: keys and order, attributes, empty
// folders, unshared users, folder requests that miss, and fresh lists after
// the index changes.
#include "helper_shares.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
typedef std::vector<std::pair<std::string, std::vector<WireFile>>> WireShare;

bool DecodeShare(const MemStream& message, WireShare& share, quint32& tableCount)
{
    MemStream in(InflateMessage(message, 5));
    quint32 folders;
    if (!in.ReadUInt32(folders))
        return false;
    for (quint32 k = 0; k < folders; ++k) {
        std::string key;
        quint32 count;
        if (!in.ReadString(key) || !in.ReadUInt32(count))
            return false;
        std::vector<WireFile> files(count);
        for (WireFile& file : files) {
            if (!ReadWireFile(in, file))
                return false;
        }
        share.emplace_back(key, files);
    }
    return in.ReadUInt32(tableCount) && in.Remaining() == 0;
}

std::string Key(QString path)
{
    return path.replace(u'/', u'\\').toStdString();
}
}

class TestShareMessages : public QObject {
    Q_OBJECT
    SharedFoldersManager* manager = nullptr;
    QTemporaryDir dir;
    QString root;

private slots:
    void initTestCase()
    {
        manager = MakeShareManager();
        root = dir.filePath("Share");
        WriteFile(root + "/b.txt", "12345");
        WriteFile(root + "/A.MP3", QByteArray(300, 'a'));
        WriteFile(root + "/mode only.mp3", QByteArray(10, 'm'));
        WriteFile(root + "/\xC3\xA9t\xC3\xA9/song.mp3", "s");
        WriteFile(root + "/e/x.bin", "x");
        QDir().mkpath(root + "/empty");
        ItemPtr shared = manager->AddSharedFolder(root);
        shared += d.GetType("shared_public")->NewItem();
        QVERIFY(WaitForScans(manager));
        manager->OnMP3Scanned(root + "/A.MP3", 1, "stereo", 0, false, 256);
        // A file with a mode and no bit rate.
        manager->GetSharedFileItem(root + "/mode only.mp3")
            += d.GetType("bitrate_mode")->GetItem(Value("cbr"));
    }
    void cleanupTestCase() { delete manager; }

    void shareList()
    {
        WireShare share;
        quint32 table = 99;
        QVERIFY(DecodeShare(manager->GetSharedFilesMessage("anyone"), share, table));
        QCOMPARE(table, 0u);
        std::vector<std::string> keys;
        for (const auto& [key, files] : share)
            keys.push_back(key);
        // Unsigned byte order: "é" (0xC3...) after every ASCII name.
        const std::vector<std::string> expected { Key(root), Key(root + "/e"), Key(root + "/empty"),
            Key(root + "/\xC3\xA9t\xC3\xA9") };
        QCOMPARE(keys, expected);
        QVERIFY(share[2].second.empty());
        const std::vector<WireFile>& top = share[0].second;
        QCOMPARE(top.size(), size_t(3));
        QCOMPARE(top[0].name, std::string("A.MP3"));
        QCOMPARE(top[0].size, qint64(300));
        QCOMPARE(top[0].extension, std::string("mp3"));
        QCOMPARE(top[0].attributes, (std::vector<std::pair<quint32, quint32>> { { 0, 256 }, { 2, 0 } }));
        QCOMPARE(top[1].name, std::string("b.txt"));
        QCOMPARE(top[1].extension, std::string());
        QVERIFY(top[1].attributes.empty());
        QCOMPARE(top[2].name, std::string("mode only.mp3"));
        QCOMPARE(top[2].attributes, (std::vector<std::pair<quint32, quint32>> { { 2, 0 } }));
    }

    void unsharedGetsEmptyList()
    {
        d.GetType("user")->GetItem(Value("pest")) += d.GetType("unshared")->NewItem();
        const MemStream message = manager->GetSharedFilesMessage("pest");
        QCOMPARE(InflateMessage(message, 5), QByteArray(8, '\0'));
    }

    void listFollowsTheIndex()
    {
        WireShare before, after;
        quint32 table;
        QVERIFY(DecodeShare(manager->GetSharedFilesMessage("anyone"), before, table));
        WriteFile(root + "/e/new.txt", "n");
        QSignalSpy done(manager, &SharedFoldersManager::SharedFilesRescanned);
        manager->RescanShares();
        QVERIFY(WaitForScans(manager));
        QCOMPARE(done.size(), 1);
        QVERIFY(DecodeShare(manager->GetSharedFilesMessage("anyone"), after, table));
        QCOMPARE(after[1].second.size(), before[1].second.size() + 1);
    }

    void listBuiltInTheBackground()
    {
        // The list that everybody may see is made ready once the index is
        // quiet, and it is the list a request would build.
        QTRY_VERIFY_WITH_TIMEOUT(manager->IsShareListReady("stranger"), 15000);
        FileInfoMap share;
        AttributeTranslationTable table;
        manager->GetSharedFilesAsUserShare("stranger", share, table);
        MemStream body;
        share.Write(body);
        table.Write(body);
        QCOMPARE(InflateMessage(manager->GetSharedFilesMessage("stranger"), 5), body.GetBuffer());

        // A change makes it stale until it is built again, new file included.
        WriteFile(root + "/e/newer.txt", "nn");
        manager->RescanShares();
        QVERIFY(WaitForScans(manager));
        QVERIFY(!manager->IsShareListReady("stranger"));
        QTRY_VERIFY_WITH_TIMEOUT(manager->IsShareListReady("stranger"), 15000);
        WireShare after;
        quint32 tableCount;
        QVERIFY(DecodeShare(manager->GetSharedFilesMessage("stranger"), after, tableCount));
        QCOMPARE(after[1].second.size(), size_t(3));
    }

    void ownShareForTheUploadView()
    {
        auto bytes = [](FileInfoMap& share) {
            MemStream body;
            share.Write(body);
            return body.GetBuffer();
        };
        FileInfoMap expected;
        AttributeTranslationTable table;
        manager->GetSharedFilesAsUserShare("buddy", expected, table);
        QVERIFY(expected.size() > 3);

        // Delivered later, from the event loop, and only while its context lives.
        QObject context;
        auto* gone = new QObject;
        QList<QByteArray> delivered;
        bool early = true;
        manager->RequestSharedFilesAsUserShare("buddy", gone, [&](FileInfoMap&, AttributeTranslationTable&) {
            delivered << "to a dead context";
        });
        manager->RequestSharedFilesAsUserShare("buddy", &context,
            [&](FileInfoMap& share, AttributeTranslationTable&) { delivered << (early ? "early" : bytes(share)); });
        early = false;
        delete gone;
        QTRY_COMPARE(delivered.size(), 1);
        QCOMPARE(delivered.at(0), bytes(expected));

        // Unshared between the request and the answer: the answer is the new share.
        ItemPtr pest = d.GetType("user")->GetItem(Value("later pest"));
        manager->RequestSharedFilesAsUserShare("later pest", &context,
            [&](FileInfoMap& share, AttributeTranslationTable&) { delivered << bytes(share); });
        pest += d.GetType("unshared")->NewItem();
        QTRY_COMPARE(delivered.size(), 2);
        QCOMPARE(delivered.at(1), QByteArray(4, '\0'));
    }

    void folderReply()
    {
        QString request = root + "/e";
        request.replace(u'/', u'\\');
        MemStream message;
        QVERIFY(manager->BuildFolderReply("anyone", 77, request, message));
        MemStream in(InflateMessage(message, 37));
        quint32 number, folders, count, trailer;
        QString first, second;
        QVERIFY(
            in.ReadUInt32(number) && in.ReadString(first) && in.ReadUInt32(folders) && in.ReadString(second));
        QCOMPARE(number, 77u);
        QCOMPARE(first, request);
        QCOMPARE(second, request);
        QCOMPARE(folders, 1u);
        QVERIFY(in.ReadUInt32(count));
        std::vector<WireFile> files(count);
        for (WireFile& f : files)
            QVERIFY(ReadWireFile(in, f));
        QVERIFY(in.ReadUInt32(trailer) && trailer == 0 && in.Remaining() == 0);
        QCOMPARE(count, 3u);
        QCOMPARE(files[0].name, std::string("new.txt"));
        QCOMPARE(files[1].name, std::string("newer.txt"));
        QCOMPARE(files[2].name, std::string("x.bin"));
        QCOMPARE(files[2].size, qint64(1));

        // Audio attributes are never in a folder reply.
        QString top = root;
        top.replace(u'/', u'\\');
        MemStream topReply;
        QVERIFY(manager->BuildFolderReply("anyone", 1, top, topReply));
        MemStream topIn(InflateMessage(topReply, 37));
        QString skip;
        quint32 skipped;
        QVERIFY(topIn.ReadUInt32(skipped) && topIn.ReadString(skip) && topIn.ReadUInt32(skipped)
            && topIn.ReadString(skip) && topIn.ReadUInt32(count));
        for (quint32 k = 0; k < count; ++k) {
            WireFile f;
            QVERIFY(ReadWireFile(topIn, f));
            QVERIFY(f.extension.empty() && f.attributes.empty());
        }

        // An empty folder has count 0 and the trailer.
        QString empty = root + "/empty";
        empty.replace(u'/', u'\\');
        MemStream emptyReply;
        QVERIFY(manager->BuildFolderReply("anyone", 2, empty, emptyReply));
        QVERIFY(InflateMessage(emptyReply, 37).endsWith(QByteArray(8, '\0')));

        // Letter case counts; unknown folders and unshared users get nothing.
        MemStream none;
        QVERIFY(!manager->BuildFolderReply("anyone", 3, request.toUpper(), none));
        QVERIFY(!manager->BuildFolderReply("anyone", 3, request + "\\nothing", none));
        QVERIFY(!manager->BuildFolderReply("pest", 3, request, none));
    }
};

QTEST_GUILESS_MAIN(TestShareMessages)
#include "tst_sharemessages.moc"
