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
// After a file connection failed: the first delay before asking again, and
// the longest, reached by doubling.
constexpr qint64 kFirstRetryDelay = 60000;
constexpr qint64 kLongestRetryDelay = 1800000;
// Our own failed attempt explains the uploader's failure only this long.
constexpr qint64 kConnectFailureKept = 120000;
} // namespace

void TransferQueueManager::StampQueueRequest(const QString& user)
{
    m_lastQueueRequest[user] = MonotonicNow();
}

void TransferQueueManager::StampNextPlaceInLine(const QString& user, qint64 delayMilliseconds)
{
    m_nextPlaceInLine[user] = MonotonicNow() + delayMilliseconds;
}

void TransferQueueManager::OnConnectionForUserFailed(QString user, QString type, QString reason)
{
    if (type == QLatin1String("F"))
        m_fileConnectFailures[user] = { reason, MonotonicNow() };
}

void TransferQueueManager::PostponeRequeue(ItemPtr download)
{
    ItemPtr user = download["user"];
    const QString name = user.AsString();
    Retry& retry = m_retries[download.Get()];
    ++retry.failures;
    const qint64 delay = qMin(kFirstRetryDelay << qMin(retry.failures - 1, 10), kLongestRetryDelay);
    retry.due = MonotonicNow() + delay;
    const auto own = m_fileConnectFailures.find(name);
    const bool tried = own != m_fileConnectFailures.end() && MonotonicNow() - own->second.at <= kConnectFailureKept;
    const QString why = !tried ? QStringLiteral("no connection came from %1").arg(name)
        : own->second.reason.isEmpty() ? QStringLiteral("could not connect to %1").arg(name)
                                       : own->second.reason;
    const QString reason = QStringLiteral("File connection failed: %1").arg(why);
    Log(kArea, 1,
        QStringLiteral("%1 for %2; asking again in %3 s").arg(reason, download["file_name"].AsString()).arg(delay / 1000),
        user);
    T("denial_reason")->GetItem(Value(reason)) += download;
}

bool TransferQueueManager::RequeuePostponed(ItemPtr download) const
{
    const auto retry = m_retries.find(download.Get());
    return retry != m_retries.end() && retry->second.due >= 0;
}

void TransferQueueManager::RequeueWhenDue()
{
    std::vector<ItemPtr> due;
    for (const auto& [item, retry] : m_retries) {
        if (retry.due >= 0 && MonotonicNow() >= retry.due)
            due.push_back(ItemPtr(item));
    }
    for (ItemPtr download : due) {
        // An offline user's download waits, still due, for the user.
        if (!download["user"].IsConnected("is_online"))
            continue;
        // One that ended meanwhile waits for the user.
        if (StatusOf(download, "download_entry_status") == QLatin1String("queued")) {
            // Asked again, it waits as any queued download until it fails again.
            download.Disconnect("denial_reason");
            Log(kArea, 1,
                QStringLiteral("Asking again for %1 after its file connection failed")
                    .arg(download["file_name"].AsString()),
                download["user"]);
            RequeueDownload(download);
        }
        m_retries[download.Get()].due = -1;
    }
}

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
        // Asked for again, it waits behind the others instead of taking the
        // slot back first, for a connection that may fail again.
        MoveUploadBehindOthers(upload);
        ++aborted;
    }
    if (aborted)
        StartNewUploads();

    // Downloads whose file connection failed, once their delay is over.
    RequeueWhenDue();

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
