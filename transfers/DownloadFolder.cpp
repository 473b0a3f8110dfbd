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
#include "store/Settings.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

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

QString TransferQueueManager::LocalPath(const QString& itemPath) const
{
    const QString path = QDir::cleanPath(Slashes(itemPath));
    return IsPathUnder(DownloadRoot(), path) ? path : QString();
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr download, bool complete) const
{
    QString folder = DownloadRoot();
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

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr download) const
{
    // Only this source's file counts: another user's file of the same name
    // and size, or one filed before its source was recorded, is not this
    // download.
    return !FindCompleteFile(download).isEmpty();
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr download)
{
    // The folders that the subfolder part added below "downloading", from
    // the partial file's own up, each as long as it is empty: one that still
    // holds another download's partial file stays.
    const QString downloading = DownloadRoot() + QStringLiteral("/downloading");
    QString folder = LocalPath(GetDownloadTargetFolder(download, false));
    while (IsPathUnder(downloading, folder) && QDir().rmdir(folder))
        folder = QFileInfo(folder).path();
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr download = EntryOfSender("download_thread");
    if (!download)
        return;
    if (auto* thread = download["download_thread"].AsPointer<DownloadThread>())
        thread->wait();

    const QString source = LocalPath(GetDownloadTargetPath(download, false));
    const QString folderText = GetDownloadTargetFolder(download, true);
    const QString folder = LocalPath(folderText);
    const QString destination = LocalPath(GetDownloadTargetPath(download, true));
    const qint64 size = download["file_size"].AsInt64();
    const QFileInfo partial(source);
    if (source.isEmpty() || folder.isEmpty() || destination.isEmpty()) {
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("The file name leads outside the downloads folder."));
        return;
    }
    // The bytes in the partial file must be the whole file before it may
    // count as finished; the row's bar then shows what it holds.
    if (!partial.isFile() || partial.size() < size) {
        if (auto* position = download["write_position"].AsPointer<qint64>()) {
            *position = partial.isFile() ? partial.size() : 0;
            emit DownloadProgressed(download);
        }
        if (!partial.isFile())
            RefuseDownload(
                download, QStringLiteral("local error"), DownloadThread::PartialFileRemovedReason());
        else
            RefuseDownload(download, QStringLiteral("aborted"),
                QStringLiteral("The partial file holds %1 of %2 bytes.").arg(partial.size()).arg(size));
        return;
    }
    if (partial.size() > size) {
        RefuseDownload(download, QStringLiteral("local error"),
            QStringLiteral("The partial file holds %1 bytes, more than the file's %2.")
                .arg(partial.size())
                .arg(size));
        return;
    }
    const QString notMoved
        = QStringLiteral("Could not move the file into the complete folder %1. Error string: ");
    std::error_code folderError;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), folderError);
    if (folderError) {
        RefuseDownload(download, QStringLiteral("local error"),
            notMoved.arg(folder) + QString::fromStdString(folderError.message()));
        return;
    }
    // A name already taken in "complete" (another file of that name) is never
    // overwritten: the file takes the first free "name (n).ext".
    QString moved = destination;
    QFile file(source);
    for (int n = 1; !file.rename(moved); ++n) {
        if (!QFileInfo::exists(moved) || n > kMaxNameSuffix) {
            RefuseDownload(
                download, QStringLiteral("local error"), notMoved.arg(folder) + file.errorString());
            return;
        }
        moved = folder + QLatin1Char('/') + NumberedPathComponent(QFileInfo(destination).fileName(), n);
    }
    // The record of the file's source goes with it: a later download of the
    // same source finds it finished, another source's does not.
    const SourceRecords records = Records();
    QString recordError;
    if (!records.Write(moved, SourceOf(download), &recordError))
        Log(kArea, 2, QStringLiteral("Could not record the source of %1: %2").arg(moved, recordError),
            download["user"]);
    records.Remove(source);
    download.Disconnect("partial_file_name");
    const QByteArray movedName = QFileInfo(moved).fileName().toUtf8();
    if (moved != destination) {
        Log(kArea, 1,
            QStringLiteral("%1 is taken in the complete folder; the download of %2 is saved as %3")
                .arg(destination, download["user"].AsString(), moved),
            download["user"]);
    }
    SetDownloadEntryStatus(download, QStringLiteral("complete"));
    RemoveDownloadDownloadingFolderIfAppropriate(download);

    ItemPtr user = download["user"];
    ItemPtr folderItem = T("complete_download_folder")->GetItem(Value(folderText));
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
        if (StartPartialFileOver(download, LocalPath(GetDownloadTargetPath(download, false)), reason))
            RequeueDownload(download);
        return;
    }
    T("denial_reason")->GetItem(Value(reason)) += download;
    SetDownloadEntryStatus(download, local ? QStringLiteral("local error") : QStringLiteral("aborted"));
}
