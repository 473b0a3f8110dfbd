#pragma once
// A set of store items that forgets each member the moment the store removes
// it. Whatever holds entries across a menu, a queued call or a loop that
// removes others keeps them in one, so it never reaches an item that is gone
// (nor a newer item that took the same address).
#include "store/Data.h"

class LiveItemSet : public DataHandler {
public:
    // Members must be items of the named type.
    explicit LiveItemSet(const char* type, const ItemSet& items = ItemSet());
    LiveItemSet(const LiveItemSet&) = delete;
    LiveItemSet& operator=(const LiveItemSet&) = delete;

    void Insert(ItemPtr item) { m_items.Insert(item); }
    bool Erase(ItemPtr item) { return m_items.Erase(item); }
    // Only for items known to be alive (a member is).
    bool Contains(ItemPtr item) const { return m_items.Contains(item); }
    bool Empty() const { return m_items.Empty(); }
    size_t Size() const { return m_items.Size(); }
    const ItemSet& Items() const { return m_items; }
    // Takes the first member out, or a null handle when none is left: a loop
    // over TakeFirst reaches each live member once, whatever its body removes.
    ItemPtr TakeFirst();

private:
    void OnRemoved(ItemPtr item);

    ItemSet m_items;
};
