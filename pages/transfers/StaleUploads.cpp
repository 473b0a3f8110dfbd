#include "StaleUploads.h"
#include "store/ChunkedSet.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/SlicedWork.h"
#include "transfers/TransferQueueManager.h"

namespace {

// Seconds from a text stamp to now; a stamp that does not parse gives a null
// time, from which no seconds have passed.
qint64 SecondsSince(const QDateTime& time, const QDateTime& now)
{
    return time.isValid() ? time.secsTo(now) : 0;
}

bool OfflineLongEnough(ItemPtr user, const QDateTime& now)
{
    if (user.IsConnected("is_online"))
        return false;
    ItemPtr change = user["last_online_status_change"];
    return change && SecondsSince(QDateTime::fromString(change.AsString(), Qt::TextDate), now) > 299;
}

} // namespace

StaleUploads::StaleUploads()
    : m_turn([this] { Run(); })
{
}

void StaleUploads::Start()
{
    if (m_busy)
        return;
    m_busy = true;
    m_now = QDateTime::currentDateTime();
    m_after = 0;
    m_firstNew = d.NextSerial();
    m_turn.Wake();
}

void StaleUploads::Run()
{
    // Switched off meanwhile: the rest stays.
    if (!m_busy || !settings.IsYes("clear_complete_aborted_uploads") || !transferQueueManager) {
        m_busy = false;
        return;
    }
    const QDeadlineTimer until = TurnTaker::Budget();
    const ChunkedSet& uploads = d.GetType("upload_entry")->Items();
    int looked = 0;
    // In the order they were made, from the one after the last looked at:
    // a removal, of any upload, leaves the place found again.
    for (ChunkedSet::Position p = uploads.After(m_after); uploads.Valid(p);) {
        Item* upload = uploads.At(p);
        if (upload->serial >= m_firstNew)
            break; // made since the look began
        m_after = upload->serial;
        ItemPtr entry(upload);
        if (Stale(entry)) {
            transferQueueManager->RemoveUpload(entry);
            p = uploads.After(m_after);
        } else {
            uploads.Advance(p);
        }
        if (++looked % SlicedWork::kItemsAtOnce == 0 && until.hasExpired()) {
            m_turn.Wake();
            return;
        }
    }
    m_busy = false;
}

bool StaleUploads::Stale(ItemPtr entry) const
{
    if (entry["upload_entry_status"].Text() == "queued" && !OfflineLongEnough(entry["user"], m_now))
        return false;
    ItemPtr changed = entry["last_status_change_time"];
    const auto* receipt = entry["last_receipt_time"].AsPointer<QDateTime>();
    if (!changed && !receipt)
        return false;
    QDateTime reference;
    if (changed)
        reference = QDateTime::fromString(changed.AsString(), Qt::TextDate);
    if (receipt && (reference.isNull() || reference < *receipt))
        reference = *receipt;
    return SecondsSince(reference, m_now) > 299;
}
