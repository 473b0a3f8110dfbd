// The download and upload queues: duplicates and order numbers, re-queues and
// their stamps, the serving order of uploads, the per-user limit, slots and
// the speed limit, and the half-minute checks on the monotonic clock.
#include "helper_transfercore.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include "store/SlicedWork.h"
#include "transfers/TransferQueueManager.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestQueue : public QObject {
    Q_OBJECT
    TransferQueueManager* tq = nullptr;
    QTemporaryDir temp;
    QString share;

    QString File(int n) const { return QString(share + "/f%1.bin").arg(n).replace('/', '\\'); }

    ItemPtr Upload(const QString& user, int n) const
    {
        return d.GetItem(d.GetType("user")->GetItem(Value(user)),
            d.GetType("filename_as_requested")->GetItem(Value(File(n))), "upload_entry");
    }

    // Runs the half-minute check: true when it ended the program (the test
    // runs no application loop, so the request to quit only shows in the log).
    bool CheckQuits()
    {
        LogSink::Instance().Reset();
        tq->EveryHalfMinute();
        for (const LogLine& line : LogSink::Instance().AreaLines("Transfer Queue")) {
            if (line.text.contains("quitting"))
                return true;
        }
        return false;
    }

    void RemoveUploads()
    {
        for (ItemPtr upload : d.GetType("upload_entry")->GetItems())
            tq->RemoveUpload(upload);
    }

    void SetGroupPriority(const QString& user, const QString& group, int priority)
    {
        ItemPtr inList = d.GetType("user")->GetItem(Value(user)).NewItem("in_user_list");
        ItemPtr g = d.GetType("user_list_group")->GetItem(Value(group));
        g += d.GetType("group_download_priority")->GetItem(Value(priority));
        inList += g;
    }

private slots:
    void initTestCase()
    {
        tq = MakeTransferCore(temp.path() + "/downloads");
        share = temp.path() + "/share";
        for (int n = 0; n < 30; ++n)
            WriteRandomFile(share + QString("/f%1.bin").arg(n), 100 + n, n);
        QVERIFY(ShareFolder(share));
    }

    void addingDownloads()
    {
        settings.Set("transfer_order_counter", "7");
        SetOnline("dl", false);
        ItemPtr a = tq->AddDownload("dl", "a.mp3", "F", 1, true, 0);
        ItemPtr b = tq->AddDownload("dl", "b.mp3", "F", 1, false, 0);
        QCOMPARE(tq->AddDownload("dl", "a.mp3", "F", 1, true, 0), a);
        QVERIFY(tq->AddDownload("dl", "a.mp3", "G", 1, true, 0) != a);
        QCOMPARE(a["download_order"].AsString(), QString("7"));
        QCOMPARE(b["download_order"].AsString(), QString("8"));
        QCOMPARE(settings.Get("transfer_order_counter"), QString("10"));
        QCOMPARE(DownloadStatus(a), QString("queued"));
        QVERIFY(a.IsConnected("single_download"));
        QVERIFY(d.GetType("user")->GetItem("dl")["next_place_in_line_request_time"]);
        QVERIFY(!tq->IsActivelyDownloadingFromUser("dl"));

        // A folder spelled with "/" or with "\" is one folder, whichever
        // spelling came first (a download pushed by a user of the list
        // too); a folder of another name is not.
        ItemPtr slashed = tq->AddDownload("dl", "s.mp3", "Music/Album", 1, false, 0);
        QCOMPARE(tq->GetDownloadEntry("dl", "s.mp3", "Music\\Album"), slashed);
        ItemPtr backslashed = tq->AddDownload("dl", "t.mp3", "Music\\Other", 1, false, 0);
        QCOMPARE(tq->AddDownload("dl", "t.mp3", "Music/Other", 1, false, 0), backslashed);
        ItemPtr listed = d.GetType("user")->GetItem("dl").NewItem("in_user_list");
        settings.Set("accept_userlist_uploads", "yes");
        tq->OnFileTransferRequest("dl", 1, 90, "Pushed/Here\\p.mp3", 5);
        settings.Clear("accept_userlist_uploads");
        listed.Remove();
        QCOMPARE(tq->GetDownloadEntry("dl", "p.mp3", "Pushed\\Here")["file_size"].AsInt64(), qint64(5));
        QVERIFY(!tq->GetDownloadEntry("dl", "s.mp3", "Music\\Albums"));
        // Many asked for together: in their order, a few before the call
        // returns, each with the search that found it.
        tq->AddDownloads(
            { { "dl", "m1.mp3", "Many", 1, false, 0, "words" }, { "dl", "m2.mp3", "Many", 1, true, 1, {} } });
        ItemPtr m1 = tq->GetDownloadEntry("dl", "m1.mp3", "Many");
        ItemPtr m2 = tq->GetDownloadEntry("dl", "m2.mp3", "Many");
        QVERIFY(m1 && m2 && m1["download_order"].AsInt64() < m2["download_order"].AsInt64());
        QCOMPARE(m1["search_request_text"].AsString(), QString("words"));
        QVERIFY(!m2["search_request_text"] && m2.IsConnected("single_download"));
        QCOMPARE(m2["subfolder_save_level"].AsInt(), 1);

        // Re-queues: nothing for a user without downloads; stamps otherwise.
        ItemPtr nobody = d.GetType("user")->GetItem("nobody");
        tq->RequeueUserDownloads(nobody);
        QVERIFY(!nobody["last_queue_request_time"]);
        tq->SetDownloadEntryStatus(a, "aborted");
        tq->RequeueUserDownloads(a["user"]);
        QCOMPARE(DownloadStatus(a), QString("queued"));
        QVERIFY(a["user"]["last_queue_request_time"]);

        // Denials and places in line find the download by its path.
        tq->OnDownloadPlaceInLine("dl", "F\\b.mp3", 12);
        QCOMPARE(b["place_in_line"].AsInt(), 12);
        tq->OnUploadDeniedNotification("dl", "F\\b.mp3", "Too many files");
        QCOMPARE(DownloadStatus(b), QString("denied"));
        QCOMPARE(b["denial_reason"].AsString(), QString("Too many files"));
        tq->OnUploadDeniedNotification("dl", "F\\none.mp3", "x");
    }

    void servingOrder()
    {
        RemoveUploads();
        for (const char* user : { "plain", "vip", "grouped", "late" })
            SetOnline(user, false);
        SetGroupPriority("grouped", "friends", 3);
        SetGroupPriority("grouped", "best", 5);
        SetGroupPriority("late", "enemies", -2);
        QCOMPARE(TransferQueueManager::GetUserGroupDownloadPriority("grouped"), 5);
        QCOMPARE(TransferQueueManager::GetUserGroupDownloadPriority("late"), 0);
        QCOMPARE(TransferQueueManager::GetUserGroupDownloadPriority("plain"), 0);
        d.GetType("user")->GetItem("vip") += d.GetType("is_privileged")->GetGlobalNullItem();

        tq->OnQueueUploadRequested("plain", File(0));
        tq->OnQueueUploadRequested("plain", File(1));
        QCOMPARE(Upload("plain", 0)["effective_upload_order"].AsInt(), 1);
        QCOMPARE(Upload("plain", 1)["effective_upload_order"].AsInt(), 2);
        tq->OnQueueUploadRequested("vip", File(2));
        tq->OnQueueUploadRequested("grouped", File(3));
        tq->OnQueueUploadRequested("late", File(4));
        // grouped (priority 5), vip (privileged), then plain and late in arrival order.
        QCOMPARE(Upload("grouped", 3)["effective_upload_order"].AsInt(), 1);
        QCOMPARE(Upload("vip", 2)["effective_upload_order"].AsInt(), 2);
        QCOMPARE(Upload("plain", 0)["effective_upload_order"].AsInt(), 3);
        QCOMPARE(Upload("plain", 1)["effective_upload_order"].AsInt(), 4);
        QCOMPARE(Upload("late", 4)["effective_upload_order"].AsInt(), 5);
        QCOMPARE(tq->QueuedUploadCount(), 5);

        // A second request for a queued file changes nothing.
        tq->OnQueueUploadRequested("plain", File(0));
        QCOMPARE(tq->QueuedUploadCount(), 5);
        // Removing the tail resets it; the next entry goes after the rest.
        tq->RemoveUpload(Upload("late", 4));
        tq->OnQueueUploadRequested("late", File(5));
        QCOMPARE(Upload("late", 5)["effective_upload_order"].AsInt(), 5);
        RemoveUploads();
    }

    void perUserLimitAndShutdown()
    {
        SetOnline("greedy", false);
        settings.Set("max_queued_uploads_per_user", "10");
        for (int n = 0; n < 11; ++n)
            tq->OnQueueUploadRequested("greedy", File(n));
        QVERIFY(Upload("greedy", 9));
        QVERIFY(!Upload("greedy", 10));
        // A finished entry may come back even at the limit.
        tq->SetUploadEntryStatus(Upload("greedy", 0), "complete");
        tq->OnQueueUploadRequested("greedy", File(10));
        QVERIFY(Upload("greedy", 10));
        tq->SetUploadEntryStatus(Upload("greedy", 1), "aborted");
        tq->OnQueueUploadRequested("greedy", File(1));
        QCOMPARE(UploadStatus(Upload("greedy", 1)), QString("queued"));
        // Not shared, and pending shutdown.
        tq->OnQueueUploadRequested("greedy", "\\no\\such\\file");
        QVERIFY(!d.GetType("filename_as_requested")->HasItem("\\no\\such\\file").IsConnected("upload_entry"));
        runtimeSettings.Set("finish_uploads_and_quit", "yes");
        tq->SetUploadEntryStatus(Upload("greedy", 2), "complete");
        tq->OnQueueUploadRequested("greedy", File(2));
        QCOMPARE(UploadStatus(Upload("greedy", 2)), QString("complete"));
        // A pushed upload is queued all the same.
        tq->AddUpload("greedy", File(20));
        QCOMPARE(UploadStatus(Upload("greedy", 20)), QString("queued"));
        runtimeSettings.Clear("finish_uploads_and_quit");
        settings.Set("max_queued_uploads_per_user", "200");
        tq->UnshareUser("greedy");
        QVERIFY(!Upload("greedy", 3));
        QVERIFY(d.GetType("user")->GetItem("greedy").IsConnected("unshared"));
        tq->OnQueueUploadRequested("greedy", File(3));
        QVERIFY(!Upload("greedy", 3));
        tq->ReshareUser("greedy");
        RemoveUploads();
    }

    void slotsOnePerUserOnlineOnly()
    {
        settings.Set("upload_slots", "2");
        for (const char* user : { "A", "B", "C", "D" })
            SetOnline(user, false);
        tq->OnQueueUploadRequested("A", File(0));
        tq->OnQueueUploadRequested("A", File(1));
        tq->OnQueueUploadRequested("B", File(2));
        tq->OnQueueUploadRequested("C", File(3));
        tq->OnQueueUploadRequested("D", File(4));
        QCOMPARE(tq->ActiveUploadCount(), 0);
        // Coming online starts uploads (the watched path); D stays offline.
        for (const char* user : { "A", "B", "C" })
            SetOnline(user, true);
        QCOMPARE(UploadStatus(Upload("A", 0)), QString("requesting"));
        QCOMPARE(UploadStatus(Upload("B", 2)), QString("requesting"));
        QCOMPARE(UploadStatus(Upload("A", 1)), QString("queued"));
        QCOMPARE(UploadStatus(Upload("C", 3)), QString("queued"));
        QVERIFY(!tq->IsFreeToUpload());
        QVERIFY(Upload("A", 0)["transfer_req"]);
        const int offlineNumber = Upload("D", 4)["effective_upload_order"].AsInt();

        // A's upload ends: its second entry comes before C's.
        tq->SetUploadEntryStatus(Upload("A", 0), "complete");
        tq->StartNewUploads();
        QCOMPARE(UploadStatus(Upload("A", 1)), QString("requesting"));
        QCOMPARE(UploadStatus(Upload("C", 3)), QString("queued"));
        QCOMPARE(Upload("A", 1)["effective_upload_order"].AsInt(), 0);
        QCOMPARE(Upload("C", 3)["effective_upload_order"].AsInt(), 1);
        QCOMPARE(Upload("D", 4)["effective_upload_order"].AsInt(), offlineNumber);

        // Lowering the slots stops nothing; raising them starts more.
        tq->SetUploadSlots(1);
        QCOMPARE(tq->ActiveUploadCount(), 2);
        tq->SetUploadSlots(0);
        QCOMPARE(settings.Get("upload_slots"), QString("1"));
        tq->SetUploadSlots(3);
        QCOMPARE(UploadStatus(Upload("C", 3)), QString("requesting"));
        QCOMPARE(tq->ActiveUploadCount(), 3);

        // Someone with nothing queued coming online (one of a crowd joining a
        // room) does not go through the queue of others: C's second upload,
        // waiting for C's first with a slot free, is not looked at again (and
        // so not yet found refused to C) until C's turn comes.
        tq->SetUploadSlots(4);
        tq->OnQueueUploadRequested("C", File(5));
        QCOMPARE(UploadStatus(Upload("C", 5)), QString("queued"));
        d.GetType("user")->GetItem(Value("C")) += d.GetType("unshared")->GetGlobalNullItem();
        SetOnline("passer-by", true);
        QCOMPARE(UploadStatus(Upload("C", 5)), QString("queued"));
        d.GetType("user")->GetItem(Value("C")).Disconnect("unshared");

        // Speed limit shares.
        tq->SetUploadSpeedLimit(100);
        QCOMPARE(tq->GetSpeedLimit().PerUploadLimit(), 0);
        tq->EnableUploadSpeedLimit(true);
        QCOMPARE(tq->GetUploadSpeed(), 100);
        QCOMPARE(tq->GetSpeedLimit().PerUploadLimit(), 33);
        tq->SetUploadSpeedLimit(2);
        QCOMPARE(tq->GetSpeedLimit().PerUploadLimit(), 1);
        tq->SetUploadSpeedLimit(0);
        QCOMPARE(tq->GetUploadSpeed(), 0);
        tq->EnableUploadSpeedLimit(false);
        settings.Set("upload_slots", "1");
        RemoveUploads();
        QCOMPARE(tq->ActiveUploadCount(), 0);

        // Through removals and re-queues the queue keeps its order, with an
        // offline user's upload in its place between others, and a user
        // whose uploads wait at its front gets one slot of two.
        settings.Set("upload_slots", "2");
        for (const char* user : { "P", "Q", "R" })
            SetOnline(user, false);
        for (auto [user, n] : { std::pair { "R", 0 }, { "P", 1 }, { "P", 2 }, { "Q", 3 }, { "Q", 4 } })
            tq->OnQueueUploadRequested(user, File(n));
        SetOnline("P", true);
        QCOMPARE(UploadStatus(Upload("P", 2)), QString("queued"));
        SetOnline("Q", true);
        QCOMPARE(UploadStatus(Upload("Q", 3)), QString("requesting"));
        tq->RemoveUpload(Upload("P", 2));
        SetOnline("R", true);
        tq->SetUploadEntryStatus(Upload("P", 1), "complete");
        tq->SetUploadEntryStatus(Upload("Q", 3), "complete");
        tq->OnQueueUploadRequested("P", File(1));
        QCOMPARE(UploadStatus(Upload("P", 1)), QString("requesting"));
        QCOMPARE(UploadStatus(Upload("R", 0)), QString("requesting"));
        QCOMPARE(UploadStatus(Upload("Q", 4)), QString("queued"));
        settings.Set("upload_slots", "1");
        RemoveUploads();

        // A long queue, started from in a pass whose time is spent: the next
        // upload starts at once and the numbers are given in later passes
        // (those of the second start given as if the first's were done), or
        // at once for a request that comes meanwhile.
        const auto user = [](int u) { return QString("L%1").arg(u); };
        for (int u = 0; u < 1000; ++u) {
            SetOnline(user(u), true);
            for (int n = 0; n < 3; ++n)
                tq->OnQueueUploadRequested(user(u), File(n));
        }
        SetOnline("late", true);
        for (int n = 0; n < 2; ++n) {
            SlicedWork::Turn();
            QTest::qSleep(SlicedWork::kTurnMs + 1);
            tq->SetUploadEntryStatus(Upload("L0", n), "complete");
            tq->StartNewUploads();
            QCOMPARE(UploadStatus(Upload("L0", n + 1)), QString("requesting"));
        }
        QTRY_COMPARE(Upload("L999", 2)["effective_upload_order"].AsInt(), 2997);
        QCOMPARE(Upload("L1", 0)["effective_upload_order"].AsInt(), 1);
        tq->OnQueueUploadRequested("late", File(0));
        QCOMPARE(Upload("late", 0)["effective_upload_order"].AsInt(), 2998);
        for (int u = 0; u < 1000; ++u)
            SetOnline(user(u), false);
        RemoveUploads();
    }

    // No transfer request goes to a banned user, nor for a file that left
    // the share or that the user may no longer see.
    void uploadsNeverOfferedUnshared()
    {
        settings.Set("upload_slots", "1");
        auto requests = [] { return settings.GetInt64("transfer_req_counter"); };
        SetOnline("pest", true);
        SetOnline("fair", false);
        tq->OnQueueUploadRequested("pest", File(10));
        tq->OnQueueUploadRequested("pest", File(11));
        tq->OnQueueUploadRequested("fair", File(12));
        SetOnline("fair", true);
        QCOMPARE(UploadStatus(Upload("pest", 10)), QString("requesting"));
        qint64 before = requests();
        tq->UnshareUser("pest");
        QVERIFY(!Upload("pest", 11));
        QCOMPARE(UploadStatus(Upload("fair", 12)), QString("requesting"));
        QCOMPARE(requests(), before + 1); // fair's, and nothing for pest
        tq->ReshareUser("pest");
        RemoveUploads();

        // Queued while offline; meanwhile one file leaves the disk (and the
        // index with the rescan) and the folder of the other is hidden from
        // strangers.
        WriteRandomFile(share + "/private/secret.bin", 50, 1);
        QVERIFY(ShareFolder(share));
        sharedFoldersManager->RescanShares();
        QTRY_VERIFY_WITH_TIMEOUT(!sharedFoldersManager->IsScanning(), 20000);
        SetOnline("newcomer", false);
        const QString secret = QString(share + "/private/secret.bin").replace('/', '\\');
        tq->OnQueueUploadRequested("newcomer", File(13));
        tq->OnQueueUploadRequested("newcomer", secret);
        QVERIFY(Upload("newcomer", 13));
        QVERIFY(QFile::remove(share + "/f13.bin"));
        sharedFoldersManager->RescanShares();
        QTRY_VERIFY_WITH_TIMEOUT(!sharedFoldersManager->IsScanning(), 20000);
        QVERIFY(!Upload("newcomer", 13)["shared_file"]);
        ItemPtr privateRoot = sharedFoldersManager->AddSharedFolder(share + "/private");
        privateRoot += d.GetType("shared_userlist")->NewItem();
        ItemPtr publicRoot = d.GetType("shared_folder")->HasItem(Value(share));
        publicRoot.Disconnect("shared_public");
        QTRY_VERIFY_WITH_TIMEOUT(!sharedFoldersManager->IsScanning(), 20000);
        before = requests();
        SetOnline("newcomer", true);
        QCOMPARE(requests(), before);
        QCOMPARE(d.GetType("upload_entry")->Count(), size_t(0));
        publicRoot += d.GetType("shared_public")->GetGlobalNullItem();
        d.GetType("shared_folder")->HasItem(Value(share + "/private")).Remove();
        WriteRandomFile(share + "/f13.bin", 113, 13);
        sharedFoldersManager->RescanShares();
        QTRY_VERIFY_WITH_TIMEOUT(!sharedFoldersManager->IsScanning(), 20000);
    }

    // Negotiation time-outs and re-queues follow the monotonic clock.
    void halfMinuteChecks()
    {
        settings.Set("upload_slots", "2");
        SetOnline("slow1", true);
        SetOnline("slow2", true);
        tq->OnQueueUploadRequested("slow1", File(6));
        tq->OnQueueUploadRequested("slow2", File(7));
        QCOMPARE(tq->ActiveUploadCount(), 2);
        QCOMPARE(UploadStatus(Upload("slow1", 6)), QString("requesting"));
        tq->AdvanceClock(29000);
        tq->EveryHalfMinute();
        QCOMPARE(UploadStatus(Upload("slow1", 6)), QString("requesting"));
        tq->AdvanceClock(1000);
        tq->EveryHalfMinute();
        QCOMPARE(UploadStatus(Upload("slow1", 6)), QString("aborted"));
        QCOMPARE(UploadStatus(Upload("slow2", 7)), QString("aborted"));
        RemoveUploads();
        settings.Set("upload_slots", "1");

        // An online user with queued downloads is re-queued after ten minutes.
        SetOnline("source", false);
        ItemPtr download = tq->AddDownload("source", "x.bin", "F", 1, false, 0);
        SetOnline("source", true); // stamps the re-queue
        const QString stamp = d.GetType("user")->GetItem("source")["last_queue_request_time"].AsString();
        d.GetType("user")->GetItem("source") += d.GetType("last_queue_request_time")->GetItem("old");
        tq->AdvanceClock(599000);
        tq->EveryHalfMinute();
        QCOMPARE(d.GetType("user")->GetItem("source")["last_queue_request_time"].AsString(), QString("old"));
        tq->AdvanceClock(1000);
        tq->EveryHalfMinute();
        QVERIFY(d.GetType("user")->GetItem("source")["last_queue_request_time"].AsString() != QString("old"));
        Q_UNUSED(stamp);
        tq->RemoveDownload(download);

        // A file connection that fails again and again is asked for again
        // half an hour later at the latest, however often it failed.
        ItemPtr far = tq->AddDownload("source", "far.bin", "F", 1, false, 0);
        for (uint failures = 1; failures <= 12; ++failures) {
            far += d.GetType("remote_transfer_req")->GetItem(Value(failures));
            tq->OnUploadFailedNotification("source", "F\\far.bin");
            QVERIFY(far["denial_reason"]);
            tq->AdvanceClock(1800000);
            tq->EveryHalfMinute();
            QVERIFY2(!far["denial_reason"], qPrintable(QString::number(failures)));
        }
        tq->RemoveDownload(far);

        // Finish-uploads-and-quit waits for quiet uploads: one queued upload
        // keeps the program running however long it stays queued.
        runtimeSettings.Set("finish_uploads_and_quit", "yes");
        tq->EveryHalfMinute();
        SetOnline("last", false);
        tq->AddUpload("last", File(8));
        tq->AdvanceClock(301000);
        QVERIFY(!CheckQuits());
        tq->AdvanceClock(3600000);
        QVERIFY(!CheckQuits());
        // Once it is gone (its status changed long ago), the program ends.
        RemoveUploads();
        QVERIFY(CheckQuits());
        runtimeSettings.Clear("finish_uploads_and_quit");
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"
