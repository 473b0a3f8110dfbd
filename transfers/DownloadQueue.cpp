// The download queue: adding downloads, asking peers to queue them (again),
// places in line, and the peers' denials, failures and push offers.
#include "DownloadThread.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include <QDateTime>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {
QString Text(const std::string& s)
{
    return Utf8Text(s.data(), qsizetype(s.size()));
}

std::string BackslashSeparated(std::string folder)
{
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return folder;
}

void SetTimeStamp(ItemPtr user, const char* type, qint64 secondsAhead)
{
    user
        += T(type)->GetItem(Value(QDateTime::currentDateTime().addSecs(secondsAhead).toString(Qt::TextDate)));
}
} // namespace

std::string TransferQueueManager::GetRemotePath(ItemPtr download)
{
    return download["remote_folder"].Text() + "\\" + download["file_name"].Text();
}

ItemPtr TransferQueueManager::AddDownload(const QString& user, const std::string& fileName,
    const std::string& remoteFolder, qint64 fileSize, bool singleDownload, int subfolderSaveLevel)
{
    if (ItemPtr existing = GetDownloadEntry(user, fileName, remoteFolder))
        return existing;
    ItemPtr userItem = T("user")->GetItem(Value(user));
    ItemPtr download = T("download_entry")->NewItem();
    download += userItem;
    download += T("file_name")->GetItem(Value(fileName));
    download += T("remote_folder")->GetItem(Value(remoteFolder));
    NoteRemoteFolder(remoteFolder);
    download += T("file_size")->GetItem(Value(static_cast<long long>(fileSize)));
    download += T("subfolder_save_level")->GetItem(Value(qMax(0, subfolderSaveLevel)));
    if (singleDownload)
        download += T("single_download")->GetGlobalNullItem();
    const qint64 order = settings.GetInt64("transfer_order_counter");
    download += T("download_order")->NewItem(Value(static_cast<long long>(order)));
    settings.Set("transfer_order_counter", Value(static_cast<long long>(order + 1)));
    if (gp_server)
        gp_server->TrackUser(user);

    emit DownloadQueueChanged();
    if (CompleteIfFiled(download))
        return download;
    SetDownloadEntryStatus(download, QStringLiteral("queued"));
    // Its earlier self, removed, is being filed: it is complete once that
    // file is filed.
    if (m_disk.WaitForFiling(SourceOf(download), order))
        return download;
    if (userItem.IsConnected("is_online") && peerMessenger)
        peerMessenger->QueueDownload(user, GetRemotePath(download));
    SetTimeStamp(userItem, "next_place_in_line_request_time", 10);
    StampNextPlaceInLine(user, 10000);
    return download;
}

ItemPtr TransferQueueManager::GetDownloadEntry(
    const QString& user, const std::string& fileName, const std::string& remoteFolder) const
{
    ItemPtr userItem = T("user")->HasItem(Value(user));
    ItemPtr name = T("file_name")->HasItem(Value(fileName));
    if (!userItem || !name)
        return ItemPtr();
    const auto inFolder = [&](const std::string& spelling) {
        ItemPtr folder = T("remote_folder")->HasItem(Value(spelling));
        if (!folder)
            return ItemPtr();
        ItemSet keys;
        keys.Insert(userItem);
        keys.Insert(name);
        keys.Insert(folder);
        return d.GetItem(keys, "download_entry");
    };
    if (ItemPtr download = inFolder(remoteFolder))
        return download;
    // A peer may name one folder with "/" where it named it with "\" before
    // (a file pushed by hand after it was found by a search): either separates
    // folders, so it is the same download.
    for (const std::string& spelling : OtherSpellings(remoteFolder)) {
        if (ItemPtr download = inFolder(spelling))
            return download;
    }
    return ItemPtr();
}

std::vector<std::string> TransferQueueManager::OtherSpellings(const std::string& remoteFolder) const
{
    // Looked up by name: a folder holding 20,000 albums of tracks named
    // alike has as many downloads of each name.
    if (!m_slashFoldersKnown) {
        m_slashFoldersKnown = true;
        m_slashFolders.clear();
        for (ItemPtr folder : T("download_entry")->GetItems().GetItems("remote_folder"))
            NoteRemoteFolder(folder.Text());
    }
    const std::string backslashed = BackslashSeparated(remoteFolder);
    std::vector<std::string> spellings;
    if (backslashed != remoteFolder)
        spellings.push_back(backslashed);
    const auto slashed = m_slashFolders.find(backslashed);
    if (slashed != m_slashFolders.end()) {
        for (const std::string& spelling : slashed->second) {
            if (spelling != remoteFolder)
                spellings.push_back(spelling);
        }
    }
    return spellings;
}

void TransferQueueManager::NoteRemoteFolder(const std::string& remoteFolder) const
{
    if (!m_slashFoldersKnown || remoteFolder.find('/') == std::string::npos)
        return;
    std::vector<std::string>& spellings = m_slashFolders[BackslashSeparated(remoteFolder)];
    if (std::find(spellings.begin(), spellings.end(), remoteFolder) == spellings.end())
        spellings.push_back(remoteFolder);
}

void TransferQueueManager::AddDownloads(std::vector<WantedDownload> wanted)
{
    if (wanted.empty())
        return;
    auto batch = std::make_unique<WantedBatch>();
    batch->downloads = std::move(wanted);
    WantedBatch* added = batch.get();
    batch->work.Then(added->downloads.size(), [this, added](size_t k) {
        const WantedDownload& wish = added->downloads[k];
        ItemPtr download = AddDownload(
            wish.user, wish.fileName, wish.remoteFolder, wish.size, wish.single, wish.subfolderSaveLevel);
        if (download && !wish.searchText.isEmpty())
            download.Connect(T("search_request_text")->GetItem(Value(wish.searchText)));
    });
    QueueWanted(std::move(batch));
}

bool TransferQueueManager::AddingDownloads() const
{
    return std::any_of(m_wanted.begin(), m_wanted.end(),
        [](const std::unique_ptr<WantedBatch>& batch) { return !batch->downloads.empty(); });
}

void TransferQueueManager::QueueWanted(std::unique_ptr<WantedBatch> batch)
{
    m_wanted.push_back(std::move(batch));
    if (!m_wantedTimer) {
        // A timer, not a posted call, between slices: the window paints and
        // takes input in between.
        m_wantedTimer = new QTimer(this);
        m_wantedTimer->setSingleShot(true);
        m_wantedTimer->setInterval(0);
        connect(m_wantedTimer, &QTimer::timeout, this, &TransferQueueManager::AddWanted);
    }
    // Asked for from within a slice, they follow in its turn or a later one.
    if (!m_addingWanted)
        AddWanted();
}

void TransferQueueManager::AddWanted()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    m_addingWanted = true;
    while (!m_wanted.empty() && m_wanted.front()->work.Run(turn)) {
        m_wanted.pop_front();
        if (turn.hasExpired())
            break;
    }
    m_addingWanted = false;
    if (!m_wanted.empty())
        m_wantedTimer->start();
}

void TransferQueueManager::RequeueDownload(ItemPtr download)
{
    if (!download)
        return;
    if (StatusOf(download, "download_entry_status") == QLatin1String("complete")
        || IsActive(download, "download_entry_status")
        || m_disk.WaitsForFiling(download["download_order"].AsInt64()) || CompleteIfFiled(download))
        return;
    if (const auto retry = m_retries.find(download.Get()); retry != m_retries.end())
        retry->second.due = -1;
    ItemPtr user = download["user"];
    if (peerMessenger)
        peerMessenger->QueueDownload(user.AsString(), GetRemotePath(download));
    const bool ended = StatusOf(download, "download_entry_status") != QLatin1String("queued");
    SetDownloadEntryStatus(download, QStringLiteral("queued"));
    Log(kArea, 2, QStringLiteral("Queueing %1").arg(download["file_name"].AsString()), user);
    if (ended)
        emit DownloadQueueChanged();
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr user)
{
    const ItemSet downloads = user.GetItems("download_entry");
    if (downloads.Empty())
        return;
    Log(kArea, 1, QStringLiteral("Requeueing downloads from user %1").arg(user.AsString()), user);
    for (ItemPtr download : downloads.SortNumericBy("download_order", true)) {
        const QString status = StatusOf(download, "download_entry_status");
        // A local error waits for the user to fix it and retry.
        if (status == QLatin1String("complete") || status == QLatin1String("denied")
            || status == QLatin1String("local error") || RequeuePostponed(download))
            continue;
        RequeueDownload(download);
    }
    SetTimeStamp(user, "last_queue_request_time", 0);
    SetTimeStamp(user, "next_place_in_line_request_time", 30);
    StampQueueRequest(user.AsString());
    StampNextPlaceInLine(user.AsString(), 30000);
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr download)
{
    ItemPtr user = download["user"];
    const QString path = Text(GetRemotePath(download));
    const QString status = StatusOf(download, "download_entry_status");
    if (status == QLatin1String("local error")) {
        Log(kArea, 1, QStringLiteral("Download status %1, not re-queueing %2").arg(status, path), user);
    } else if (user.IsConnected("is_online")) {
        Log(kArea, 1,
            QStringLiteral("User %1 appears to still be online, re-queueing %2").arg(user.AsString(), path),
            user);
        if (peerMessenger)
            peerMessenger->QueueDownload(user.AsString(), GetRemotePath(download));
    } else {
        Log(kArea, 1, QStringLiteral("User %1 offline, not re-queueing %2").arg(user.AsString(), path), user);
    }
}

void TransferQueueManager::OnUserOnline(ItemPtr user)
{
    Log(kArea, 1, QStringLiteral("User %1 went online").arg(user.AsString()), user);
    RequeueUserDownloads(user);
    // Only the user's own queued uploads can start now. The whole queue (a
    // hundred thousand uploads, say) is gone through again only for a user
    // who has one waiting: a crowd coming online, such as thousands joining
    // a room, would otherwise go through it once for each of them.
    ItemPtr queued = T("upload_entry_status")->HasItem("queued");
    if (!queued)
        return;
    for (ItemPtr upload : user.GetItems("upload_entry")) {
        if (upload["upload_entry_status"] == queued) {
            StartNewUploads();
            return;
        }
    }
}

void TransferQueueManager::OnQueueDownloadRequested(QString user, std::string path, qint64 size)
{
    if (!CanAcceptUserInitiatedUploadsFrom(user))
        return;
    // A size that no file can have is not offered at all.
    if (size < 0) {
        Log(kArea, 1,
            QStringLiteral("Ignoring an offer of %1 from %2 with the size %3")
                .arg(Text(path), user)
                .arg(size),
            T("user")->GetItem(Value(user)));
        return;
    }
    AddDownload(user, GetFileName(path), GetFolder(path), size, false, 0);
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr download)
{
    ItemPtr user = download["user"];
    Log(kArea, 1,
        QStringLiteral("Requesting place in line for download of %1 from %2")
            .arg(download["file_name"].AsString(), user.AsString()),
        user);
    MemStream message;
    message.WriteUInt32(PM_UPLOAD_PLACE_IN_LINE_REQUEST);
    message.WriteString(
        download["remote_folder"].AsString() + QLatin1Char('\\') + download["file_name"].AsString());
    if (peerMessenger)
        peerMessenger->SendMessage(user.AsString(), message);
}

void TransferQueueManager::OnDownloadPlaceInLine(QString user, std::string path, int place)
{
    ItemPtr download = GetDownloadEntry(user, GetFileName(path), GetFolder(path));
    if (download)
        download += T("place_in_line")->GetItem(Value(place));
}

void TransferQueueManager::OnUploadDeniedNotification(QString user, std::string path, QString reason)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1,
        QStringLiteral("Received peer notification from %1 that upload of %2 was denied, reason: %3")
            .arg(user, Text(path), reason),
        userItem);
    ItemPtr download = GetDownloadEntry(user, GetFileName(path), GetFolder(path));
    if (!download) {
        Log(kArea, 2, QStringLiteral("Download not found."), userItem);
        return;
    }
    // A finished download stays finished, whatever a peer says about it later.
    if (StatusOf(download, "download_entry_status") == QLatin1String("complete")) {
        Log(kArea, 2, QStringLiteral("Download already complete, ignoring the denial."), userItem);
        return;
    }
    Log(kArea, 2, QStringLiteral("Download found, marking as denied."), userItem);
    T("denial_reason")->GetItem(Value(reason)) += download;
    SetDownloadEntryStatus(download, QStringLiteral("denied"));
    // The bytes held came from a file that has changed since: resumed, the
    // file would be part the old one and part the new one.
    if (reason == UploadThread::FileChangedReason())
        StartPartialFileOver(download, LocalPath(GetDownloadTargetPath(download, false)),
            QStringLiteral("The file changed while it was sent: what had arrived was dropped, and a retry "
                           "downloads it from the start."),
            false);
}

void TransferQueueManager::OnUploadFailedNotification(QString user, std::string path)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1,
        QStringLiteral("Received peer notification from %1 that upload of %2 failed").arg(user, Text(path)),
        userItem);
    ItemPtr download = GetDownloadEntry(user, GetFileName(path), GetFolder(path));
    if (!download) {
        Log(kArea, 2, QStringLiteral("Download not found."), userItem);
        return;
    }
    Log(kArea, 2, QStringLiteral("Download found!"), userItem);
    // We accepted its transfer and no file connection came: neither side
    // could open one. Asked for again at once, it would fail the same way
    // for ever.
    if (download["remote_transfer_req"]
        && StatusOf(download, "download_entry_status") == QLatin1String("queued")) {
        download.Disconnect("remote_transfer_req");
        PostponeRequeue(download);
    } else {
        QueueDownloadIfUserOnline(download);
    }
    SetTimeStamp(userItem, "last_queue_request_time", 0);
    StampQueueRequest(user);
}

void TransferQueueManager::RemoveDownload(ItemPtr download)
{
    if (!download)
        return;
    TearDownDownload(download, true);
    // Its place in the order is its own: it goes with it.
    ItemPtr order = download["download_order"];
    download.Remove();
    order.Remove();
    emit DownloadQueueChanged();
}

bool TransferQueueManager::HasExcludedDownloadExtension(const QString& fileName) const
{
    for (ItemPtr extension : T("excluded_download_extension")->GetItems()) {
        const QString text = extension.AsString();
        if (!text.isEmpty() && fileName.endsWith(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(const QString& user) const
{
    ItemPtr userItem = T("user")->HasItem(Value(user));
    ItemPtr downloading = T("download_entry_status")->HasItem("downloading");
    if (!userItem || !downloading)
        return false;
    return !userItem.GetItems("download_entry").Connected(downloading).Empty();
}

int TransferQueueManager::ActiveDownloadCount() const
{
    int n = 0;
    for (ItemPtr status : T("is_active")->GetItems().GetItems("download_entry_status"))
        n += int(status.CountItems("download_entry"));
    return n;
}
