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

// Names tried beside a taken one before the move gives up.
constexpr int kMaxNameSuffix = 9999;

// "folder/name (n).ext" for "folder/name.ext"; a leading dot starts no
// extension (".profile (1)").
QString NumberedName(const QString& path, int n)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        dot = name.size();
    return info.path() + QLatin1Char('/') + name.left(dot) + QStringLiteral(" (%1)").arg(n) + name.mid(dot);
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
    return GetDownloadTargetFolder(download, complete) + QLatin1Char('\\')
        + SafePathComponent(download["file_name"].AsString());
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr download) const
{
    if (download["remote_folder"].Text().empty())
        return QString();
    return SubfolderComponents(download).join(QLatin1Char('\\'));
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr download) const
{
    const QString path = LocalPath(GetDownloadTargetPath(download, true));
    if (path.isEmpty())
        return false;
    // Another user's file of the same name is not this download: the sizes
    // must agree too.
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.size() == download["file_size"].AsInt64();
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr download)
{
    if (download.IsConnected("single_download"))
        return;
    ItemPtr remoteFolder = download["remote_folder"];
    for (ItemPtr other : remoteFolder.GetItems("download_entry")) {
        if (StatusOf(other, "download_entry_status") != QLatin1String("complete"))
            return;
    }
    if (download["remote_folder"].Text().empty())
        return;
    // Only the folders that the subfolder part added below "downloading".
    QString folder = LocalPath(GetDownloadTargetFolder(download, false));
    const int levels = int(SubfolderComponents(download).size());
    for (int k = 0; k < levels && !folder.isEmpty(); ++k) {
        QDir().rmdir(folder);
        folder = LocalPath(QFileInfo(folder).path());
    }
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
        moved = NumberedName(destination, n);
    }
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
    T("denial_reason")->GetItem(Value(reason)) += download;
    SetDownloadEntryStatus(download, local ? QStringLiteral("local error") : QStringLiteral("aborted"));
}
