// The downloads folder: "downloading" holds partial files and "complete" the
// finished ones, each below the tail of the peer's folder. The end of a
// download: the move into "complete", the record of it, or the error.
#include "DownloadThread.h"
#include "SafePath.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "store/NoFollowFolder.h"
#include "store/OrderedWorker.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The components of the subfolder part: the last level + 1 components of the
// remote folder, each made safe. A level beyond the folder's depth takes the
// whole folder.
QStringList SubfolderComponents(ItemPtr download)
{
    const QStringList components = SafeFolderComponents(download["remote_folder"].Text());
    const int level = qMax(0, download["subfolder_save_level"].AsInt());
    const int take = int(qMin<qint64>(qint64(level) + 1, components.size()));
    return components.mid(components.size() - take);
}

QString Slashes(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString Backslashes(QString path)
{
    return path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

bool CopyBytes(int in, int out)
{
    for (;;) {
        const ssize_t n = ::sendfile(out, in, nullptr, 1 << 30);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
    }
}

// The file `name` of `from` (the very file `was`) copied into `to` as the new
// entry `into` (never over one: EEXIST) and synced, for a folder on another
// file system; false with errno and nothing left at `into` otherwise.
bool CopyAcross(const NoFollowFolder& from, const QString& name, const struct stat& was,
    const NoFollowFolder& to, const QString& into)
{
    const int in = from.OpenFile(name, O_RDONLY, nullptr);
    struct stat opened;
    if (in < 0 || ::fstat(in, &opened) != 0 || opened.st_dev != was.st_dev || opened.st_ino != was.st_ino) {
        const int error = in < 0 ? errno : ENOENT;
        if (in >= 0)
            ::close(in);
        errno = error;
        return false;
    }
    const int out = to.OpenFile(into, O_WRONLY | O_CREAT | O_EXCL, nullptr, was.st_mode & 0777);
    bool copied = out >= 0 && CopyBytes(in, out) && ::fsync(out) == 0;
    int error = errno;
    if (out >= 0 && ::close(out) != 0 && copied) {
        copied = false;
        error = errno;
    }
    ::close(in);
    if (!copied && out >= 0)
        to.RemoveFile(into);
    errno = error;
    return copied;
}
} // namespace

QString TransferQueueManager::DownloadRoot() const
{
    QString root = settings.Get("download_folder");
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    root = QDir::cleanPath(root);
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString TransferQueueManager::DownloadRootOf(ItemPtr download) const
{
    ItemPtr kept = download["download_folder"];
    return kept ? kept.AsString() : DownloadRoot();
}

QString TransferQueueManager::LocalPath(const QString& itemPath) const
{
    const QString path = QDir::cleanPath(Slashes(itemPath));
    if (IsPathUnder(DownloadRoot(), path))
        return path;
    for (ItemPtr root : T("download_folder")->GetItems()) {
        if (IsPathUnder(root.AsString(), path))
            return path;
    }
    return QString();
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr download, bool complete) const
{
    QString folder = DownloadRootOf(download);
    folder.replace(QLatin1Char('/'), QLatin1Char('\\'));
    folder += complete ? QStringLiteral("\\complete") : QStringLiteral("\\downloading");
    if (download["remote_folder"].Text().empty())
        return folder;
    if (settings.IsYes("dont_create_subfolders_for_single_downloads")
        && download.IsConnected("single_download"))
        return folder;
    for (const QString& component : SubfolderComponents(download))
        folder += QLatin1Char('\\') + component;
    return folder;
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr download, bool complete) const
{
    // The file the download writes, or the one it was filed as.
    if (ItemPtr kept = download["download_file_path"]) {
        const QString path = kept.AsString();
        if (path.startsWith(QStringLiteral("complete/")) == complete)
            return Backslashes(DownloadRootOf(download) + QLatin1Char('/') + path);
    }
    ItemPtr given = complete ? ItemPtr() : download["partial_file_name"];
    return GetDownloadTargetFolder(download, complete) + QLatin1Char('\\')
        + SafePathComponent(given ? given.AsString() : download["file_name"].AsString());
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr download) const
{
    if (download["remote_folder"].Text().empty())
        return QString();
    return SubfolderComponents(download).join(QLatin1Char('\\'));
}

QString TransferQueueManager::GetCompleteFilePath(ItemPtr download) const
{
    if (StatusOf(download, "download_entry_status") != QLatin1String("complete") || LostFiling(download))
        return QString();
    return GetDownloadTargetPath(download, true);
}

bool TransferQueueManager::CompleteIfFiled(ItemPtr download)
{
    // Only this source's file counts: another user's file of the same name
    // and size, or one filed before its source was recorded, is not this
    // download. The row keeps the name it was found under.
    const QString found = FindCompleteFile(download);
    if (found.isEmpty())
        return false;
    KeepDownloadFile(download, DownloadRootOf(download), found);
    SetDownloadEntryStatus(download, QStringLiteral("complete"));
    return true;
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(
    const QString& root, const QString& partial)
{
    // The folders that the subfolder part added below "downloading", from
    // the partial file's own up, each as long as it is empty: one that still
    // holds another download's partial file stays, and so does a link.
    const QStringList components = NoFollowFolder::ComponentsBelow(root, QFileInfo(partial).path());
    if (components.value(0) != QLatin1String("downloading"))
        return;
    for (qsizetype depth = components.size() - 1; depth > 0; --depth) {
        if (!NoFollowFolder::Open(root, components.mid(0, depth), false).RemoveFolder(components[depth]))
            break;
    }
}

void TransferQueueManager::KeepDownloadFile(ItemPtr download, const QString& root, const QString& path)
{
    const QString relative = NoFollowFolder::ComponentsBelow(root, path).join(QLatin1Char('/'));
    ItemPtr folder = T("download_folder")->GetItem(Value(root));
    ItemPtr file = T("download_file_path")->GetItem(Value(relative));
    if (download["download_folder"] == folder && download["download_file_path"] == file)
        return;
    download += folder;
    download += file;
    download.Disconnect("partial_file_name");
    emit DownloadQueueChanged();
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr download = EntryOfSender("download_thread");
    if (!download)
        return;
    auto* thread = download["download_thread"].AsPointer<DownloadThread>();
    if (thread)
        thread->wait();

    // The file the thread wrote, where it began it, whatever the setting
    // says now; into the complete folder beside it.
    auto filing = std::make_shared<Filing>();
    filing->root = DownloadRootOf(download);
    filing->partial = LocalPath(GetDownloadTargetPath(download, false));
    filing->folderText = GetDownloadTargetFolder(download, true);
    filing->folder = LocalPath(filing->folderText);
    filing->destination = LocalPath(GetDownloadTargetPath(download, true));
    filing->source = SourceOf(download);
    if (thread)
        filing->written = thread->WrittenFile();
    if (NoFollowFolder::ComponentsBelow(filing->root, filing->partial).isEmpty()
        || NoFollowFolder::ComponentsBelow(filing->root, filing->folder).isEmpty()
        || filing->destination.isEmpty()) {
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("The file name leads outside the downloads folder."));
        return;
    }
    // The file is checked and moved on the worker; the download stays as it
    // is (its thread done) until it is back.
    const qint64 order = download["download_order"].AsInt64();
    m_disk.File(
        filing, [](Filing& filing) { FileDownload(filing); },
        [this, order](const Filing& filing, const std::vector<qint64>& waiting) {
            FinishFiling(order, filing, waiting);
        });
}

void TransferQueueManager::FileDownload(Filing& filing)
{
    const QString& root = filing.root;
    const QString& source = filing.partial;
    const QString& folder = filing.folder;
    const QStringList from = NoFollowFolder::ComponentsBelow(root, source);
    const qint64 size = filing.source.size;
    const NoFollowFolder partialFolder = NoFollowFolder::Open(root, from.mid(0, from.size() - 1), false);
    struct stat partial;
    const bool there = partialFolder.IsOpen() && partialFolder.Stat(from.last(), &partial)
        && S_ISREG(partial.st_mode)
        && (!filing.written
            || (partial.st_dev == filing.written->first && partial.st_ino == filing.written->second));
    const qint64 held = there ? qint64(partial.st_size) : 0;
    // The bytes in the partial file must be the whole file before it may
    // count as finished; the row's bar then shows what it holds.
    if (held < size) {
        filing.held = held;
        filing.status = there ? QStringLiteral("aborted") : QStringLiteral("local error");
        filing.reason = there ? QStringLiteral("The partial file holds %1 of %2 bytes.").arg(held).arg(size)
                              : DownloadThread::PartialFileRemovedReason();
        return;
    }
    filing.status = QStringLiteral("local error");
    if (held > size) {
        filing.reason
            = QStringLiteral("The partial file holds %1 bytes, more than the file's %2.").arg(held).arg(size);
        return;
    }
    const SourceRecords records(root);
    if (records.Read(source) != filing.source) {
        filing.reason
            = QStringLiteral("The record of the partial file %1 no longer names this file; it is not filed.")
                  .arg(source);
        return;
    }
    const QString notMoved
        = QStringLiteral("Could not move the file into the complete folder %1. ").arg(folder);
    const NoFollowFolder completeFolder
        = NoFollowFolder::Open(root, NoFollowFolder::ComponentsBelow(root, folder), true);
    if (!completeFolder.IsOpen()) {
        filing.reason = notMoved + completeFolder.Error();
        return;
    }
    // A name already taken in "complete" (another file of that name) is never
    // overwritten: the file takes the first free "name (n).ext". The record
    // of its source goes first: a record left at the name by a file deleted
    // since is removed, then this one written, so that the file never takes
    // a name whose record was not written for it.
    const QString plainName = QFileInfo(filing.destination).fileName();
    QString name = plainName;
    bool copied = false;
    for (int n = 1;; ++n) {
        struct stat taken;
        if (!completeFolder.Stat(name, &taken)) {
            const QString moved = folder + QLatin1Char('/') + name;
            QString recordError;
            if (!records.Remove(moved)) {
                recordError = qt_error_string(errno);
                filing.reason = notMoved
                    + QStringLiteral("The old record of %1 could not be removed. Error string: %2")
                          .arg(moved, recordError);
                return;
            }
            filing.recordError
                = records.Write(moved, filing.source, &recordError, false) ? QString() : recordError;
            if (partialFolder.MoveTo(from.last(), completeFolder, name))
                break;
            int error = errno;
            // "complete" on another disk: the file goes by copy.
            if (error == EXDEV) {
                copied = CopyAcross(partialFolder, from.last(), partial, completeFolder, name);
                if (copied)
                    break;
                error = errno;
            }
            records.Remove(moved);
            if (error != EEXIST) {
                filing.reason = notMoved + QStringLiteral("Error string: ") + qt_error_string(error);
                return;
            }
        }
        if (n > kMaxNameSuffix) {
            filing.reason = notMoved + QStringLiteral("Error string: ") + qt_error_string(EEXIST);
            return;
        }
        name = NumberedPathComponent(plainName, n);
    }
    filing.name = name;
    filing.moved = folder + QLatin1Char('/') + name;
    if (copied)
        partialFolder.RemoveFile(from.last());
    records.Remove(source);
    // Should a crash take the record, the file counts as nobody's, never as
    // another source's.
    QString syncError;
    if (filing.recordError.isEmpty() && !records.Sync(filing.moved, &syncError))
        filing.recordError = syncError;
    RemoveDownloadDownloadingFolderIfAppropriate(root, source);
}

ItemPtr TransferQueueManager::FiledDownload(
    qint64 order, const Filing& filing, const std::vector<qint64>& waiting)
{
    ItemPtr download = DownloadOfOrder(order);
    // Removed meanwhile: the download of the source added again since, which
    // waited for this, takes the file filed; when none was filed it asks for
    // the file, and finds its partial file by its record.
    for (qint64 again : waiting) {
        ItemPtr waiter = DownloadOfOrder(again);
        if (!waiter || download)
            continue;
        if (filing.moved.isEmpty() || SourceOf(waiter) != filing.source)
            RequeueDownload(waiter);
        else
            download = waiter;
    }
    return download;
}

void TransferQueueManager::FinishFiling(
    qint64 order, const Filing& filing, const std::vector<qint64>& waiting)
{
    ItemPtr download = FiledDownload(order, filing, waiting);
    if (!download)
        return;
    if (filing.moved.isEmpty()) {
        if (filing.held >= 0) {
            if (auto* position = download["write_position"].AsPointer<qint64>()) {
                *position = filing.held;
                emit DownloadProgressed(download);
            }
        }
        RefuseDownload(download, filing.status, filing.reason);
        return;
    }
    if (filing.moved != filing.destination) {
        Log(kArea, 1,
            QStringLiteral("%1 is taken in the complete folder; the download of %2 is saved as %3")
                .arg(filing.destination, download["user"].AsString(), filing.moved),
            download["user"]);
    }
    KeepDownloadFile(download, filing.root, filing.moved);
    SetDownloadEntryStatus(download, QStringLiteral("complete"));
    // A full disk, say: the file is whole, but nothing says whose it is.
    if (!filing.recordError.isEmpty()) {
        SetDownloadNote(download,
            QStringLiteral("The file is complete, but its source could not be recorded (%1): added again, "
                           "this download would be fetched again.")
                .arg(filing.recordError));
    }

    const QByteArray movedName = filing.name.toUtf8();
    ItemPtr user = download["user"];
    ItemPtr folderItem = T("complete_download_folder")->GetItem(Value(filing.folderText));
    ItemPtr nameItem = T("complete_download_filename")
                           ->GetItem(Value(std::string(movedName.constData(), size_t(movedName.size()))));
    ItemSet keys;
    keys.Insert(user);
    keys.Insert(folderItem);
    keys.Insert(nameItem);
    if (d.GetItem(keys, "complete_download"))
        return;
    ItemPtr record = T("complete_download")->NewItem();
    record += user;
    record += folderItem;
    record += T("complete_download_relative_folder")
                  ->GetItem(Value(GetDownloadRelativeDownloadFolder(download)));
    record += nameItem;
    record += T("complete_download_file_size")->GetItem(Value(download["file_size"].Text()));
    record += T("complete_download_completion_time")
                  ->GetItem(Value(QDateTime::currentDateTime().toString(Qt::TextDate)));
    if (ItemPtr search = download["search_request_text"])
        record += search;
    emit CompleteDownloadAdded(record);
}

void TransferQueueManager::OnDownloadError(QString reason)
{
    ItemPtr download = EntryOfSender("download_thread");
    if (!download)
        return;
    // A file we could not write (a full disk, a folder we may not write to)
    // fails again on every attempt: the download waits, its partial file kept,
    // until the user makes room and retries it, instead of asking the peer
    // again at once.
    auto* thread = download["download_thread"].AsPointer<DownloadThread>();
    if (thread)
        thread->wait();
    const bool local = thread && thread->FailedLocally();
    ItemPtr user = download["user"];
    Log(kArea, 1,
        QStringLiteral("Error downloading %1 from %2. %3")
            .arg(download["file_name"].AsString(), user.AsString(), reason),
        user);
    // The peer's file is not the one the partial file was begun with: its
    // bytes are dropped and the file is asked for again, from the start.
    if (thread && thread->HeldBytesDiffer()) {
        SetDownloadEntryStatus(download, QStringLiteral("aborted"));
        StartPartialFileOver(download, LocalPath(GetDownloadTargetPath(download, false)), reason);
        return;
    }
    T("denial_reason")->GetItem(Value(reason)) += download;
    SetDownloadEntryStatus(download, local ? QStringLiteral("local error") : QStringLiteral("aborted"));
}
