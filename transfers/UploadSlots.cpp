// Upload slots and the speed limit: starting queued uploads while slots are
// free, one per user and only for users who are online, each offered as its
// file is at that moment, and sharing the upload speed limit among the
// running uploads.
#include "OpenedSharedFile.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "peers/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QHash>

namespace {
ItemSet ActiveUploads()
{
    return T("is_active")->GetItems().GetItems("upload_entry_status").GetItems("upload_entry");
}
} // namespace

int TransferQueueManager::ActiveUploadCount() const
{
    return int(ActiveUploads().Size());
}

bool TransferQueueManager::IsFreeToUpload() const
{
    return ActiveUploadCount() < settings.GetInt("upload_slots");
}

bool TransferQueueManager::MayStartUploadOf(ItemPtr user) const
{
    if (!user.IsConnected("is_online"))
        return false;
    const ItemSet activeStatuses = T("is_active")->GetItems().GetItems("upload_entry_status");
    for (ItemPtr upload : user.GetItems("upload_entry"))
        if (activeStatuses.Contains(upload["upload_entry_status"]))
            return false;
    return true;
}

void TransferQueueManager::StartNewUploads()
{
    const ItemSet activeStatuses = T("is_active")->GetItems().GetItems("upload_entry_status");
    int free = settings.GetInt("upload_slots") - int(activeStatuses.GetItems("upload_entry").Size());
    if (free <= 0)
        return;
    ItemPtr queued = T("upload_entry_status")->HasItem("queued");
    ItemSet candidates;
    std::vector<ItemPtr> unshared;
    // Every queued upload is looked at: the types are looked up once, and
    // whether a user is online once per user.
    Type* userType = T("user");
    Type* fileType = T("shared_file");
    Type* online = T("is_online");
    QHash<Item*, bool> userOnline;
    for (ItemPtr upload : queued.GetItems("upload_entry")) {
        ItemPtr user = upload[userType];
        auto known = userOnline.find(user.Get());
        if (known == userOnline.end())
            known = userOnline.insert(user.Get(), user.IsConnected(online));
        if (!*known)
            continue;
        // The file may have left the share since it was queued (a rescan,
        // an unshared folder) or the user may not see it any more: it is
        // refused now rather than offered (with no size to give).
        ItemPtr file = upload[fileType];
        if (!file || !sharedFoldersManager || !sharedFoldersManager->IsFileSharedWithUser(file, user.AsString()))
            unshared.push_back(upload);
        else
            candidates.Insert(upload);
    }
    for (ItemPtr upload : unshared)
        DropUnsharedUpload(upload, QStringLiteral("it is no longer shared with the user"));
    if (candidates.Empty())
        return;
    long long i = 0;
    for (ItemPtr upload : candidates.SortNumericBy("effective_upload_order", true)) {
        upload += T("effective_upload_order")->GetItem(Value(i++));
        if (free <= 0)
            continue;
        ItemPtr user = upload["user"];
        bool userBusy = false;
        for (ItemPtr other : user.GetItems("upload_entry")) {
            if (activeStatuses.Contains(other["upload_entry_status"])) {
                userBusy = true;
                break;
            }
        }
        if (userBusy || !OfferSharedFile(upload))
            continue;
        const uint req = peerMessenger
            ? peerMessenger->RequestUpload(user.AsString(), upload["filename_as_requested"].AsString(),
                upload["shared_file"]["shared_file_size"].AsInt64())
            : 0;
        SetUploadEntryStatus(upload, QStringLiteral("requesting"));
        // Our request numbers are one per upload: an old upload that still
        // carries the number lets go of it.
        upload += T("transfer_req")->GetItem(Value(req));
        --free;
        DetermineUploadSpeedLimit();
    }
}

bool TransferQueueManager::OfferSharedFile(ItemPtr upload)
{
    // The size offered is the file's size now, not the one the last scan
    // saw: a file rewritten since would be offered with one size and sent
    // with another. A file that can't be read is offered as indexed and
    // refused when it is opened.
    ItemPtr file = upload["shared_file"];
    const OpenedSharedFile opened(file);
    if (!opened.AsListed()) {
        DropUnsharedUpload(upload, opened.Error());
        return false;
    }
    const FileStamp stamp = FileStamp::OfDescriptor(opened.Descriptor());
    if (!stamp.Valid()) {
        m_offers.erase(upload.Get());
        return true;
    }
    m_offers[upload.Get()] = stamp;
    if (stamp.size != file["shared_file_size"].AsInt64() && sharedFoldersManager) {
        Log(kArea, 2,
            QStringLiteral("%1 is %2 bytes now, %3 when it was scanned")
                .arg(SharedFileLocalPath(file))
                .arg(stamp.size)
                .arg(file["shared_file_size"].AsInt64()),
            upload["user"]);
        sharedFoldersManager->SetSharedFileSize(file, stamp.size);
    }
    return true;
}

void TransferQueueManager::DropUnsharedUpload(ItemPtr upload, const QString& why)
{
    const QString user = upload["user"].AsString();
    const QString file = upload["filename_as_requested"].AsString();
    Log(kArea, 1, QStringLiteral("%1 is not shared with %2 (%3); its upload is removed").arg(file, user, why),
        upload["user"]);
    if (peerMessenger)
        peerMessenger->DenyUpload(user, file, QStringLiteral("File not shared."));
    DropUpload(upload);
}

void TransferQueueManager::FailChangedUpload(ItemPtr upload)
{
    // Told as a denial, not as a failure: a peer asks again at once after a
    // failure, and a file still being written would be offered, sent in part
    // and failed for ever.
    const QString reason = UploadThread::FileChangedReason();
    ItemPtr user = upload["user"];
    Log(kArea, 1,
        QStringLiteral("Upload of %1 to %2 stopped: %3")
            .arg(SharedFileLocalPath(upload["shared_file"]), user.AsString(), reason),
        user);
    T("denial_reason")->GetItem(Value(reason)) += upload;
    if (peerMessenger)
        peerMessenger->DenyUpload(user.AsString(), upload["filename_as_requested"].AsString(), reason);
    SetUploadEntryStatus(upload, QStringLiteral("local error"));
    StartNewUploads();
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    const int limit = settings.GetInt("upload_speed_limit");
    if (limit > 0 && settings.IsYes("upload_speed_limit_enabled")) {
        const ItemSet active = ActiveUploads();
        m_speedLimit.SetLimit(limit, int(active.Size()));
        const QDateTime now = QDateTime::currentDateTime();
        for (ItemPtr upload : active) {
            if (auto* time = upload["last_speed_measurement_time"].AsPointer<QDateTime>())
                *time = now;
            if (auto* bytes = upload["bytes_since_last_receipt"].AsPointer<qint64>())
                *bytes = 0;
        }
    } else {
        m_speedLimit.SetNoLimit();
    }
}

int TransferQueueManager::GetUploadSpeed() const
{
    return m_speedLimit.TotalLimit();
}

void TransferQueueManager::SetUploadSlots(int count)
{
    if (count < 1 || count > 99)
        return;
    const int old = settings.GetInt("upload_slots");
    settings.Set("upload_slots", Value(count));
    if (count > old)
        StartNewUploads();
}

void TransferQueueManager::SetUploadSpeedLimit(int kilobytesPerSecond)
{
    settings.Set("upload_speed_limit", Value(kilobytesPerSecond));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EnableUploadSpeedLimit(bool enabled)
{
    settings.Set("upload_speed_limit_enabled", enabled ? "yes" : "no");
    DetermineUploadSpeedLimit();
}
