// The half-minute checks: negotiation time-outs of uploads, re-queues and
// place-in-line requests for queued downloads, and the end of the
// finish-uploads-and-quit mode. Every delay is measured on the engine's
// monotonic clock, so a change of the wall clock neither fires nor holds back
// a time-out.
#include "TransferFunctions.h"
#include "TransferQueueManager.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include <QCoreApplication>
#include <QDateTime>
#include <vector>

namespace {
constexpr qint64 kNegotiationTimeout = 30000; // ms: a "requesting" or "connecting" upload
constexpr qint64 kRequeueInterval = 600000; // ms between re-queues of a user's downloads
constexpr qint64 kPlaceInLineInterval = 600000; // ms between place-in-line rounds
constexpr qint64 kFinishQuietTime = 300000; // ms without upload changes before quitting
} // namespace

void TransferQueueManager::StampQueueRequest(const QString& user)
{
    m_lastQueueRequest[user] = MonotonicNow();
}

void TransferQueueManager::StampNextPlaceInLine(const QString& user, qint64 delayMilliseconds)
{
    m_nextPlaceInLine[user] = MonotonicNow() + delayMilliseconds;
}

void TransferQueueManager::PeriodicCheck() { }

void TransferQueueManager::EveryHalfMinute()
{
    const qint64 now = MonotonicNow();

    // 1. Uploads that hang while they are negotiated.
    ItemSet negotiating;
    for (const char* word : { "requesting", "connecting", "waiting for offset" })
        negotiating.Add(T("upload_entry_status")->HasItem(word).GetItems("upload_entry"));
    int aborted = 0;
    for (ItemPtr upload : negotiating) {
        auto stamp = m_uploadStatusChanged.find(upload.Get());
        if (stamp == m_uploadStatusChanged.end()) {
            // Set by someone else than the status model: count from now.
            m_uploadStatusChanged[upload.Get()] = now;
            continue;
        }
        if (now - stamp->second < kNegotiationTimeout)
            continue;
        const QString status = StatusOf(upload, "upload_entry_status");
        Log(kArea, 1,
            QStringLiteral("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(
                    upload["shared_file"]["shared_file_name"].AsString(), upload["user"].AsString(), status));
        T("denial_reason")->GetItem(Value(QStringLiteral("Timed out in %1 phase").arg(status))) += upload;
        SetUploadEntryStatus(upload, QStringLiteral("aborted"));
        ++aborted;
    }
    if (aborted)
        StartNewUploads();

    // 2. Queue requests that got lost or went unanswered.
    ItemSet users;
    for (ItemPtr user :
        T("download_entry_status")->HasItem("queued").GetItems("download_entry").GetItems("user")) {
        if (user.IsConnected("is_online"))
            users.Insert(user);
    }
    for (ItemPtr user : users) {
        const QString name = user.AsString();
        if (IsActivelyDownloadingFromUser(name))
            continue;
        auto last = m_lastQueueRequest.find(name);
        if (last == m_lastQueueRequest.end() || MonotonicNow() - last->second >= kRequeueInterval)
            RequeueUserDownloads(user);
    }

    // 3. Places in line of the queued downloads.
    ItemPtr queued = T("download_entry_status")->HasItem("queued");
    for (ItemPtr user : users) {
        const QString name = user.AsString();
        if (IsActivelyDownloadingFromUser(name))
            continue;
        auto next = m_nextPlaceInLine.find(name);
        if (next != m_nextPlaceInLine.end() && MonotonicNow() < next->second)
            continue;
        for (ItemPtr download :
            user.GetItems("download_entry").Connected(queued).SortNumericBy("download_order", true))
            RequestDownloadPlaceInLine(download);
        user += T("next_place_in_line_request_time")
                    ->GetItem(Value(QDateTime::currentDateTime()
                                        .addSecs(kPlaceInLineInterval / 1000)
                                        .toString(Qt::TextDate)));
        StampNextPlaceInLine(name, kPlaceInLineInterval);
    }

    // 4. The end of finish-uploads-and-quit.
    if (!runtimeSettings.IsYes("finish_uploads_and_quit")) {
        m_finishModeSeen = -1;
        return;
    }
    if (m_finishModeSeen < 0)
        m_finishModeSeen = now;
    // With no upload change during the run, the quiet time counts from the
    // first pass that saw the mode on.
    const qint64 since
        = qMax(m_lastUploadStateChange, m_lastUploadStateChange < 0 ? m_finishModeSeen : qint64(-1));
    if (now - since > kFinishQuietTime && ActiveUploadCount() == 0 && QueuedUploadCount() == 0) {
        Log(kArea, 1, QStringLiteral("Uploads finished, quitting"));
        QCoreApplication::exit(0);
    }
}
