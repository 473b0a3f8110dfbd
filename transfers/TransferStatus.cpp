// The status model: the one way the engine changes a download's or an
// upload's status, and the teardown of a transfer that leaves an active one.
#include "DownloadThread.h"
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "UploadThread.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QFile>
#include <QTcpSocket>

namespace {
void RemoveIfAny(ItemPtr entry, const char* type)
{
    if (ItemPtr item = entry[type])
        item.Remove();
}
} // namespace

QString TransferQueueManager::NowText()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate);
}

bool TransferQueueManager::IsActive(ItemPtr entry, const char* statusType)
{
    return entry[statusType].IsConnected("is_active");
}

QString TransferQueueManager::StatusOf(ItemPtr entry, const char* statusType)
{
    return entry[statusType].AsString();
}

void TransferQueueManager::TearDownDownload(ItemPtr download, bool removeSpeedClock)
{
    // The thread first: once it has ended, nothing uses the socket or the
    // file any more and its socket is back on this thread.
    if (ItemPtr item = download["download_thread"]) {
        auto* thread = item.AsPointer<DownloadThread>();
        item.Remove();
        if (thread) {
            thread->SignalExit();
            thread->wait();
            thread->deleteLater();
        }
    }
    if (ItemPtr item = download["download_file"]) {
        auto* file = item.AsPointer<QFile>();
        item.Remove();
        if (file) {
            file->close();
            delete file;
        }
    }
    if (ItemPtr item = download["download_socket"]) {
        auto* socket = item.AsPointer<QTcpSocket>();
        item.Remove();
        DropSocket(socket);
    }
    // What the partial file holds stays the download's progress.
    if (const auto* position = download["write_position"].AsPointer<qint64>())
        m_heldBytes[download.Get()] = *position;
    RemoveIfAny(download, "write_position");
    RemoveIfAny(download, "last_receipt_time");
    RemoveIfAny(download, "bytes_per_second");
    RemoveIfAny(download, "bytes_since_last_receipt");
    if (removeSpeedClock)
        RemoveIfAny(download, "last_speed_measurement_time");
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr download, const QString& status)
{
    if (!download)
        return;
    const bool wasActive = IsActive(download, "download_entry_status");
    const QString before = StatusOf(download, "download_entry_status");
    const bool completes = status == QLatin1String("complete") && before != status;
    // Why it ended no longer holds once it is asked for again or runs.
    if (before != status && (status == QLatin1String("queued") || status == QLatin1String("downloading")))
        download.Disconnect("denial_reason");
    if (status == QLatin1String("downloading"))
        m_retries.erase(download.Get());
    download += d.GetType("download_entry_status")->GetItem(Value(status));
    download += d.GetType("last_status_change_time")->GetItem(Value(NowText()));
    if (completes)
        emit DownloadQueueChanged();
    if (!wasActive || IsActive(download, "download_entry_status"))
        return;
    // The speed clock and byte counter go too: they belong to the connection
    // that has just ended, and a new one makes its own.
    TearDownDownload(download, true);
    ItemPtr user = download["user"];
    user += d.GetType("last_queue_request_time")->GetItem(Value(NowText()));
    StampQueueRequest(user.AsString());
}

void TransferQueueManager::TearDownUpload(ItemPtr upload)
{
    if (ItemPtr item = upload["upload_thread"]) {
        auto* thread = item.AsPointer<UploadThread>();
        item.Remove();
        if (thread) {
            thread->SignalExit();
            thread->wait();
            thread->deleteLater();
        }
    }
    if (ItemPtr item = upload["upload_file"]) {
        auto* file = item.AsPointer<QFile>();
        item.Remove();
        if (file) {
            file->close();
            delete file;
        }
    }
    if (ItemPtr item = upload["upload_socket"]) {
        auto* socket = item.AsPointer<QTcpSocket>();
        item.Remove();
        DropSocket(socket);
    }
    if (ItemPtr item = upload["read_position"]) {
        // Read positions are freed here, not by a removal handler.
        delete item.AsPointer<qint64>();
        item.Remove();
    }
    RemoveIfAny(upload, "last_receipt_time");
    RemoveIfAny(upload, "last_speed_measurement_time");
    RemoveIfAny(upload, "bytes_per_second");
    RemoveIfAny(upload, "bytes_since_last_receipt");
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr upload, const QString& status)
{
    if (!upload)
        return;
    const bool wasActive = IsActive(upload, "upload_entry_status");
    upload += d.GetType("upload_entry_status")->GetItem(Value(status));
    upload += d.GetType("last_status_change_time")->GetItem(Value(NowText()));
    m_uploadStatusChanged[upload.Get()] = MonotonicNow();
    if (wasActive && !IsActive(upload, "upload_entry_status")) {
        TearDownUpload(upload);
        if (status == QLatin1String("aborted")) {
            ItemPtr user = upload["user"];
            MemStream message;
            message.WriteUInt32(PM_UPLOAD_FAILED);
            message.WriteString(upload["filename_as_requested"].AsStdString());
            Log(kArea, 1,
                QStringLiteral("Upload of %1 to %2 aborted, sending upload failed notification.")
                    .arg(upload["shared_file"]["shared_file_name"].AsString(), user.AsString()),
                user);
            if (peerMessenger)
                peerMessenger->SendMessage(user.AsString(), message);
        }
        DetermineUploadSpeedLimit();
    }
    m_queuedUploads.Update(upload);
    runtimeSettings.Set("last_upload_state_change", Value(NowText()));
    m_lastUploadStateChange = MonotonicNow();
}
