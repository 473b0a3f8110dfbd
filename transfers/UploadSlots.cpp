// Upload slots and the speed limit: starting queued uploads while slots are
// free, one per user and only for users who are online, each offered as its
// file is at that moment, and sharing the upload speed limit among the
// running uploads. Each start moves every upload behind it one place up: in a
// long queue, the numbers after the last upload started are given a slice at
// a time in later passes.
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
#include <QTimer>
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {
// How many places a walk numbers between two looks at the clock once the
// slots are handed out (a number given may cost some microseconds): a short
// queue is numbered in one go.
constexpr size_t kNumbersAtOnce = 128;

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
    // The running uploads are few (a slot each); the user's may be 100,000.
    for (ItemPtr upload : ActiveUploads()) {
        if (upload["user"] == user)
            return false;
    }
    return true;
}

void TransferQueueManager::StartNewUploads()
{
    // A call from within the walk (by way of what starting an upload tells)
    // leaves the slots to the walk.
    if (m_inUploadWalk)
        return;
    const ItemSet active = ActiveUploads();
    const int free = settings.GetInt("upload_slots") - int(active.Size());
    if (free <= 0)
        return;
    // A walk still numbering the queue is not finished first but begun
    // again from the front: its places are read as they were when it began,
    // skipping those that left the queue since, and each upload of an online
    // user takes the number and the turn it would have after the first walk
    // (offline users' uploads keep theirs either way). An upload queued
    // again meanwhile has no place in that reading: then the walk is
    // finished first.
    if (m_uploadWalk && m_queuedUploads.Requeued())
        FinishUploadWalk();
    // The queue is read from its front: each upload of an online user takes
    // the next number, and only those reached while a slot is free are
    // looked at closer (a file no longer shared is refused as it comes up).
    // Users with an upload running are few, a slot each.
    std::unordered_set<Item*> busy;
    for (ItemPtr upload : active)
        busy.insert(upload["user"].Get());
    size_t renumbered = 0;
    if (m_uploadWalk)
        renumbered = std::max(m_uploadWalk->next, m_uploadWalk->renumbered);
    else
        m_queuedUploads.BeginWalk();
    m_uploadWalk = std::make_unique<UploadWalk>();
    m_uploadWalk->renumbered = renumbered;
    WalkUploads(free, busy, SlicedWork::Turn());
}

void TransferQueueManager::FinishUploadWalk()
{
    if (!m_uploadWalk || m_inUploadWalk)
        return;
    std::unordered_set<Item*> none;
    WalkUploads(0, none, QDeadlineTimer(QDeadlineTimer::Forever));
}

void TransferQueueManager::UploadWalkSlice()
{
    if (!m_uploadWalk || m_inUploadWalk)
        return;
    std::unordered_set<Item*> none;
    WalkUploads(0, none, SlicedWork::Turn());
}

void TransferQueueManager::WalkUploads(int free, std::unordered_set<Item*>& busy, const QDeadlineTimer& until)
{
    UploadWalk& walk = *m_uploadWalk;
    Type* userType = T("user");
    Type* fileType = T("shared_file");
    Type* online = T("is_online");
    Type* orderType = T("effective_upload_order");
    Type* statusType = T("upload_entry_status");
    ItemPtr queued = statusType->HasItem("queued");
    const std::vector<QueuedUploads::Place>& places = m_queuedUploads.InOrder();
    m_inUploadWalk = true;
    for (; walk.next < places.size(); ++walk.next) {
        // Once the slots are handed out, only numbers are left to give.
        if (free <= 0 && walk.next % kNumbersAtOnce == 0 && until.hasExpired())
            break;
        QueuedUploads::Place place = places[walk.next];
        if (m_queuedUploads.Gone(place.upload))
            continue;
        ItemPtr upload(place.upload);
        if (upload[statusType] != queued)
            continue;
        ItemPtr user = upload[userType];
        auto known = walk.userOnline.find(user.Get());
        if (known == walk.userOnline.end())
            known = walk.userOnline.emplace(user.Get(), user.IsConnected(online)).first;
        if (!known->second) {
            walk.kept.push_back(place);
            continue;
        }
        const bool looked = free > 0 && !busy.count(user.Get());
        if (looked) {
            // The file may have left the share since it was queued (a
            // rescan, an unshared folder) or the user may not see it any
            // more: it is refused now rather than offered (with no size to
            // give).
            ItemPtr file = upload[fileType];
            if (!file || !sharedFoldersManager
                || !sharedFoldersManager->IsFileSharedWithUser(file, user.AsString())) {
                DropUnsharedUpload(upload, QStringLiteral("it is no longer shared with the user"));
                continue;
            }
        }
        // A walk begun again may find the number given by the one before.
        if (walk.next < walk.renumbered) {
            ItemPtr number = upload[orderType];
            place.number = number ? number.AsInt64() : -1;
        }
        if (place.number != walk.number)
            upload += orderType->GetItem(Value(walk.number));
        place.number = walk.number++;
        if (!looked || !OfferSharedFile(upload)) {
            walk.numbered.push_back(place);
            continue;
        }
        const uint req = peerMessenger
            ? peerMessenger->RequestUpload(user.AsString(), upload["filename_as_requested"].AsString(),
                upload["shared_file"]["shared_file_size"].AsInt64())
            : 0;
        SetUploadEntryStatus(upload, QStringLiteral("requesting"));
        // Our request numbers are one per upload: an old upload that still
        // carries the number lets go of it.
        upload += T("transfer_req")->GetItem(Value(req));
        busy.insert(user.Get());
        --free;
        DetermineUploadSpeedLimit();
    }
    m_inUploadWalk = false;
    if (walk.next < places.size()) {
        QTimer::singleShot(0, this, &TransferQueueManager::UploadWalkSlice);
        return;
    }
    const std::unique_ptr<UploadWalk> done = std::move(m_uploadWalk);
    m_queuedUploads.EndWalk(std::move(done->numbered), std::move(done->kept));
    if (!m_placeAsks.empty())
        QTimer::singleShot(0, this, &TransferQueueManager::AnswerPlaceAsks);
}

void TransferQueueManager::AnswerPlaceAsks()
{
    const QDeadlineTimer until = SlicedWork::Turn();
    size_t n = 0;
    for (; n < m_placeAsks.size() && !m_uploadWalk; ++n) {
        if (n % SlicedWork::kItemsAtOnce == 0 && n > 0 && until.hasExpired()) {
            QTimer::singleShot(0, this, &TransferQueueManager::AnswerPlaceAsks);
            break;
        }
        // A peer that left meanwhile gets no answer (nor a connection for it).
        const auto& [user, file] = m_placeAsks[n];
        if (peerMessenger && peerMessenger->HasOpenMessageConnection(user))
            AnswerPlaceInLine(user, file);
    }
    m_placeAsks.erase(m_placeAsks.begin(), m_placeAsks.begin() + long(n));
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
