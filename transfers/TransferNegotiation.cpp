// Negotiating one transfer: a peer's transfer request (it is about to send us
// a file, or asks us the old way for one of ours) and the peer's response to
// the requests that we send for our uploads.
#include "OpenedSharedFile.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include <QFile>
#include <unistd.h>

bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(const QString& user) const
{
    ItemPtr inList = T("user")->HasItem(Value(user))["in_user_list"];
    if (!inList)
        return false;
    if (settings.IsYes("accept_userlist_uploads"))
        return true;
    for (ItemPtr group : inList.GetItems("user_list_group")) {
        if (group.IsConnected("accept_uploads"))
            return true;
    }
    return false;
}

void TransferQueueManager::OnFileTransferRequest(
    QString user, int direction, uint req, std::string file, qint64 fileSize)
{
    const std::string folder = GetFolder(file);
    const std::string name = GetFileName(file);
    if (direction != 1) {
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(user, req, QStringLiteral("Queued"));
        OnQueueUploadRequested(user, ToQString(file));
        return;
    }
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1,
        QStringLiteral("Received upload request from %1 for file %2, req %3")
            .arg(user, ToQString(file))
            .arg(req),
        userItem);
    // No file has a negative size: such a request can only end in a broken
    // download.
    if (fileSize < 0) {
        Log(kArea, 2, QStringLiteral("Denied, invalid file size %1").arg(fileSize), userItem);
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(user, req, QStringLiteral("Invalid file size."));
        return;
    }
    ItemPtr download = GetDownloadEntry(user, name, folder);
    if (!download) {
        if (!CanAcceptUserInitiatedUploadsFrom(user)) {
            Log(kArea, 2, QStringLiteral("Denied, Cancelled"), userItem);
            if (peerMessenger)
                peerMessenger->DenyTransferRequest(user, req, QStringLiteral("Cancelled"));
            return;
        }
        download = T("download_entry")->NewItem();
        download += userItem;
        download += T("file_name")->GetItem(Value(name));
        download += T("remote_folder")->GetItem(Value(folder));
        NoteRemoteFolder(folder);
        download += T("file_size")->GetItem(Value(static_cast<long long>(fileSize)));
        download += T("subfolder_save_level")->GetItem(Value(0));
        const qint64 order = settings.GetInt64("transfer_order_counter");
        download += T("download_order")->NewItem(Value(static_cast<long long>(order)));
        settings.Set("transfer_order_counter", Value(static_cast<long long>(order + 1)));
        if (gp_server)
            gp_server->TrackUser(user);
        SetDownloadEntryStatus(download, QStringLiteral("queued"));
        // Its earlier self, removed, is being filed: the connection waits
        // behind that and finds it complete.
        m_disk.WaitForFiling(SourceOf(download), order);
        emit DownloadQueueChanged();
    }
    if (StatusOf(download, "download_entry_status") == QLatin1String("complete")) {
        Log(kArea, 2, QStringLiteral("Denied, Complete"), userItem);
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(user, req, QStringLiteral("Complete"));
        return;
    }
    // The peer's file may have changed since we queued it: the size that it
    // announces now is the one the transfer will have, and the one that
    // decides when the download is whole.
    const qint64 knownSize = download["file_size"].AsInt64();
    if (knownSize != fileSize) {
        Log(kArea, 2, QStringLiteral("File size changed from %1 to %2").arg(knownSize).arg(fileSize),
            userItem);
        download += T("file_size")->GetItem(Value(static_cast<long long>(fileSize)));
    }
    ItemPtr reqItem = T("remote_transfer_req")->GetItem(Value(req));
    for (ItemPtr other : reqItem.GetItems("download_entry")) {
        if (other["user"] == userItem)
            other.Disconnect(reqItem);
    }
    download += reqItem;
    if (StatusOf(download, "download_entry_status") == QLatin1String("downloading")) {
        RefuseDownload(download, QStringLiteral("aborted"),
            QStringLiteral("Transfer is already downloading, cancelling..."));
    }
    if (peerMessenger)
        peerMessenger->AcceptTransferRequest(user, req, false, 0);
    Log(kArea, 2, QStringLiteral("Accepted"), userItem);
}

void TransferQueueManager::OnFileTransferResponse(
    QString user, uint req, bool accepted, bool, qint64, QString denialReason)
{
    ItemPtr userItem = T("user")->GetItem(Value(user));
    Log(kArea, 1,
        QStringLiteral("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(user)
            .arg(req)
            .arg(accepted ? QStringLiteral("accepted") : QStringLiteral("not accepted")),
        userItem);
    ItemPtr reqItem = T("transfer_req")->HasItem(Value(req));
    if (!reqItem) {
        Log(kArea, 2, QStringLiteral("req not found"), userItem);
        return;
    }
    if (reqItem.IsConnected("download_entry")) {
        Log(kArea, 2, QStringLiteral("Found download, not processing"), userItem);
        return;
    }
    ItemPtr upload = reqItem["upload_entry"];
    if (!upload) {
        Log(kArea, 2, QStringLiteral("Neither upload or download attached to req, weird"), userItem);
        return;
    }
    Log(kArea, 2, QStringLiteral("Found upload"), userItem);
    if (upload["user"] != userItem) {
        Log(kArea, 2,
            QStringLiteral(
                "Upload user %1 not the same as user who opened the connection, not doing anything")
                .arg(upload["user"].AsString()),
            userItem);
        return;
    }
    if (!accepted) {
        Log(kArea, 2, QStringLiteral("Upload was not accepted, marking denied. Reason: %1").arg(denialReason),
            userItem);
        T("denial_reason")->GetItem(Value(denialReason)) += upload;
        SetUploadEntryStatus(upload, QStringLiteral("denied"));
        StartNewUploads();
        return;
    }
    const QString status = StatusOf(upload, "upload_entry_status");
    if (status != QLatin1String("requesting")) {
        Log(kArea, 2,
            QStringLiteral("Upload no longer in requesting phase, instead status is %1. Not processing.")
                .arg(status),
            userItem);
        return;
    }
    // Exactly the file that the walk listed, read through the descriptor
    // opened here: a link planted since is not followed.
    OpenedSharedFile opened(upload["shared_file"]);
    if (!opened.AsListed()) {
        DropUnsharedUpload(upload, opened.Error());
        StartNewUploads();
        return;
    }
    auto* file = new QFile;
    const int descriptor = opened.Take();
    if (descriptor < 0 || !file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        Log(kArea, 2,
            QStringLiteral(
                "File could not be opened, marking local error and sending denial message. Shouldn't we "
                "have done this before we requested the transfer?"),
            userItem);
        T("denial_reason")
            ->GetItem(Value(QStringLiteral("Could not open the shared file. Error string: ")
                + (descriptor < 0 ? opened.Error() : file->errorString())))
            += upload;
        if (descriptor >= 0 && !file->isOpen())
            ::close(descriptor);
        delete file;
        if (peerMessenger)
            peerMessenger->DenyUpload(
                user, upload["filename_as_requested"].AsString(), QStringLiteral("File read error."));
        SetUploadEntryStatus(upload, QStringLiteral("local error"));
        StartNewUploads();
        return;
    }
    // The peer agreed to the file as offered: one written to since is not
    // sent.
    const auto offer = m_offers.find(upload.Get());
    if (offer != m_offers.end() && FileStamp::OfDescriptor(file->handle()) != offer->second) {
        delete file;
        FailChangedUpload(upload);
        return;
    }
    Log(kArea, 2, QStringLiteral("Requesting file connection to user"), userItem);
    if (peerMessenger)
        peerMessenger->RequestFileConnectionToUser(user);
    upload += T("upload_file")->NewItem(Value(file));
    SetUploadEntryStatus(upload, QStringLiteral("connecting"));
}
