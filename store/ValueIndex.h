#pragma once
// A type's index from value to item: open addressing with linear probing over
// one flat array of 8-byte slots. A slot holds the item's address in its low
// 48 bits and 16 bits of the value's hash above it, so a lookup touches one
// slot line and reads an item's text only on a tag match. Erased slots become
// tombstones until the next rebuild; the table grows past 70% use. Growing
// moves the items to the larger table a few at a time, with each later
// change, so that no single call rehashes a million values: until all have
// moved, lookups read both tables.
#include <QtGlobal>
#include <string_view>
#include <vector>

struct Item;

class ValueIndex {
public:
    static quint64 Hash(std::string_view text);

    Item* Find(std::string_view text) const;
    // The same with the text's hash known.
    Item* Find(std::string_view text, quint64 hash) const;
    // Adds the item unless another item with the same value is indexed
    // already; returns whether it was added.
    bool Insert(Item* item);
    // The same with the hash of the item's value known.
    bool Insert(Item* item, quint64 hash);
    // Starts loading the slot where a value of this hash goes, for an insert
    // or lookup a little later (bulk building hides the cache misses so).
    void Prefetch(quint64 hash) const
    {
        if (!m_slots.empty())
            __builtin_prefetch(&m_slots[hash & Mask()], 1);
    }
    // Removes the item if it is the indexed one for its value.
    bool Erase(Item* item);
    size_t Size() const { return m_count; }
    // Makes room for this many more items without growing on the way.
    void Reserve(size_t more);
    size_t MemoryBytes() const { return (m_slots.capacity() + m_old.capacity()) * sizeof(quint64); }

private:
    // 0 is an empty slot; no item lives at address 1.
    static constexpr quint64 kTombstone = 1;
    static constexpr quint64 kAddressBits = (quint64(1) << 48) - 1;
    static quint64 MakeSlot(const Item* item, quint64 hash);
    static Item* SlotItem(quint64 slot) { return reinterpret_cast<Item*>(slot & kAddressBits); }
    static bool TagMatches(quint64 slot, quint64 hash) { return (slot ^ hash) >> 48 == 0; }
    // Whether holding this many items and tombstones needs a larger table.
    bool Crowded(size_t used) const { return used * 10 > m_slots.size() * 7; }
    void Grow(size_t expected);
    size_t Mask() const { return m_slots.size() - 1; }
    // Places an item known to be absent (no tombstone reuse).
    void Place(quint64 slot, quint64 hash);
    // Moves the next few items of the old table; all of them when `all`.
    void Migrate(bool all);
    // The old table's slot of the item with this text, or null.
    quint64* FindOld(std::string_view text, quint64 hash);

    std::vector<quint64> m_slots;
    size_t m_count = 0; // items in both tables
    size_t m_used = 0; // items and tombstones of m_slots
    // The table before the last growth, while its items move over.
    std::vector<quint64> m_old;
    size_t m_oldAt = 0;
    size_t m_oldCount = 0;
};
