// Which file of the downloads folder holds whose bytes: the partial file a
// download appends to, the free name it takes beside another file's bytes,
// and the finished file of its source.
#include "DownloadThread.h"
#include "SafePath.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/NoFollowFolder.h"
#include "store/OrderedWorker.h"
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
enum class Holder { Nothing, Source, SourceAtOtherSize, Unrecorded, Other };

QString InFolder(const QString& path, const QString& name)
{
    return QFileInfo(path).path() + QLatin1Char('/') + name;
}
} // namespace

FileSource TransferQueueManager::SourceOf(ItemPtr download)
{
    std::string path = GetRemotePath(download);
    std::replace(path.begin(), path.end(), '/', '\\');
    return FileSource { download["user"].AsString(), QByteArray::fromStdString(path),
        download["file_size"].AsInt64() };
}

void TransferQueueManager::FollowFolderChange(ItemPtr download)
{
    download.Disconnect("download_folder");
    download.Disconnect("download_file_path");
    download.Disconnect("partial_file_name");
    emit DownloadQueueChanged();
}

TransferQueueManager::PartialFileQuery TransferQueueManager::QueryPartialFile(ItemPtr download) const
{
    PartialFileQuery query;
    query.root = DownloadRootOf(download);
    query.folder = LocalPath(GetDownloadTargetFolder(download, false));
    query.plain = LocalPath(GetDownloadTargetFolder(download, false) + QLatin1Char('\\')
        + SafePathComponent(download["file_name"].AsString()));
    // A row from before records were kept names its partial file (it keeps
    // a downloads folder but no file path yet): that file, without any
    // record, is the row's.
    query.given = LocalPath(GetDownloadTargetPath(download, false));
    query.adoptable = download["download_folder"] && !download["download_file_path"];
    query.source = SourceOf(download);
    for (ItemPtr thread : T("download_thread")->GetItems()) {
        ItemPtr other = thread["download_entry"];
        if (other && other != download)
            query.inUse.insert(LocalPath(GetDownloadTargetPath(other, false)));
    }
    return query;
}

TransferQueueManager::PartialFile TransferQueueManager::ChoosePartialFile(const PartialFileQuery& query)
{
    const SourceRecords records(query.root);
    const FileSource& source = query.source;
    const QString& given = query.given;
    const QString& plain = query.plain;
    qint64 recordedSize = -1;
    const auto holder = [&](const QString& path) {
        if (query.inUse.contains(path))
            return Holder::Other;
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return Holder::Nothing;
        if (info.isDir())
            return Holder::Other;
        const std::optional<FileSource> recorded = records.Read(path);
        if (!recorded && query.adoptable && path == given && info.isFile() && !info.isSymLink()
            && !records.Exists(path)) {
            recordedSize = source.size;
            return info.size() <= source.size ? Holder::Unrecorded : Holder::SourceAtOtherSize;
        }
        if (!recorded || !recorded->SameFile(source))
            return Holder::Other;
        recordedSize = recorded->size;
        return recorded->size == source.size && info.size() <= source.size ? Holder::Source
                                                                           : Holder::SourceAtOtherSize;
    };
    // The plain name, the name this download's partial file was given, then
    // numbered names up to the first free one.
    QStringList candidates { plain };
    if (given != plain)
        candidates << given;
    QString free;
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        if (n > 0) {
            const QString numbered = InFolder(plain, NumberedPathComponent(QFileInfo(plain).fileName(), n));
            if (numbered == given)
                continue;
            candidates << numbered;
        }
        bool reachedFree = false;
        for (const QString& path : std::as_const(candidates)) {
            const Holder found = holder(path);
            if (found == Holder::Source)
                return PartialFile { path, true, false, false, QString() };
            if (found == Holder::Unrecorded)
                return PartialFile { path, false, false, true, QString() };
            if (found == Holder::SourceAtOtherSize) {
                const QString why = recordedSize == source.size
                    ? QStringLiteral("The partial file holds more than the file's %1 bytes").arg(source.size)
                    : QStringLiteral(
                        "The partial file was begun for this file at %1 bytes; it is %2 bytes now")
                          .arg(recordedSize)
                          .arg(source.size);
                return PartialFile { path, false, true, false,
                    why + QStringLiteral(" and is downloaded again from the start.") };
            }
            if (found == Holder::Nothing) {
                if (free.isEmpty())
                    free = path;
                reachedFree = n > 0;
            }
        }
        candidates.clear();
        if (reachedFree)
            break;
    }
    PartialFile chosen { free, false, false, false, QString() };
    if (!free.isEmpty() && free != plain) {
        chosen.note
            = QStringLiteral("%1 in the downloading folder holds another file's bytes; this download's "
                             "partial file is %2.")
                  .arg(QFileInfo(plain).fileName(), QFileInfo(free).fileName());
    }
    return chosen;
}

QString TransferQueueManager::FindCompleteFile(ItemPtr download) const
{
    return FindFiledFile(
        LocalPath(GetDownloadTargetPath(download, true)), RecordsOf(download), SourceOf(download));
}

QString TransferQueueManager::FindFiledFile(
    const QString& plain, const SourceRecords& records, const FileSource& source)
{
    if (plain.isEmpty())
        return QString();
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const QString path
            = n == 0 ? plain : InFolder(plain, NumberedPathComponent(QFileInfo(plain).fileName(), n));
        const QFileInfo info(path);
        if (!info.exists())
            break;
        if (info.isFile() && info.size() == source.size && records.Read(path) == source)
            return path;
    }
    return QString();
}

void TransferQueueManager::SetDownloadNote(ItemPtr download, const QString& note)
{
    Log(kArea, 1, note, download["user"]);
    download += T("download_note")->GetItem(Value(note));
}

void TransferQueueManager::StartPartialFileOver(
    ItemPtr download, const QString& path, const QString& why, bool askAgain)
{
    const qint64 order = download["download_order"].AsInt64();
    const auto emptied = [this, order, path, why, askAgain](bool done) {
        ItemPtr download = DownloadOfOrder(order);
        // Gone, or begun again meanwhile (after the file was emptied).
        if (!download || download.IsConnected("download_thread") || m_disk.IsBeginning(order))
            return;
        if (!done) {
            RefuseDownload(download, QStringLiteral("local error"),
                QStringLiteral("Could not empty the partial file %1, aborting.").arg(path));
            return;
        }
        m_heldBytes.erase(download.Get());
        emit DownloadProgressed(download);
        SetDownloadNote(download, why);
        if (askAgain)
            RequeueDownload(download);
    };
    m_disk.Run(
        [emptied, root = DownloadRootOf(download), path]() -> OrderedWorker::Outcome {
            const QStringList components = NoFollowFolder::ComponentsBelow(root, path);
            const int descriptor = components.isEmpty()
                ? -1
                : NoFollowFolder::Open(root, components.mid(0, components.size() - 1), false)
                      .OpenFile(components.last(), O_WRONLY | O_TRUNC, nullptr);
            // No file there holds nothing to drop either.
            const bool done = descriptor >= 0 || (!components.isEmpty() && errno == ENOENT);
            if (descriptor >= 0)
                ::close(descriptor);
            return [emptied, done] { emptied(done); };
        },
        [emptied](const QString&) { emptied(false); });
}

void TransferQueueManager::LetStaleRecordsGo()
{
    QStringList roots { DownloadRoot() };
    for (ItemPtr kept : T("download_folder")->GetItems()) {
        if (!roots.contains(kept.AsString()))
            roots << kept.AsString();
    }
    m_disk.PruneStaleRecords(roots);
}
