// Commands and events of the transfer engine (and, when no other module has
// made one, the share manager that it needs). Not made with --raw-files,
// where the driver takes file connections itself.
#include "Driver.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCoreApplication>
#include <QTimer>

namespace {

QString Text(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString RemotePath(ItemPtr download)
{
    return Text(TransferQueueManager::GetRemotePath(download));
}

ItemPtr FindDownload(const QStringList& args)
{
    const std::string path = Rest(args, 1).toStdString();
    return transferQueueManager->GetDownloadEntry(args[0], GetFileName(path), GetFolder(path));
}

void RegisterQueueCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("download"), QStringLiteral("download <user> <size> <path...>"),
        QStringLiteral("Queues a download of the user's file (path with \"\\\")."), 3,
        [](const QStringList& args) {
            const std::string path = Rest(args, 2).toStdString();
            ItemPtr download = transferQueueManager->AddDownload(
                args[0], GetFileName(path), GetFolder(path), args[1].toLongLong(), false, 0);
            Driver::Print(QStringLiteral("download-added %1 %2")
                              .arg(download["download_entry_status"].AsString(), RemotePath(download)));
        });
    driver.AddCommand(QStringLiteral("remove-download"), QStringLiteral("remove-download <user> <path...>"),
        QStringLiteral("Removes a download (its partial file stays)."), 2,
        [](const QStringList& args) { transferQueueManager->RemoveDownload(FindDownload(args)); });
    driver.AddCommand(QStringLiteral("requeue"), QStringLiteral("requeue <user> <path...>"),
        QStringLiteral("Asks the user again for a download."), 2,
        [](const QStringList& args) { transferQueueManager->RequeueDownload(FindDownload(args)); });
    driver.AddCommand(QStringLiteral("downloads"), QStringLiteral("downloads"),
        QStringLiteral("Prints \"download <user> <status> <bytes> <size> <place> <path>\" lines, then "
                       "\"downloads-end\"."),
        0, [](const QStringList&) {
            for (ItemPtr download : d.GetType("download_entry")->GetItems()) {
                auto* position = download["write_position"].AsPointer<qint64>();
                Driver::Print(
                    QStringLiteral("download %1 %2 %3 %4 %5 %6")
                        .arg(download["user"].AsString(), download["download_entry_status"].AsString())
                        .arg(position ? *position : -1)
                        .arg(download["file_size"].AsInt64())
                        .arg(download["place_in_line"] ? download["place_in_line"].AsInt() : -1)
                        .arg(RemotePath(download)));
            }
            Driver::Print(QStringLiteral("downloads-end"));
        });
    driver.AddCommand(QStringLiteral("uploads"), QStringLiteral("uploads"),
        QStringLiteral("Prints \"upload <user> <status> <order> <file>\" lines, then \"uploads-end\"."), 0,
        [](const QStringList&) {
            for (ItemPtr upload : d.GetType("upload_entry")->GetItems()) {
                Driver::Print(QStringLiteral("upload %1 %2 %3 %4")
                                  .arg(upload["user"].AsString(), upload["upload_entry_status"].AsString())
                                  .arg(upload["effective_upload_order"].AsInt())
                                  .arg(upload["filename_as_requested"].AsString()));
            }
            Driver::Print(QStringLiteral("uploads-end"));
        });
    driver.AddCommand(QStringLiteral("push-upload"), QStringLiteral("push-upload <user> <file...>"),
        QStringLiteral("Pushes one of our shared files to the user."), 2,
        [](const QStringList& args) { transferQueueManager->AddUpload(args[0], Rest(args, 1)); });
    driver.AddCommand(QStringLiteral("place-in-line-request"),
        QStringLiteral("place-in-line-request <user> <path...>"),
        QStringLiteral("Asks the user for our download's place in its queue."), 2,
        [](const QStringList& args) {
            transferQueueManager->RequestDownloadPlaceInLine(FindDownload(args));
        });
}

void RegisterControlCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("upload-slots"), QStringLiteral("upload-slots <n>"),
        QStringLiteral("Sets the number of upload slots."), 1,
        [](const QStringList& args) { transferQueueManager->SetUploadSlots(args[0].toInt()); });
    driver.AddCommand(QStringLiteral("speed-limit"), QStringLiteral("speed-limit <KiB/s>"),
        QStringLiteral("Limits the upload speed (0: no limit)."), 1, [](const QStringList& args) {
            transferQueueManager->SetUploadSpeedLimit(args[0].toInt());
            transferQueueManager->EnableUploadSpeedLimit(args[0].toInt() > 0);
        });
    driver.AddCommand(QStringLiteral("finish-uploads-and-quit"),
        QStringLiteral("finish-uploads-and-quit yes|no"), QStringLiteral("Switches finish-uploads-and-quit."),
        1, [](const QStringList& args) {
            if (args[0] == QLatin1String("yes"))
                runtimeSettings.Set("finish_uploads_and_quit", "yes");
            else
                runtimeSettings.Clear("finish_uploads_and_quit");
        });
    driver.AddCommand(QStringLiteral("half-minute"), QStringLiteral("half-minute"),
        QStringLiteral("Runs the transfer engine's half-minute checks now."), 0,
        [](const QStringList&) { transferQueueManager->EveryHalfMinute(); });
    driver.AddCommand(QStringLiteral("advance-clock"), QStringLiteral("advance-clock <seconds>"),
        QStringLiteral("Moves the transfer engine's time-out clock on."), 1,
        [](const QStringList& args) { transferQueueManager->AdvanceClock(args[0].toLongLong() * 1000); });
}

void ConnectTransferEvents()
{
    TransferQueueManager* tq = transferQueueManager;
    QObject::connect(tq, &TransferQueueManager::TransfersLoaded,
        [] { Driver::Print(QStringLiteral("transfers-loaded")); });
    QObject::connect(tq, &TransferQueueManager::CompleteDownloadAdded, [](ItemPtr record) {
        Driver::Print(QStringLiteral("complete-download %1 %2 %3")
                          .arg(record["user"].AsString(), record["complete_download_filename"].AsString())
                          .arg(record["complete_download_file_size"].AsString()));
    });
    // Every status change, as the pages would see it through the store.
    auto* downloadHandler = new FunctionEventHandler<ConnectionInfo&, std::function<void(ConnectionInfo&)>>(
        [](ConnectionInfo& c) {
            ItemPtr download = c.first;
            Driver::Print(QStringLiteral("download-status %1 %2 %3")
                              .arg(download["user"].AsString(), c.second.AsString(), RemotePath(download)));
        });
    d.AddConnectionEventHandler(
        d.GetType("download_entry"), d.GetType("download_entry_status"), tq->Register(downloadHandler));
    auto* uploadHandler = new FunctionEventHandler<ConnectionInfo&, std::function<void(ConnectionInfo&)>>(
        [](ConnectionInfo& c) {
            ItemPtr upload = c.first;
            Driver::Print(QStringLiteral("upload-status %1 %2 %3")
                              .arg(upload["user"].AsString(), c.second.AsString(),
                                  upload["filename_as_requested"].AsString()));
        });
    d.AddConnectionEventHandler(
        d.GetType("upload_entry"), d.GetType("upload_entry_status"), tq->Register(uploadHandler));
    // Why a transfer failed, as its row's tool tip says.
    for (const char* entry : { "download", "upload" }) {
        auto* reasonHandler = new FunctionEventHandler<ConnectionInfo&, std::function<void(ConnectionInfo&)>>(
            [entry](ConnectionInfo& c) {
                Driver::Print(
                    QStringLiteral("%1-reason %2 %3")
                        .arg(QLatin1String(entry), c.first["user"].AsString(), c.second.AsString()));
            });
        d.AddConnectionEventHandler(d.GetType(std::string(entry) + "_entry"), d.GetType("denial_reason"),
            tq->Register(reasonHandler));
    }
}

} // namespace

void RegisterTransferCommands(Driver& driver)
{
    if (driver.options.rawFiles)
        return;
    // The shared-folders module, which runs before this one, made the share
    // manager that the engine uses.
    new TransferQueueManager(QCoreApplication::instance());
    // The engine goes before the peer network: it waits for its threads.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
        [] { delete transferQueueManager; });
    RegisterQueueCommands(driver);
    RegisterControlCommands(driver);
    ConnectTransferEvents();
}
