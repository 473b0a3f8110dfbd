#pragma once
// The half-minute tidy of the upload list while "clear_complete_aborted_uploads"
// is on: an upload that is no longer queued, or is queued for a user offline
// for five minutes, goes once its last change (or the last report of its
// thread) is five minutes old. The list may hold 100,000 uploads, so it is
// looked through a slice at a time in turn with the other work of the event
// loop, from where the last slice stopped (no list of them is made at the
// tick); a tick while a look is under way leaves that look going.
#include "store/ItemPtr.h"
#include "store/TurnTaker.h"
#include <QDateTime>

class StaleUploads {
public:
    StaleUploads();

    // Starts a look through every upload as of now, unless one is under way;
    // its first slice comes in its turn, not in the tick of the shared timer
    // (whose other handlers run then too).
    void Start();
    bool Busy() const { return m_busy; }

private:
    void Run();
    bool Stale(ItemPtr entry) const;

    bool m_busy = false;
    // The uploads of the look are those made before m_firstNew (creation
    // numbers); those up to m_after have been looked at.
    quint64 m_firstNew = 0;
    quint64 m_after = 0;
    QDateTime m_now;
    TurnTaker m_turn;
};
