#pragma once
// The item record of the store and the map of its connections.
#include "ChunkedSet.h"
#include "ItemText.h"
#include <QtGlobal>
#include <string>

class Type;

// The connections of one item, sorted by (type number, creation number).
//
// Each entry is one word: the partner's type number in the top 16 bits and
// either the partner's address or (low bit set) the address of a Group holding
// all partners of one type once that type has more than kGroupThreshold of them.
// Finding a type's run reads only the entries, never the partners. With one
// connection the entry sits inline. So an ordinary connection costs 8 bytes at
// each end, and an item with a million partners of one type still inserts and
// removes in chunk time.
class ConnectionMap {
public:
    static constexpr quint32 kGroupThreshold = 24;

    struct Group {
        Type* type;
        ChunkedSet items;
    };

    ConnectionMap() = default;
    ~ConnectionMap();
    ConnectionMap(const ConnectionMap&) = delete;
    ConnectionMap& operator=(const ConnectionMap&) = delete;

    bool Insert(Item* item); // false when already connected
    // Makes room for this many entries (a loader that knows the degree).
    void Reserve(quint32 entries);
    bool Erase(Item* item); // false when not connected
    // Drops every partner of the type at once (this side only).
    void EraseType(const Type* type);
    bool Contains(const Item* item) const;
    Item* First(const Type* type) const;
    size_t Count(const Type* type) const;
    bool Empty() const { return m_size == 0; }
    quint32 EntryCount() const { return m_size; }
    const void* RawEntries() const { return Entries(); }
    // Fetches ahead what inserting a partner of the type will read, one level
    // of the chain per call: 0 the entries, 1 the type's group (or its newest
    // partner), 2 and 3 the group's last chunk. Each level reads what the one
    // before fetched, so the calls for one insertion go some steps apart.
    void PrefetchInsert(const Type* type, int level) const;

    // Calls f(Item*) for every partner of the type, in creation order.
    template <class F> void ForEachOfType(const Type* type, F&& f) const;
    // Calls f(Item*) for every partner.
    template <class F> void ForEach(F&& f) const;
    // The partners of one type when they are held in a group, else null.
    const ChunkedSet* GroupOf(const Type* type) const;

    size_t MemoryBytes() const;

private:
    static constexpr quintptr kAddressBits = (quintptr(1) << 48) - 1;
    static bool IsGroup(quintptr e) { return e & 1; }
    static Group* AsGroup(quintptr e) { return reinterpret_cast<Group*>(e & kAddressBits & ~quintptr(1)); }
    static Item* AsItem(quintptr e) { return reinterpret_cast<Item*>(e & kAddressBits); }
    static quint32 EntryOrdinal(quintptr e) { return quint32(e >> 48); }
    static quintptr MakeEntry(const void* p, quint32 ordinal);

    quintptr* Entries() { return m_cap ? m_many : &m_one; }
    const quintptr* Entries() const { return m_cap ? m_many : &m_one; }
    // [first, last) of the entries of a type.
    void Range(quint32 ordinal, quint32& first, quint32& last) const;
    void InsertEntry(quint32 at, quintptr e);
    void EraseEntries(quint32 at, quint32 count);
    void MakeGroup(quint32 first, quint32 last);

    union {
        quintptr m_one = 0;
        quintptr* m_many;
    };
    quint32 m_size = 0;
    quint32 m_cap = 0; // 0: the single entry (if any) is inline
};

struct Item {
    Item(Type* itemType, quint64 itemSerial, ItemText text)
        : type(itemType)
        , serial(itemSerial)
        , value(std::move(text))
    {
    }

    Type* type;
    quint64 serial;
    ItemText value;
    ConnectionMap connections;
    quint32 mark : 31 = 0; // the sweep's reachability epoch
    quint32 removing : 1 = 0;
    quint32 saveIndex = 0; // 1 + the item's place in the data file, while saving
};
// Eight bytes less than a cache line: a million shared files hold over two
// million items.
static_assert(sizeof(Item) == 56, "items stay small");

#include "Type.h"


// Calls f for the partner an entry holds, or for every partner of its group.
template <class F> inline void VisitEntry(quintptr e, F& f)
{
    if (e & 1) {
        const ChunkedSet& set = reinterpret_cast<ConnectionMap::Group*>(e & ((quintptr(1) << 48) - 1) & ~quintptr(1))->items;
        for (ChunkedSet::Position p; set.Valid(p); set.Advance(p))
            f(set.At(p));
    } else {
        f(reinterpret_cast<Item*>(e & ((quintptr(1) << 48) - 1)));
    }
}

template <class F> void ConnectionMap::ForEachOfType(const Type* type, F&& f) const
{
    quint32 first, last;
    Range(type->Ordinal(), first, last);
    const quintptr* e = Entries();
    for (quint32 k = first; k < last; ++k)
        VisitEntry(e[k], f);
}

template <class F> void ConnectionMap::ForEach(F&& f) const
{
    const quintptr* e = Entries();
    for (quint32 k = 0; k < m_size; ++k)
        VisitEntry(e[k], f);
}
