#pragma once
// The store's sweep (Data::RemoveDisconnectedItems, which says what is
// reachable) done a slice at a time on the GUI thread, while the store goes
// on changing between the slices.
//
// A cycle follows the items reached from the roots, then removes the rest.
// It takes two marks of the store's: one for items waiting to be followed,
// one for items followed; an item made after the cycle began counts as
// marked (its creation number tells). Between the slices the store tells it
// (Data::SweepWatcher):
// - a connection made: both ends count as reached, and those not marked yet
//   wait to be followed, so what a marked item reaches through a connection
//   made meanwhile stays (garbage connected meanwhile goes in the next
//   cycle); a connection dropped needs nothing;
// - an item removed while it waits: it is passed over when its turn comes
//   (its memory may hold another item by then).
// Roots and the removal go over each type by creation number, so a place
// kept between slices survives items made and removed. Removal goes through
// Data::Remove (its events, the save's watcher) and first follows whatever
// a connection made meanwhile queued: no item that is reachable at the end
// of the cycle is removed, and on a store that does not change the outcome
// is the sweep's at once. Clear(), a sweep at once and the store's end end
// a cycle under way.
#include "Data.h"
#include "SlicedWork.h"
#include <QTimer>
#include <unordered_set>
#include <vector>

class SlicedSweep : private Data::SweepWatcher {
public:
    explicit SlicedSweep(Data* data);
    ~SlicedSweep();
    SlicedSweep(const SlicedSweep&) = delete;
    SlicedSweep& operator=(const SlicedSweep&) = delete;

    // Begins a cycle run a slice at a time from the event loop; false (and
    // nothing begun) while one is under way.
    bool Start();
    // Begins a cycle that the caller runs with RunSlice().
    void Begin();
    // Goes on with the cycle: at least `least` steps (an item reached,
    // followed or looked at for removal), then until the deadline. True once
    // the cycle is done, or when none is under way.
    bool RunSlice(const QDeadlineTimer& until, int least = SlicedWork::kItemsAtOnce);
    bool Running() const { return m_running; }
    // The items the last cycle removed (so far, while it runs).
    size_t Removed() const { return m_removed; }

private:
    void Connected(Item* x, Item* y) override;
    void Removing(Item* item) override;
    void Abandon() override;

    bool Marked(const Item* item) const
    {
        return item->mark == m_queuedMark || item->mark == m_followedMark || item->serial >= m_firstNew;
    }
    void Reach(Item* item);
    void Follow(Item* item);
    // One step of the roots' walk or the removal; false when all is done.
    bool NextOfTypes();
    void End();

    Data* m_data;
    QTimer m_slices;
    bool m_running = false;
    bool m_removing = false; // the roots are done
    quint32 m_queuedMark = 0;
    quint32 m_followedMark = 0;
    quint64 m_firstNew = 0; // the creation number of the first item made during the cycle
    size_t m_type = 0; // the type that the roots' walk or the removal is at
    quint64 m_after = 0; // and the creation number it has done up to
    // Where that is in the type's items, while nothing was removed since.
    ChunkedSet::Position m_at;
    bool m_atKnown = false;
    std::vector<Item*> m_queue;
    std::unordered_set<const Item*> m_goneFromQueue;
    size_t m_removed = 0;
};
