// File connections: matching a connection to its download or upload, the
// resume offset, one worker thread per transfer, and the threads' reports.
#include "DownloadThread.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Log.h"
#include <QDateTime>
#include <QFile>
#include <QTcpSocket>
#include <QtEndian>
#include <filesystem>
#include <system_error>

namespace {
// The progress objects that every running transfer has.
void AddClocks(ItemPtr entry)
{
    entry += T("last_receipt_time")->NewItem(Value(new QDateTime(QDateTime::currentDateTime())));
    entry += T("last_speed_measurement_time")->NewItem(Value(new QDateTime(QDateTime::currentDateTime())));
    entry += T("bytes_per_second")->NewItem(Value(new int(0)));
    entry += T("bytes_since_last_receipt")->NewItem(Value(new qint64(0)));
}
} // namespace

ItemPtr TransferQueueManager::EntryOfSender(const char* threadType) const
{
    QObject* thread = sender();
    if (!thread)
        return ItemPtr();
    ItemPtr item = T(threadType)->HasItem(Value(thread));
    return item[std::string(threadType) == "download_thread" ? "download_entry" : "upload_entry"];
}

ItemList TransferQueueManager::PartialFileSharers(ItemPtr download, const QString& path) const
{
    ItemList sharers;
    for (ItemPtr other : download["file_name"].GetItems("download_entry")) {
        if (other != download && StatusOf(other, "download_entry_status") != QLatin1String("complete")
            && LocalPath(GetDownloadTargetPath(other, false)) == path)
            sharers.push_back(other);
    }
    return sharers;
}

void TransferQueueManager::RefuseDownload(ItemPtr download, const QString& status, const QString& reason)
{
    ItemPtr user = download["user"];
    Log(kArea, 2, reason, user);
    T("denial_reason")->GetItem(Value(reason)) += download;
    SetDownloadEntryStatus(download, status);
}

void TransferQueueManager::OnFileConnection(QString user, QTcpSocket* socket, uint requestID)
{
    if (!socket)
        return;
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1, QStringLiteral("File connection created by user %1 for req %2").arg(user).arg(requestID),
        userItem);
    ItemPtr reqItem = T("remote_transfer_req")->HasItem(Value(requestID));
    ItemPtr download;
    for (ItemPtr candidate : reqItem.GetItems("download_entry")) {
        if (candidate["user"] == userItem) {
            download = candidate;
            break;
        }
    }
    if (!download) {
        DropSocket(socket);
        Log(kArea, 2, QStringLiteral("Download not found, aborting"), userItem);
        return;
    }
    // A request number serves one connection: a second one quoting it, or
    // one for a download whose bytes are already arriving, would write into
    // the same partial file at once.
    download.Disconnect(reqItem);
    if (download.IsConnected("download_thread")) {
        DropSocket(socket);
        Log(kArea, 2, QStringLiteral("Download already running, refusing a second connection"), userItem);
        return;
    }

    const QString folder = LocalPath(GetDownloadTargetFolder(download, false));
    const QString path = LocalPath(GetDownloadTargetPath(download, false));
    if (folder.isEmpty() || path.isEmpty()) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("The file name leads outside the downloads folder, aborting"));
        return;
    }
    // A folder that can't be made (a read-only disk, no permission) says why.
    std::error_code folderError;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), folderError);
    if (folderError) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Could not create the folder %1, aborting. Error string: %2")
                .arg(folder, QString::fromStdString(folderError.message())));
        return;
    }
    auto* file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        const QString error = file->errorString();
        delete file;
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Could not open file, aborting. Error string: ") + error);
        return;
    }
    const qint64 size = download["file_size"].AsInt64();
    qint64 offset = file->size();
    if (size < 0) {
        file->close();
        delete file;
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Invalid file size %1, aborting").arg(size));
        return;
    }
    // The partial file holds the start of the file as it was when it was
    // begun: once the peer's file has another size (or the partial is longer
    // than the file), its bytes would not fit the rest, so it starts again.
    // Another user's file of the same name in a folder of the same name has
    // the same partial file, begun maybe for that file: the size it was begun
    // for is recorded on the one entry that began it.
    const ItemList sharers = PartialFileSharers(download, path);
    ItemPtr startedFor = download["partial_file_size"];
    for (ItemPtr other : sharers) {
        if (!startedFor)
            startedFor = other["partial_file_size"];
    }
    if (offset > 0 && (offset > size || (startedFor && startedFor.AsInt64() != size))) {
        Log(kArea, 2,
            QStringLiteral("The file is %1 bytes now, the partial file of %2 bytes was begun for %3; "
                           "downloading it again from the start")
                .arg(size)
                .arg(offset)
                .arg(startedFor ? startedFor.AsString() : QStringLiteral("another size")),
            userItem);
        if (!file->resize(0)) {
            file->close();
            delete file;
            DropSocket(socket);
            RefuseDownload(download, QStringLiteral("local error"),
                QStringLiteral("Could not empty the partial file, aborting"));
            return;
        }
        offset = 0;
    }
    for (ItemPtr other : sharers)
        other.Disconnect("partial_file_size");
    download += T("partial_file_size")->GetItem(Value(static_cast<long long>(size)));
    // The handshake is a few small writes each way: don't let them wait for
    // the peer's delayed acknowledgements.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    char bytes[8];
    qToLittleEndian<qint64>(offset, bytes);
    socket->write(bytes, 8);
    socket->flush();

    download += T("download_socket")->NewItem(Value(socket));
    download += T("download_file")->NewItem(Value(file));
    download += T("write_position")->NewItem(Value(new qint64(offset)));
    SetDownloadEntryStatus(download, QStringLiteral("downloading"));
    AddClocks(download);

    socket->disconnect();
    auto* thread = new DownloadThread(socket, file, size, offset);
    socket->setParent(nullptr);
    socket->moveToThread(thread);
    download += T("download_thread")->NewItem(Value(thread));
    connect(thread, &DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(thread, &DownloadThread::DownloadProgress, this, &TransferQueueManager::OnDownloadProgress);
    connect(thread, &DownloadThread::DownloadComplete, this, &TransferQueueManager::OnDownloadComplete);
    thread->start(QThread::InheritPriority);
    Log(kArea, 2, QStringLiteral("Downloading"), userItem);
}

void TransferQueueManager::OnFileConnectionAccepted(QString user, QTcpSocket* socket)
{
    if (!socket)
        return;
    ItemPtr userItem = T("user")->HasItem(Value(user));
    ItemPtr connecting = T("upload_entry_status")->HasItem("connecting");
    const ItemSet uploads = userItem.GetItems("upload_entry").Connected(connecting);
    if (uploads.Empty()) {
        socket->disconnect();
        socket->deleteLater();
        return;
    }
    ItemPtr upload = uploads.First();
    auto* file = upload["upload_file"].AsPointer<QFile>();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    upload += T("upload_socket")->NewItem(Value(socket));
    SetUploadEntryStatus(upload, QStringLiteral("uploading"));
    AddClocks(upload);
    upload += T("read_position")->NewItem(Value(new qint64(0)));

    socket->disconnect();
    const auto offer = m_offers.find(upload.Get());
    auto* thread = new UploadThread(socket, file, int(upload["transfer_req"].AsUInt()), &m_speedLimit,
        offer != m_offers.end() ? offer->second : FileStamp());
    socket->setParent(nullptr);
    socket->moveToThread(thread);
    upload += T("upload_thread")->NewItem(Value(thread));
    connect(thread, &UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(thread, &UploadThread::UploadProgress, this, &TransferQueueManager::OnUploadProgress);
    connect(thread, &UploadThread::UploadComplete, this, &TransferQueueManager::OnUploadComplete);
    thread->start(QThread::InheritPriority);
}

void TransferQueueManager::OnDownloadProgress(qint64 offset, int bytesPerSecond)
{
    ItemPtr download = EntryOfSender("download_thread");
    if (!download)
        return;
    if (auto* position = download["write_position"].AsPointer<qint64>())
        *position = offset;
    if (auto* speed = download["bytes_per_second"].AsPointer<int>())
        *speed = bytesPerSecond;
    if (auto* time = download["last_receipt_time"].AsPointer<QDateTime>())
        *time = QDateTime::currentDateTime();
    emit DownloadProgressed(download);
}

void TransferQueueManager::OnUploadProgress(qint64 offset, int bytesPerSecond)
{
    ItemPtr upload = EntryOfSender("upload_thread");
    if (!upload)
        return;
    if (auto* position = upload["read_position"].AsPointer<qint64>())
        *position = offset;
    if (auto* speed = upload["bytes_per_second"].AsPointer<int>())
        *speed = bytesPerSecond;
    if (auto* time = upload["last_receipt_time"].AsPointer<QDateTime>())
        *time = QDateTime::currentDateTime();
    emit UploadProgressed(upload);
}

void TransferQueueManager::OnUploadComplete()
{
    ItemPtr upload = EntryOfSender("upload_thread");
    if (!upload)
        return;
    auto* speedObject = upload["bytes_per_second"].AsPointer<int>();
    const int speed = speedObject ? *speedObject : 0;
    Log(kArea, 1, QStringLiteral("Recording upload speed of %1").arg(speed));
    if (upload["shared_file"]["shared_file_size"].AsInt64() > 1048576 && speed > 0 && gp_server)
        gp_server->SendUploadSpeed(speed);
    SetUploadEntryStatus(upload, QStringLiteral("complete"));
    StartNewUploads();
}

void TransferQueueManager::OnUploadError(QString reason)
{
    ItemPtr upload = EntryOfSender("upload_thread");
    if (!upload)
        return;
    auto* thread = upload["upload_thread"].AsPointer<UploadThread>();
    if (thread)
        thread->wait();
    if (thread && thread->FileChanged()) {
        FailChangedUpload(upload);
        return;
    }
    ItemPtr user = upload["user"];
    ItemPtr file = upload["shared_file"];
    Log(kArea, 1,
        QStringLiteral("Error uploading %1 to %2. %3")
            .arg(file["shared_file_folder"].AsString() + QLatin1Char('/')
                    + file["shared_file_name"].AsString(),
                user.AsString(), reason),
        user);
    T("denial_reason")->GetItem(Value(reason)) += upload;
    SetUploadEntryStatus(upload, QStringLiteral("aborted"));
    StartNewUploads();
}
