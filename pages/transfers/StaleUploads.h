#pragma once
// The half-minute tidy of the upload list while "clear_complete_aborted_uploads"
// is on: an upload that is no longer queued, or is queued for a user offline
// for five minutes, goes once its last change (or the last report of its
// thread) is five minutes old. The list may hold 100,000 uploads, so it is
// looked through a slice at a time in turn with the other work of the event
// loop; a tick while a look is under way leaves that look going.
#include "LiveItemSet.h"
#include "store/TurnTaker.h"
#include <QDateTime>
#include <memory>

class StaleUploads {
public:
    StaleUploads();

    // Starts a look through every upload as of now, unless one is under way;
    // the first slice runs at once when nothing else waits for its turn.
    void Start();
    bool Busy() const { return m_left != nullptr; }

private:
    void Run();
    bool Stale(ItemPtr entry) const;

    std::unique_ptr<LiveItemSet> m_left; // not looked at yet
    QDateTime m_now;
    TurnTaker m_turn;
};
