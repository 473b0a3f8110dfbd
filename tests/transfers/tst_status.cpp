// The engine's first start and the status model: defaults, saved downloads
// coming back as "queued", repaired settings, and the teardown of a transfer
// that leaves an active status.
#include "helper_transfercore.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

class TestStatus : public QObject {
    Q_OBJECT
    TransferQueueManager* tq = nullptr;

    ItemPtr NewDownload(const QString& user, const char* name)
    {
        return tq->AddDownload(user, name, "Music\\Album", 10, false, 0);
    }

    void RemoveAll()
    {
        for (ItemPtr download : d.GetType("download_entry")->GetItems())
            tq->RemoveDownload(download);
    }

private slots:
    void initTestCase() { tq = MakeTransferCore(); }

    void firstStartDefaults()
    {
        QCOMPARE(settings.Get("download_folder"), QDir::homePath() + "/Marrowby Downloads");
        QCOMPARE(settings.Get("upload_slots"), QString("1"));
        QCOMPARE(settings.Get("max_queued_uploads_per_user"), QString("200"));
        QCOMPARE(settings.Get("check_for_empty_shares"), QString("no"));
        QCOMPARE(settings.Get("upload_speed_limit"), QString("0"));
        QCOMPARE(settings.Get("upload_speed_limit_enabled"), QString("no"));
        QVERIFY(
            settings.Get("empty_share_message").startsWith("It looks like you're not sharing any files."));
        const ItemSet extensions = d.GetType("excluded_download_extension")->GetItems();
        QCOMPARE(extensions.Size(), size_t(1));
        QCOMPARE(extensions.First().AsString(), QString(".ini"));
        QVERIFY(tq->HasExcludedDownloadExtension("setup.INI"));
        QVERIFY(!tq->HasExcludedDownloadExtension("song.mp3"));
    }

    void activeStatuses()
    {
        for (const char* word : { "downloading" })
            QVERIFY(d.GetType("download_entry_status")->GetItem(word).IsConnected("is_active"));
        for (const char* word : { "requesting", "connecting", "uploading", "waiting for offset" })
            QVERIFY(d.GetType("upload_entry_status")->GetItem(word).IsConnected("is_active"));
        for (const char* word : { "queued", "complete", "aborted", "denied", "local error" }) {
            QVERIFY(!d.GetType("download_entry_status")->GetItem(word).IsConnected("is_active"));
            QVERIFY(!d.GetType("upload_entry_status")->GetItem(word).IsConnected("is_active"));
        }
    }

    // Saved downloads come back queued (finished ones stay finished), and
    // settings that would stop uploads are repaired, through a real data file.
    void savedStateComesBack()
    {
        ItemPtr a = NewDownload("saver", "a.mp3");
        ItemPtr b = NewDownload("saver", "b.mp3");
        ItemPtr c = NewDownload("saver", "c.mp3");
        d.GetType("download_entry_status")->GetItem("local error");
        a += d.GetType("download_entry_status")->GetItem("downloading");
        b += d.GetType("download_entry_status")->GetItem("complete");
        c += d.GetType("download_entry_status")->GetItem("denied");
        settings.Set("upload_slots", "-3");
        settings.Set("max_queued_uploads_per_user", "9");
        const QString path = QDir::homePath() + "/.saved-transfers";
        dataSaver->Save(path);
        RemoveAll();
        QSignalSpy loaded(tq, &TransferQueueManager::TransfersLoaded);
        dataSaver->Load(path);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(DownloadStatus(tq->GetDownloadEntry("saver", "a.mp3", "Music\\Album")), QString("queued"));
        QCOMPARE(DownloadStatus(tq->GetDownloadEntry("saver", "b.mp3", "Music\\Album")), QString("complete"));
        QCOMPARE(DownloadStatus(tq->GetDownloadEntry("saver", "c.mp3", "Music\\Album")), QString("queued"));
        QCOMPARE(settings.Get("upload_slots"), QString("1"));
        QCOMPARE(settings.Get("max_queued_uploads_per_user"), QString("10"));
        settings.Set("max_queued_uploads_per_user", "10");
        tq->DataLoaded();
        QCOMPARE(settings.Get("max_queued_uploads_per_user"), QString("10"));
        RemoveAll();
        settings.Set("max_queued_uploads_per_user", "200");
    }

    void downloadTeardownOnlyFromActive()
    {
        ItemPtr download = NewDownload("teardown", "t.mp3");
        ItemPtr user = download["user"];
        QVERIFY(download["last_status_change_time"]);
        QVERIFY(!user["last_queue_request_time"]);
        // queued -> denied: nothing torn down, no queue stamp.
        download += d.GetType("write_position")->NewItem(Value(new qint64(5)));
        tq->SetDownloadEntryStatus(download, "denied");
        QVERIFY(download["write_position"]);
        QVERIFY(!user["last_queue_request_time"]);
        // downloading -> complete: the run-time objects go, the entry stays.
        tq->SetDownloadEntryStatus(download, "downloading");
        download += d.GetType("last_receipt_time")->NewItem(Value(new QDateTime));
        download += d.GetType("bytes_per_second")->NewItem(Value(new int(3)));
        tq->SetDownloadEntryStatus(download, "complete");
        QVERIFY(!download["write_position"]);
        QVERIFY(!download["last_receipt_time"]);
        QVERIFY(!download["bytes_per_second"]);
        QVERIFY(download["download_order"]);
        const QDateTime stamp
            = QDateTime::fromString(user["last_queue_request_time"].AsString(), Qt::TextDate);
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 5);
        tq->RemoveDownload(download);
    }

    void uploadStatusStampsAndReadPosition()
    {
        ItemPtr upload = d.GetType("upload_entry")->NewItem();
        upload += d.GetType("user")->GetItem("stamper");
        tq->SetUploadEntryStatus(upload, "queued");
        QVERIFY(runtimeSettings.Has("last_upload_state_change"));
        tq->SetUploadEntryStatus(upload, "uploading");
        upload += d.GetType("read_position")->NewItem(Value(new qint64(7)));
        // Setting the same active status again tears nothing down.
        tq->SetUploadEntryStatus(upload, "uploading");
        QVERIFY(upload["read_position"]);
        tq->SetUploadEntryStatus(upload, "complete");
        QVERIFY(!upload["read_position"]);
        QCOMPARE(tq->ActiveUploadCount(), 0);
        tq->RemoveUpload(upload);
    }
};

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_status.moc"
