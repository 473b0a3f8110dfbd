// Pushed uploads: one of our files sent to a user on our own initiative, and
// the answer to the empty-share probe.
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"

void TransferQueueManager::AddUpload(const QString& user, const QString& file)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1, QStringLiteral("Initiating upload to %1 of file %2").arg(user, file), userItem);
    ItemPtr sharedFile = FindSharedFile(file);
    if (!sharedFile || !sharedFoldersManager->IsFileSharedWithUser(sharedFile, user)) {
        Log(kArea, 2,
            QStringLiteral(
                "Can't upload, file is either not shared or not shared with that particular user."),
            userItem);
        return;
    }
    if (peerMessenger)
        peerMessenger->QueueUpload(user, file, sharedFile["shared_file_size"].AsInt64());
    if (ItemPtr existing = d.GetItem(userItem, sharedFile, "upload_entry")) {
        RequeueExistingUpload(userItem, existing);
        return;
    }
    CreateUpload(userItem, sharedFile, file);
    // Only this user's uploads can start now that did not before: a folder
    // pushed file by file costs no look at every queued upload for each.
    if (MayStartUploadOf(userItem))
        StartNewUploads();
}

void TransferQueueManager::AddUploads(const QString& user, std::vector<QString> files)
{
    if (files.empty())
        return;
    auto batch = std::make_unique<WantedBatch>();
    batch->pushedTo = user;
    batch->pushed = std::move(files);
    WantedBatch* added = batch.get();
    batch->work.Then(added->pushed.size(), [this, added](size_t k) { AddUpload(added->pushedTo, added->pushed[k]); });
    QueueWanted(std::move(batch));
}

void TransferQueueManager::OnUserShare(QString user, FileInfoMap& folders, AttributeTranslationTable&)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    if (userItem["empty_share_check_status"].Text() != "requested")
        return;
    if (!folders.empty()) {
        userItem += T("empty_share_check_status")->GetItem("not_empty");
        return;
    }
    userItem += T("empty_share_check_status")->GetItem("empty");
    if (!settings.IsYes("check_for_empty_shares") || userItem.IsConnected("in_user_list"))
        return;
    const QString text = settings.Get("empty_share_message");
    if (text.isEmpty())
        return;
    if (gp_server)
        gp_server->SendPrivateChat(user, text);
    Log(QStringLiteral("Shared"), 1, QStringLiteral("Sent empty share warning message to user %1").arg(user));
    userItem += T("sent_empty_share_warning_message")->GetItem(Value(text));
}
