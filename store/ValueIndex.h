#pragma once
// A type's index from value to item: open addressing over one flat array of
// (hash, item) slots, so a lookup touches one slot line and, on a hash match,
// the item's text. Erased slots become tombstones until the next rebuild.
#include <QtGlobal>
#include <string_view>
#include <vector>

struct Item;

class ValueIndex {
public:
    static quint64 Hash(std::string_view text);

    Item* Find(std::string_view text) const;
    // Adds the item unless another item with the same value is indexed
    // already; returns whether it was added.
    bool Insert(Item* item);
    // Removes the item if it is the indexed one for its value.
    bool Erase(Item* item);
    size_t Size() const { return m_count; }
    // Makes room for this many more items without growing on the way.
    void Reserve(size_t more);

private:
    struct Slot {
        quint64 hash = 0;
        Item* item = nullptr;
    };
    static Item* Tombstone() { return reinterpret_cast<Item*>(quintptr(1)); }
    void Grow(size_t expected);
    size_t Mask() const { return m_slots.size() - 1; }

    std::vector<Slot> m_slots;
    size_t m_count = 0;
    size_t m_used = 0; // items and tombstones
};
