#pragma once
// An ordered set of items (by creation number) with set algebra, connection
// filters and sorts. One member is held inline; a chunked set from the second on.
#include "ChunkedSet.h"
#include "ItemPtr.h"
#include <vector>

typedef std::vector<ItemPtr> ItemList;

class ItemSet {
public:
    ItemSet() = default;
    ItemSet(ItemPtr item) { Insert(item); }
    ItemSet(const ItemSet& other);
    ItemSet(ItemSet&& other) noexcept
        : m_word(other.m_word)
    {
        other.m_word = 0;
    }
    ItemSet& operator=(const ItemSet& other);
    ItemSet& operator=(ItemSet&& other) noexcept;
    ~ItemSet();

    class Iterator {
    public:
        bool operator!=(const Iterator& o) const
        {
            return m_set != o.m_set || m_single != o.m_single || m_pos.chunk != o.m_pos.chunk || m_pos.index != o.m_pos.index;
        }
        bool operator==(const Iterator& o) const { return !(*this != o); }
        ItemPtr operator*() const { return Item(); }
        ItemPtr Item() const { return m_set ? ItemPtr(m_set->At(m_pos)) : ItemPtr(m_single); }
        Iterator& operator++()
        {
            if (m_set) {
                m_set->Advance(m_pos);
                if (!m_set->Valid(m_pos)) {
                    m_set = nullptr;
                    m_pos = {};
                }
            } else {
                m_single = nullptr;
            }
            return *this;
        }

    private:
        friend class ItemSet;
        const ChunkedSet* m_set = nullptr;
        ::Item* m_single = nullptr;
        ChunkedSet::Position m_pos;
    };
    Iterator Begin() const;
    Iterator End() const { return Iterator(); }
    Iterator begin() const { return Begin(); }
    Iterator end() const { return End(); }

    size_t Size() const;
    bool Empty() const { return m_word == 0; }
    bool Insert(ItemPtr item);
    bool Erase(ItemPtr item);
    bool Contains(ItemPtr item) const;
    void Clear();
    ItemPtr First() const;
    operator ItemPtr() const { return First(); }

    // Set algebra, in place.
    ItemSet& Add(const ItemSet& other);
    ItemSet& Intersect(const ItemSet& other);

    // The union of the members' connected items of a type.
    ItemSet GetItems(const char* type) const;
    // Members connected to the item / to at least one member of the set.
    ItemSet Connected(ItemPtr item) const;
    ItemSet Connected(const ItemSet& items) const;
    // Members connected to any item of the type / to the item of the type with the value.
    ItemSet Connected(const char* type) const;
    ItemSet Connected(const char* type, const Value& value) const;
    ItemSet NotConnected(const char* type) const;
    ItemSet NotConnected(ItemPtr item) const;
    ItemSet NotConnected(const char* type, const Value& value) const;
    // Disconnects every member from every item of the type.
    void Disconnect(const char* type) const;
    // Removes every member from the store.
    void Remove() const;

    // Members by their own value as display text, case-sensitive; stable.
    ItemList SortAlphabetic(bool ascending) const;
    // Members by the display text of their connected item of a type; members
    // without one are left out.
    ItemList SortAlphabeticBy(const char* type, bool ascending, bool caseSensitive = true) const;
    // Members by the 64-bit number of their connected item of a type; members
    // without one are left out.
    ItemList SortNumericBy(const char* type, bool ascending) const;
    ItemList ToList() const;

    // Builds a set from items already in creation order (no checks).
    static ItemSet FromOrdered(const ChunkedSet& set);

private:
    bool IsSingle() const { return m_word && !(m_word & 1); }
    ChunkedSet* Set() const { return reinterpret_cast<ChunkedSet*>(m_word & ~quintptr(1)); }
    ::Item* Single() const { return reinterpret_cast<::Item*>(m_word); }
    template <class Pred> ItemSet Filter(Pred pred) const;

    quintptr m_word = 0; // 0 empty; an Item*; or a ChunkedSet* with the low bit set
};
