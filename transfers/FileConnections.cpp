// File connections: matching a connection to its download or upload, the
// resume offset, one worker thread per transfer, and the threads' reports.
#include "DownloadThread.h"
#include "SafePath.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/NoFollowFolder.h"
#include "store/OrderedWorker.h"
#include <QDateTime>
#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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
    if (download.IsConnected("download_thread") || m_disk.IsBeginning(download["download_order"].AsInt64())) {
        DropSocket(socket);
        Log(kArea, 2, QStringLiteral("Download already running, refusing a second connection"), userItem);
        return;
    }

    // The partial file is found, recorded and opened on the worker while the
    // connection waits (a second one for the download is refused).
    const qint64 order = download["download_order"].AsInt64();
    m_disk.Beginning(order);
    const QPointer<QTcpSocket> waiting(socket);
    // A download begun in another downloads folder goes on there while its
    // partial file is there.
    ItemPtr kept = download["download_folder"];
    if (!kept || kept.AsString() == DownloadRoot()) {
        BeginPartialFile(order, waiting);
        return;
    }
    const auto followed = [this, order, waiting](bool gone) {
        ItemPtr download = DownloadOfOrder(order);
        if (download && gone)
            FollowFolderChange(download);
        BeginPartialFile(order, waiting);
    };
    m_disk.Run(
        [followed, path = LocalPath(GetDownloadTargetPath(download, false))]() -> OrderedWorker::Outcome {
            struct stat info;
            const bool gone = ::lstat(QFile::encodeName(path).constData(), &info) != 0;
            return [followed, gone] { followed(gone); };
        },
        [followed](const QString&) { followed(false); });
}

void TransferQueueManager::BeginPartialFile(qint64 order, QPointer<QTcpSocket> socket)
{
    ItemPtr download = DownloadOfOrder(order);
    const auto refuse = [&](const QString& reason) {
        m_disk.Begun(order);
        DropSocket(socket);
        if (!reason.isEmpty())
            RefuseDownload(download, QStringLiteral("local error"), reason);
    };
    // Gone meanwhile, or the program ends.
    if (!download || download.IsConnected("download_thread") || !socket || m_disk.Closing())
        return refuse(QString());
    if (LocalPath(GetDownloadTargetFolder(download, false)).isEmpty()
        || LocalPath(GetDownloadTargetPath(download, false)).isEmpty())
        return refuse(QStringLiteral("The file name leads outside the downloads folder, aborting"));
    const qint64 size = download["file_size"].AsInt64();
    if (size < 0)
        return refuse(QStringLiteral("Invalid file size %1, aborting").arg(size));
    m_disk.Prepare(
        [query = QueryPartialFile(download)](PreparedFile& prepared) { PreparePartialFile(query, prepared); },
        [this, order, socket](
            std::shared_ptr<PreparedFile> prepared) { FinishBeginning(order, socket, prepared); });
}

void TransferQueueManager::PreparePartialFile(const PartialFileQuery& query, PreparedFile& prepared)
{
    const PartialFile partial = ChoosePartialFile(query);
    prepared.root = query.root;
    prepared.partial = partial;
    const QStringList components = NoFollowFolder::ComponentsBelow(query.root, partial.path);
    if (components.isEmpty()) {
        prepared.error
            = QStringLiteral("No free name for the partial file in %1, aborting").arg(query.folder);
        return;
    }
    // The folders are made and the file opened without following any link
    // below the downloads folder: a link planted there leads nowhere. A
    // folder that can't be made (a read-only disk, no permission) says why.
    const NoFollowFolder folder
        = NoFollowFolder::Open(query.root, components.mid(0, components.size() - 1), true);
    if (!folder.IsOpen()) {
        prepared.error = folder.Error();
        return;
    }
    // The record comes before the file and before the first byte, synced:
    // no file is made, and no byte appended, that is not known to be this
    // source's.
    const SourceRecords records(query.root);
    QString error;
    if (!partial.recorded && !records.Write(partial.path, query.source, &error)) {
        prepared.error = PreparedFile::RecordFailed(error);
        return;
    }
    // A free name is taken only while it is free: bytes that appear there
    // meanwhile are not ours either.
    const int flags
        = O_RDWR | O_APPEND | (prepared.Fresh() ? O_CREAT | O_EXCL : 0) | (partial.startOver ? O_TRUNC : 0);
    prepared.descriptor = folder.OpenFile(components.last(), flags, &error);
    if (prepared.descriptor < 0) {
        if (prepared.Fresh())
            records.Remove(partial.path);
        prepared.error = QStringLiteral("Could not open file, aborting. Error string: ") + error;
        return;
    }
    // The peer sends the last bytes held once more, for the thread to
    // compare: a file replaced by another of the same size shows there.
    if (!partial.recorded && !partial.adopted)
        return;
    struct stat info;
    if (::fstat(prepared.descriptor, &info) != 0
        || (info.st_size > 0 && !ReadFileTail(prepared.descriptor, info.st_size, prepared.tail)))
        prepared.error = QStringLiteral("Could not read the partial file %1, aborting").arg(partial.path);
    else
        prepared.held = qint64(info.st_size);
}

void TransferQueueManager::FinishBeginning(
    qint64 order, QPointer<QTcpSocket> socket, std::shared_ptr<PreparedFile> prepared)
{
    m_disk.Begun(order);
    ItemPtr download = DownloadOfOrder(order);
    if (!download || download.IsConnected("download_thread") || !socket || m_disk.Closing()
        || StatusOf(download, "download_entry_status") == QLatin1String("complete")) {
        // Gone (or filed) meanwhile, or the program ends: a file made for it
        // goes again, with its record.
        DropSocket(socket);
        m_disk.Undo(prepared);
    } else if (prepared->descriptor < 0) {
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"), prepared->error);
    } else {
        StartDownload(download, socket, prepared);
    }
}

void TransferQueueManager::StartDownload(
    ItemPtr download, QTcpSocket* socket, std::shared_ptr<PreparedFile> prepared)
{
    ItemPtr userItem = download["user"];
    const PartialFile& partial = prepared->partial;
    auto* file = new QFile(partial.path);
    if (!file->open(
            prepared->descriptor, QIODevice::ReadWrite | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        const QString error = file->errorString();
        delete file;
        DropSocket(socket);
        m_disk.Undo(prepared);
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("Could not open file, aborting. Error string: ") + error);
        return;
    }
    prepared->descriptor = -1;
    // Which file holds the download's bytes goes to disk with the queue.
    KeepDownloadFile(download, prepared->root, partial.path);
    if ((prepared->Fresh() || partial.startOver) && !partial.note.isEmpty())
        SetDownloadNote(download, partial.note);
    if (partial.adopted)
        Log(kArea, 1,
            QStringLiteral("%1, from before records of partial files were kept, is resumed for %2")
                .arg(partial.path, userItem.AsString()),
            userItem);
    if (!prepared->error.isEmpty()) {
        file->close();
        delete file;
        DropSocket(socket);
        RefuseDownload(download, QStringLiteral("local error"), prepared->error);
        return;
    }
    const qint64 held = prepared->held;
    const QByteArray& tail = prepared->tail;
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
