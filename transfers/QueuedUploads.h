#pragma once
// The queued uploads that have a number in the serving order, kept in that
// order (by number, then by creation) as uploads are queued, leave the queue,
// are numbered afresh and go: starting uploads reads the queue from its front
// instead of gathering and sorting all of it.
#include "store/ItemPtr.h"
#include <QtGlobal>
#include <unordered_set>
#include <vector>

class QueuedUploads {
public:
    struct Place {
        qint64 number;
        quint64 serial;
        Item* upload;
        bool operator<(const Place& o) const
        {
            return number != o.number ? number < o.number : serial < o.serial;
        }
    };

    // The upload at its place, or out of the queue when it is not queued or
    // has no number (read from the store). Its number is changed only
    // through Erase first, a walk or Rebuild.
    void Update(ItemPtr upload);
    // Out of the queue (before its number changes, or as it goes).
    void Erase(ItemPtr upload);
    // Every queued, numbered upload afresh (after all were numbered again).
    void Rebuild();
    const std::vector<Place>& InOrder() const { return m_places; }

    // While a walk goes through the places, changes to the queue are held
    // and applied by EndWalk; an upload removed meanwhile is not looked at.
    void BeginWalk() { m_walking = true; }
    bool Walking() const { return m_walking; }
    bool Gone(Item* upload) const { return !m_goneInWalk.empty() && m_goneInWalk.count(upload); }
    // Whether an upload changed during the walk is queued now (it may be
    // one the walk has no place for).
    bool Requeued() const;
    // The walk's outcome: the places that it numbered afresh (in their order,
    // with their new numbers) and those it left as they were (in theirs).
    void EndWalk(std::vector<Place> numbered, std::vector<Place> kept);

private:
    // Where the upload is in the queue, or the end.
    std::vector<Place>::iterator Find(ItemPtr upload);

    std::vector<Place> m_places;
    bool m_walking = false;
    std::vector<Item*> m_changedInWalk;
    std::unordered_set<Item*> m_goneInWalk;
};
