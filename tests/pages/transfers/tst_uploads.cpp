// Uploads to a headless client as the window shows them, steered from the
// page: one slot serves one download while the other waits, raising the slots
// starts it at once, the speed limit set in its spin box holds both back;
// "Clear Complete and Aborted" keeps what still waits; and finish-uploads-and-
// quit refuses new requests, then ends the program once the uploads are done.
#include "gui/GuiTest.h"
#include "helper_transferpage.h"
#include "pages/transfers/TransfersForm.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/TreeWidget.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSpinBox>
#include <QTimer>

namespace {

QString UploadStatus(const QString& file)
{
    for (ItemPtr entry : d.GetType("upload_entry")->GetItems()) {
        if (entry["shared_file"]["shared_file_name"].AsString().endsWith(file)) {
            QTreeWidgetItem* row = TransfersForm::UploadRow(entry);
            return row ? row->text(3) : QStringLiteral("(no row)");
        }
    }
    return QString();
}

} // namespace

class TestUploads : public QObject {
    Q_OBJECT
    gui::Session session;
    TransfersForm* form = nullptr;
    DriverProcess* dave = nullptr;
    QString share;

private slots:
    void initTestCase();
    void slotsAndSpeedLimitPaceUploads();
    void finishUploadsAndQuitRefusesNewAndEnds();
};

void TestUploads::initTestCase()
{
    QVERIFY(session.Prepare());
    QVERIFY(session.StartWindow(QStringLiteral("alice")));
    form = transfersForm;
    share = session.Home() + QStringLiteral("/share");
    QDir().mkpath(share);
    for (const char* name : { "up1.bin", "up2.bin", "up3.bin", "later.bin" }) {
        QFile file(share + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(250000, name[2]));
    }
    ItemPtr folder = sharedFoldersManager->AddSharedFolder(share);
    folder += d.GetType("shared_public")->GetGlobalNullItem();
    QVERIFY(gui::WaitFor([] { return !sharedFoldersManager->IsScanning() && d.GetType("shared_file")->Count() == 4; }));
    dave = session.StartDriver(QStringLiteral("dave"));
    QVERIFY(dave);
}

void TestUploads::slotsAndSpeedLimitPaceUploads()
{
    // One slot, and a limit of 100 KiB/s set in the page.
    form->UploadSlotsSpinBox()->setValue(1);
    form->UploadLimitSpinBox()->setValue(100);
    QVERIFY(form->UploadLimitCheckBox()->isChecked());
    const QString remote = QString(share).replace(QLatin1Char('/'), QLatin1Char('\\'));
    QElapsedTimer clock;
    clock.start();
    dave->Send(QStringLiteral("download alice 250000 %1\\up1.bin").arg(remote));
    dave->Send(QStringLiteral("download alice 250000 %1\\up2.bin").arg(remote));
    QVERIFY(gui::WaitFor([] { return UploadStatus("up1.bin") == QLatin1String("uploading"); }, 20000));
    QCOMPARE(UploadStatus("up2.bin"), QStringLiteral("queued"));
    QTreeWidgetItem* daveRow = FindRow(form->UploadsList(), 0, QStringLiteral("dave"));
    QVERIFY(daveRow);
    QCOMPARE(daveRow->child(0)->childCount(), 2);

    // A second slot starts the waiting upload at once.
    form->UploadSlotsSpinBox()->setValue(2);
    QVERIFY(gui::WaitFor([] { return UploadStatus("up2.bin") != QLatin1String("queued"); }, 5000));
    QVERIFY(gui::WaitFor(
        [] {
            return UploadStatus("up1.bin") == QLatin1String("complete")
                && UploadStatus("up2.bin") == QLatin1String("complete");
        },
        30000));
    // 500,000 bytes at 100 KiB/s take near five seconds.
    QVERIFY2(clock.elapsed() > 3500, qPrintable(QString::number(clock.elapsed())));
    for (const char* name : { "up1.bin", "up2.bin" })
        QVERIFY(!dave->WaitFor(QStringLiteral("complete-download alice %1 250000").arg(QLatin1String(name)), 10000)
                     .isEmpty());
    QTreeWidgetItem* upRow = FindRow(form->UploadsList(), 2, QStringLiteral("up1.bin"));
    QTRY_COMPARE(BarText(form->UploadsList(), upRow), QStringLiteral("250,000 (100.0%)"));
    QCOMPARE(RowColor(upRow), QColor(QStringLiteral("#006400")));
    form->UploadLimitSpinBox()->setValue(0);

    // A queued upload to someone away stays; the finished ones go.
    transferQueueManager->AddUpload(QStringLiteral("nobody"), share + QStringLiteral("/up3.bin"));
    QVERIFY(gui::WaitFor([] { return UploadStatus("up3.bin") == QLatin1String("queued"); }));
    form->OnActionBarTriggered(nullptr, QStringLiteral("clear_complete_and_aborted_uploads"));
    QCOMPARE(UploadStatus("up1.bin"), QString());
    QVERIFY(!FindRow(form->UploadsList(), 0, QStringLiteral("dave")));
    QCOMPARE(UploadStatus("up3.bin"), QStringLiteral("queued"));
    form->UploadsList()->clearSelection();
    FindRow(form->UploadsList(), 0, QStringLiteral("nobody"))->setSelected(true);
    QTest::keyClick(form->UploadsList(), Qt::Key_Delete);
    QCOMPARE(d.GetType("upload_entry")->Count(), size_t(0));
}

void TestUploads::finishUploadsAndQuitRefusesNewAndEnds()
{
    actionBar->ChangeSet(form->UploadsList(), QStringLiteral("uploads"));
    form->OnActionBarTriggered(nullptr, QStringLiteral("finish_uploads_and_quit"));
    QCOMPARE(actionBar->FindAction(QStringLiteral("finish_uploads_and_quit"))->text(),
        QStringLiteral("Finish Uploads and Quit [on]"));
    // New requests are refused.
    const QString remote = QString(share).replace(QLatin1Char('/'), QLatin1Char('\\'));
    dave->Send(QStringLiteral("download alice 250000 %1\\later.bin").arg(remote));
    QVERIFY(!dave->WaitFor(QStringLiteral("download-status alice denied"), 15000).isEmpty());
    QCOMPARE(d.GetType("upload_entry")->Count(), size_t(0));

    // No upload left and five quiet minutes later, the program ends.
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, [&] { loop.exit(99); });
    QTimer::singleShot(0, [] {
        transferQueueManager->EveryHalfMinute(); // the quiet time may start only now
        transferQueueManager->AdvanceClock(301000);
        transferQueueManager->EveryHalfMinute();
    });
    QCOMPARE(loop.exec(), 0);
}

GUI_TEST_MAIN(TestUploads)
#include "tst_uploads.moc"
