// File connections: matching a connection to its download or upload, the
// resume offset, one worker thread per transfer, and the threads' reports.
#include "DownloadThread.h"
#include "SafePath.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "peers/OrderedWorker.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/NoFollowFolder.h"
#include <QDateTime>
#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Bytes of a partial file that the peer is asked to send again on a resume.
constexpr qint64 kHeldBytesChecked = 64 * 1024;

// The last bytes (at most kHeldBytesChecked) of the open file of `held` bytes.
bool ReadFileTail(int descriptor, qint64 held, QByteArray& tail)
{
    const qint64 length = qMin(held, kHeldBytesChecked);
    tail.resize(length);
    for (qint64 got = 0; got < length;) {
        const ssize_t n = ::pread(descriptor, tail.data() + got, size_t(length - got), held - length + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

QString RecordFailed(const QString& why)
{
    return QStringLiteral("Could not record the partial file's source, aborting. Error string: ") + why;
}

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
    if (download.IsConnected("download_thread") || m_beginning.count(download["download_order"].AsInt64())) {
        DropSocket(socket);
        Log(kArea, 2, QStringLiteral("Download already running, refusing a second connection"), userItem);
        return;
    }

    // A download begun in another downloads folder goes on there while its
    // partial file is there.
    FollowFolderChange(download);
    const QString root = DownloadRootOf(download);
    if (LocalPath(GetDownloadTargetFolder(download, false)).isEmpty()
        || LocalPath(GetDownloadTargetPath(download, false)).isEmpty()) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("The file name leads outside the downloads folder, aborting"));
        return;
    }
    const qint64 size = download["file_size"].AsInt64();
    if (size < 0) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Invalid file size %1, aborting").arg(size));
        return;
    }
    const PartialFile partial = ChoosePartialFile(download);
    const QStringList components = NoFollowFolder::ComponentsBelow(root, partial.path);
    if (components.isEmpty()) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("No free name for the partial file in %1, aborting")
                .arg(LocalPath(GetDownloadTargetFolder(download, false))));
        return;
    }
    // The folders are made and the file opened without following any link
    // below the downloads folder: a link planted there leads nowhere. A
    // folder that can't be made (a read-only disk, no permission) says why.
    const NoFollowFolder folder = NoFollowFolder::Open(root, components.mid(0, components.size() - 1), true);
    if (!folder.IsOpen()) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"), folder.Error());
        return;
    }
    if (partial.recorded) {
        OpenPartialFile(download, socket, partial);
        return;
    }
    // The record comes before the file and before the first byte: no file
    // is made, and no byte appended, that is not known to be this source's.
    // It is on the disk before the file is made, synced on a worker while
    // the connection waits (a second one for the download is refused).
    QString error;
    if (!RecordsOf(download).Write(partial.path, SourceOf(download), &error, false)) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"), RecordFailed(error));
        return;
    }
    const qint64 order = download["download_order"].AsInt64();
    m_beginning[order] = partial.path;
    const QPointer<QTcpSocket> waiting(socket);
    const auto begin = [this, order, waiting, partial, root](const QString& failed) {
        m_beginning.erase(order);
        ItemPtr download
            = T("download_order")->HasItem(Value(static_cast<long long>(order)))["download_entry"];
        if (!download || download.IsConnected("download_thread") || !waiting) {
            // Gone meanwhile: the record of a file never made goes too.
            DropSocket(waiting);
            if (!partial.startOver && !partial.adopted)
                SourceRecords(root).Remove(partial.path);
        } else if (!failed.isEmpty()) {
            DropSocket(waiting);
            RefuseDownload(download, QStringLiteral("local error"), RecordFailed(failed));
        } else {
            OpenPartialFile(download, waiting, partial);
        }
        if (m_staleRecords)
            RemoveStaleRecords();
    };
    m_recordSyncs->Start(
        0,
        [begin, records = RecordsOf(download), path = partial.path]() -> OrderedWorker::Outcome {
            QString why;
            if (records.Sync(path, &why))
                why.clear();
            else if (why.isEmpty())
                why = QStringLiteral("not synced");
            return [begin, why] { begin(why); };
        },
        begin);
}

void TransferQueueManager::OpenPartialFile(ItemPtr download, QTcpSocket* socket, const PartialFile& partial)
{
    ItemPtr userItem = download["user"];
    const QString root = DownloadRootOf(download);
    const QStringList components = NoFollowFolder::ComponentsBelow(root, partial.path);
    const NoFollowFolder folder = NoFollowFolder::Open(root, components.mid(0, components.size() - 1), true);
    // A free name is taken only while it is free: bytes that appear there
    // meanwhile are not ours either.
    const bool fresh = !partial.recorded && !partial.startOver && !partial.adopted;
    const int flags = O_RDWR | O_APPEND | (fresh ? O_CREAT | O_EXCL : 0) | (partial.startOver ? O_TRUNC : 0);
    QString error = folder.Error();
    const int descriptor = folder.IsOpen() ? folder.OpenFile(components.last(), flags, &error) : -1;
    auto* file = new QFile(partial.path);
    if (descriptor < 0
        || !file->open(descriptor, QIODevice::ReadWrite | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        if (descriptor >= 0) {
            error = file->errorString();
            ::close(descriptor);
        }
        delete file;
        if (fresh)
            RecordsOf(download).Remove(partial.path);
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Could not open file, aborting. Error string: ") + error);
        return;
    }
    // Which file holds the download's bytes goes to disk with the queue.
    KeepDownloadFile(download, root, partial.path);
    if ((fresh || partial.startOver) && !partial.note.isEmpty())
        SetDownloadNote(download, partial.note);
    if (partial.adopted)
        Log(kArea, 1,
            QStringLiteral("%1, from before records of partial files were kept, is resumed for %2")
                .arg(partial.path, userItem.AsString()),
            userItem);
    const auto dropFile = [&] {
        file->close();
        delete file;
        DropSocket(socket);
    };
    // The peer sends the last bytes held once more, for the thread to
    // compare: a file replaced by another of the same size shows there.
    const qint64 held = partial.recorded || partial.adopted ? file->size() : 0;
    QByteArray tail;
    if (held > 0 && !ReadFileTail(file->handle(), held, tail)) {
        dropFile();
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Could not read the partial file %1, aborting").arg(partial.path));
        return;
    }
    const qint64 offset = held - tail.size();
    // The handshake is a few small writes each way: don't let them wait for
    // the peer's delayed acknowledgements.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    char bytes[8];
    qToLittleEndian<qint64>(offset, bytes);
    socket->write(bytes, 8);
    socket->flush();

    download += T("download_socket")->NewItem(Value(socket));
    download += T("download_file")->NewItem(Value(file));
    download += T("write_position")->NewItem(Value(new qint64(held)));
    SetDownloadEntryStatus(download, QStringLiteral("downloading"));
    AddClocks(download);

    socket->disconnect();
    auto* thread
        = new DownloadThread(socket, file, partial.path, download["file_size"].AsInt64(), held, tail);
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
