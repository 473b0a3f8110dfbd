// The upload queue: peers' queue requests, the serving order (group priority,
// then privileges, then arrival), places in line, banning a user from the
// share, and removing an upload.
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include <QFile>
#include <QTcpSocket>
#include <algorithm>

namespace {
void Deny(const QString& user, const QString& file, const QString& reason)
{
    if (peerMessenger)
        peerMessenger->DenyUpload(user, file, reason);
}
} // namespace

ItemPtr TransferQueueManager::FindSharedFile(const QString& file) const
{
    if (!sharedFoldersManager)
        return ItemPtr();
    QString path = file;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return sharedFoldersManager->GetSharedFileItem(path);
}

QString TransferQueueManager::SharedFileLocalPath(ItemPtr sharedFile)
{
    QString path = sharedFile["shared_file_folder"].AsString() + QLatin1Char('/')
        + sharedFile["shared_file_name"].AsString();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

// Step 4 of a queue request, for an entry that exists: false when it is
// queued or running already.
bool TransferQueueManager::RequeueExistingUpload(ItemPtr user, ItemPtr upload)
{
    const QString status = StatusOf(upload, "upload_entry_status");
    if (status == QLatin1String("queued") || IsActive(upload, "upload_entry_status")) {
        Log(kArea, 2, QStringLiteral("Already queued"), user);
        return false;
    }
    Log(kArea, 2, QStringLiteral("%1, re-queueing").arg(status), user);
    SetUploadEntryStatus(upload, QStringLiteral("queued"));
    if (MayStartUploadOf(user))
        StartNewUploads();
    return true;
}

// Step 6 of a queue request: a new queued entry in the serving order.
ItemPtr TransferQueueManager::CreateUpload(ItemPtr user, ItemPtr sharedFile, const QString& fileAsRequested)
{
    ItemPtr upload = T("upload_entry")->NewItem();
    upload += user;
    upload += sharedFile;
    upload += T("filename_as_requested")->GetItem(Value(fileAsRequested));
    SetUploadEntryStatus(upload, QStringLiteral("queued"));
    const qint64 order = settings.GetInt64("transfer_order_counter");
    upload += T("upload_order")->NewItem(Value(static_cast<long long>(order)));
    settings.Set("transfer_order_counter", Value(static_cast<long long>(order + 1)));
    OrderNewUpload(upload);
    Log(kArea, 2, QStringLiteral("Queued"), user);
    if (gp_server)
        gp_server->TrackUser(user.AsString());
    return upload;
}

void TransferQueueManager::OnQueueUploadRequested(QString user, QString file)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1, QStringLiteral("Queue upload requested by %1 for file %2").arg(user, file), userItem);
    ItemPtr sharedFile = FindSharedFile(file);
    if (!sharedFile || !sharedFoldersManager->IsFileSharedWithUser(sharedFile, user)) {
        Log(kArea, 2, QStringLiteral("Denied, file not shared"), userItem);
        Deny(user, file, QStringLiteral("File not shared."));
        return;
    }
    if (runtimeSettings.IsYes("finish_uploads_and_quit")) {
        Log(kArea, 2, QStringLiteral("Denied, pending shutdown."), userItem);
        Deny(user, file, QStringLiteral("Pending shutdown."));
        return;
    }
    if (ItemPtr existing = d.GetItem(userItem, sharedFile, "upload_entry")) {
        // The server drops a watch of a name that it did not know when asked
        // (one restarted before the user logged in again): a user who asks
        // for a file is online, and is watched again so that the queued
        // uploads start.
        if (gp_server)
            gp_server->TrackUser(user);
        RequeueExistingUpload(userItem, existing);
        return;
    }
    ItemPtr queued = T("upload_entry_status")->HasItem("queued");
    const qint64 count = qint64(userItem.GetItems("upload_entry").Connected(queued).Size());
    if (count >= settings.GetInt64("max_queued_uploads_per_user")) {
        Log(kArea, 2, QStringLiteral("Denied, too many files already queued by user"), userItem);
        Deny(user, file, QStringLiteral("Too many files"));
        return;
    }
    CreateUpload(userItem, sharedFile, file);
    if (settings.IsYes("check_for_empty_shares") && !userItem.IsConnected("empty_share_check_status")
        && !userItem.IsConnected("in_user_list")) {
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(user);
        userItem += T("empty_share_check_status")->GetItem("requested");
    }
    // Only this user's uploads can start now that did not before, and only
    // when the user is online with none running: a crowd of users queueing
    // thousands costs no look at every queued upload for each.
    if (MayStartUploadOf(userItem))
        StartNewUploads();
}

int TransferQueueManager::GetUserGroupDownloadPriority(const QString& user)
{
    ItemPtr inList = T("user")->HasItem(Value(user))["in_user_list"];
    if (!inList)
        return 0;
    int priority = 0;
    for (ItemPtr group : inList.GetItems("user_list_group"))
        priority = qMax(priority, group["group_download_priority"].AsInt());
    return priority;
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b)
{
    ItemPtr userA = a["user"];
    ItemPtr userB = b["user"];
    if (userA != userB) {
        const int pa = GetUserGroupDownloadPriority(userA.AsString());
        const int pb = GetUserGroupDownloadPriority(userB.AsString());
        if (pa != pb)
            return pa > pb;
        const bool privA = userA.IsConnected("is_privileged");
        const bool privB = userB.IsConnected("is_privileged");
        if (privA != privB)
            return privA;
    }
    return a["upload_order"].AsInt() < b["upload_order"].AsInt();
}

void TransferQueueManager::OrderNewUpload(ItemPtr upload)
{
    FinishUploadWalk();
    Type* orderType = T("effective_upload_order");
    ItemList list;
    bool haveList = false;
    auto takeList = [&] {
        list = T("upload_entry")->GetItems().SortNumericBy("effective_upload_order", true);
        list.erase(std::remove(list.begin(), list.end(), upload), list.end());
        haveList = true;
    };
    if (!lastOrderedUpload) {
        takeList();
        if (!list.empty())
            lastOrderedUpload = list.back();
        if (!lastOrderedUpload) {
            upload += orderType->GetItem(Value(1));
            lastOrderedUpload = upload;
            m_queuedUploads.Update(upload);
            return;
        }
    }
    if (UploadEntrySortCompare(lastOrderedUpload, upload)) {
        upload += orderType->GetItem(
            Value(static_cast<long long>(lastOrderedUpload["effective_upload_order"].AsInt64() + 1)));
        lastOrderedUpload = upload;
        m_queuedUploads.Update(upload);
        return;
    }
    if (!haveList) {
        takeList();
        if (!list.empty())
            lastOrderedUpload = list.back();
    }
    auto at = std::find_if(
        list.begin(), list.end(), [&](ItemPtr e) { return UploadEntrySortCompare(upload, e); });
    list.insert(at, upload);
    long long number = 1;
    for (ItemPtr entry : list)
        entry += orderType->GetItem(Value(number++));
    m_queuedUploads.Rebuild();
}

void TransferQueueManager::MoveUploadBehindOthers(ItemPtr upload)
{
    FinishUploadWalk();
    ItemPtr oldOrder = upload["upload_order"];
    const qint64 order = settings.GetInt64("transfer_order_counter");
    upload += T("upload_order")->NewItem(Value(static_cast<long long>(order)));
    settings.Set("transfer_order_counter", Value(static_cast<long long>(order + 1)));
    oldOrder.Remove();
    m_queuedUploads.Erase(upload);
    upload.Disconnect("effective_upload_order");
    if (upload == lastOrderedUpload)
        lastOrderedUpload = ItemPtr();
    OrderNewUpload(upload);
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    FinishUploadWalk();
    // The numbers change under the tail: the next new entry finds it afresh.
    lastOrderedUpload = ItemPtr();
    ItemList list = T("upload_entry")->GetItems().ToList();
    std::stable_sort(list.begin(), list.end(), &TransferQueueManager::UploadEntrySortCompare);
    long long number = 0;
    for (ItemPtr entry : list)
        entry += T("effective_upload_order")->GetItem(Value(number++));
    m_queuedUploads.Rebuild();
}

int TransferQueueManager::QueuedUploadCount() const
{
    ItemPtr queued = T("upload_entry_status")->HasItem("queued");
    return queued ? int(queued.CountItems("upload_entry")) : 0;
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString user, QString file)
{
    // While the queue is being numbered, the answer waits for its number
    // (and for those asked before it); a peer that asks more often than that
    // is answered for the first few.
    if (m_uploadWalk || !m_placeAsks.empty()) {
        if (m_placeAsks.size() < kHeldPlaceAsks)
            m_placeAsks.emplace_back(user, file);
        return;
    }
    AnswerPlaceInLine(user, file);
}

void TransferQueueManager::AnswerPlaceInLine(const QString& user, const QString& file)
{
    ItemPtr userItem = T("user")->HasItem(Value(user));
    ItemPtr name = T("filename_as_requested")->HasItem(Value(file));
    ItemPtr upload = d.GetItem(userItem, name, "upload_entry");
    ItemPtr order = upload["effective_upload_order"];
    if (order && peerMessenger)
        peerMessenger->SendUploadPlaceInLine(user, file, order.AsInt());
}

void TransferQueueManager::UnshareUser(const QString& user)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    userItem += T("unshared")->GetGlobalNullItem();
    // Every entry of the user goes before any upload starts, so that none of
    // them is offered to the user on the way.
    bool freed = false;
    for (ItemPtr upload : userItem.GetItems("upload_entry")) {
        Deny(user, upload["filename_as_requested"].AsString(), QStringLiteral("File not shared."));
        freed = DropUpload(upload) || freed;
    }
    if (freed)
        DetermineUploadSpeedLimit();
    StartNewUploads();
}

void TransferQueueManager::ReshareUser(const QString& user)
{
    ItemPtr userItem = T("user")->HasItem(Value(user));
    userItem.Disconnect("unshared");
}

bool TransferQueueManager::DropUpload(ItemPtr upload)
{
    const bool wasActive = IsActive(upload, "upload_entry_status");
    TearDownUpload(upload);
    if (upload == lastOrderedUpload)
        lastOrderedUpload = ItemPtr();
    // Its place in the order is its own: it goes with it.
    ItemPtr order = upload["upload_order"];
    upload.Remove();
    order.Remove();
    return wasActive;
}

void TransferQueueManager::RemoveUpload(ItemPtr upload)
{
    if (!upload)
        return;
    // A running upload that goes frees a share of the speed limit.
    if (DropUpload(upload))
        DetermineUploadSpeedLimit();
    StartNewUploads();
}
