#include "StaleUploads.h"
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
    if (m_left)
        return;
    m_now = QDateTime::currentDateTime();
    m_left = std::make_unique<LiveItemSet>("upload_entry", d.GetType("upload_entry")->GetItems());
    m_turn.RunOrWake();
}

void StaleUploads::Run()
{
    // Switched off meanwhile: the rest stays.
    if (!m_left || !settings.IsYes("clear_complete_aborted_uploads") || !transferQueueManager) {
        m_left.reset();
        return;
    }
    const QDeadlineTimer until = TurnTaker::Budget();
    int looked = 0;
    while (ItemPtr entry = m_left->TakeFirst()) {
        if (Stale(entry))
            transferQueueManager->RemoveUpload(entry);
        if (++looked % SlicedWork::kItemsAtOnce == 0 && until.hasExpired()) {
            m_turn.Wake();
            return;
        }
    }
    m_left.reset();
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
