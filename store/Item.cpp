#include "Item.h"
#include "SmallBlocks.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>

static_assert(sizeof(quintptr) == 8, "connection entries pack a type number above a 48-bit address");

quintptr ConnectionMap::MakeEntry(const void* p, quint32 ordinal)
{
    quintptr address = reinterpret_cast<quintptr>(p);
    if ((address & ~kAddressBits) || ordinal > 0xFFFF)
        qFatal("item store: address or type number out of range");
    return (quintptr(ordinal) << 48) | address;
}

ConnectionMap::~ConnectionMap()
{
    quintptr* e = Entries();
    for (quint32 k = 0; k < m_size; ++k)
        if (IsGroup(e[k]))
            delete AsGroup(e[k]);
    if (m_cap)
        SmallBlocks::Release(m_many, m_cap * sizeof(quintptr));
}

void ConnectionMap::Range(quint32 ordinal, quint32& first, quint32& last) const
{
    const quintptr* e = Entries();
    if (m_size <= 8) {
        // Few entries: one pass is cheaper than two searches.
        first = 0;
        while (first < m_size && EntryOrdinal(e[first]) < ordinal)
            ++first;
        last = first;
        while (last < m_size && EntryOrdinal(e[last]) == ordinal)
            ++last;
        return;
    }
    quint32 lo = 0, hi = m_size;
    while (lo < hi) {
        quint32 mid = (lo + hi) / 2;
        if (EntryOrdinal(e[mid]) < ordinal)
            lo = mid + 1;
        else
            hi = mid;
    }
    first = lo;
    hi = m_size;
    while (lo < hi) {
        quint32 mid = (lo + hi) / 2;
        if (EntryOrdinal(e[mid]) <= ordinal)
            lo = mid + 1;
        else
            hi = mid;
    }
    last = lo;
}

void ConnectionMap::Reserve(quint32 entries)
{
    if (entries <= 1 || entries <= m_cap)
        return;
    if (m_cap == 0) {
        quintptr one = m_one;
        m_many = static_cast<quintptr*>(SmallBlocks::Allocate(entries * sizeof(quintptr)));
        m_many[0] = one;
    } else {
        m_many = static_cast<quintptr*>(SmallBlocks::Resize(m_many, m_cap * sizeof(quintptr), entries * sizeof(quintptr)));
    }
    m_cap = entries;
}

void ConnectionMap::InsertEntry(quint32 at, quintptr e)
{
    if (m_cap == 0 && m_size == 0) {
        m_one = e;
        m_size = 1;
        return;
    }
    if (m_cap == 0) {
        // Leave inline storage: two entries, exactly.
        quintptr one = m_one;
        quintptr* many = static_cast<quintptr*>(SmallBlocks::Allocate(2 * sizeof(quintptr)));
        many[0] = one;
        m_many = many;
        m_cap = 2;
    }
    if (m_size + 1 > m_cap) {
        // Small maps grow one entry at a time, so that a handful of connections
        // costs what it holds; larger ones grow by half.
        quint32 cap = m_size < 16 ? m_size + 1 : m_size + m_size / 2;
        m_many = static_cast<quintptr*>(SmallBlocks::Resize(m_many, m_cap * sizeof(quintptr), cap * sizeof(quintptr)));
        m_cap = cap;
    }
    std::memmove(m_many + at + 1, m_many + at, (m_size - at) * sizeof(quintptr));
    m_many[at] = e;
    ++m_size;
}

void ConnectionMap::EraseEntries(quint32 at, quint32 count)
{
    if (m_cap == 0) {
        m_one = 0;
        m_size = 0;
        return;
    }
    std::memmove(m_many + at, m_many + at + count, (m_size - at - count) * sizeof(quintptr));
    m_size -= count;
    if (m_size == 0) {
        SmallBlocks::Release(m_many, m_cap * sizeof(quintptr));
        m_cap = 0;
        m_one = 0;
    } else if (m_size == 1) {
        quintptr one = m_many[0];
        SmallBlocks::Release(m_many, m_cap * sizeof(quintptr));
        m_cap = 0;
        m_one = one;
    } else if (m_size < m_cap / 2 && m_cap > 16) {
        m_many = static_cast<quintptr*>(SmallBlocks::Resize(m_many, m_cap * sizeof(quintptr), m_size * sizeof(quintptr)));
        m_cap = m_size;
    }
}

void ConnectionMap::MakeGroup(quint32 first, quint32 last)
{
    quintptr* e = Entries();
    Group* group = new Group { AsItem(e[first])->type, {} };
    group->items.Reserve(last - first);
    for (quint32 k = first; k < last; ++k)
        group->items.AppendNewest(AsItem(e[k]));
    e[first] = MakeEntry(group, group->type->Ordinal()) | 1;
    EraseEntries(first + 1, last - first - 1);
}

// The place of an item within its type's run [first, last) of plain entries:
// where it is, or where it goes to keep creation order.
static quint32 PlaceInRun(const quintptr* e, quint32 first, quint32 last, const Item* item, bool& present)
{
    present = false;
    if (last - first <= 8) {
        for (quint32 k = first; k < last; ++k)
            if ((e[k] & ((quintptr(1) << 48) - 1)) == reinterpret_cast<quintptr>(item)) {
                present = true;
                return k;
            }
    }
    // Usually the newest partner: it goes last, found by reading one partner
    // instead of a search's several.
    if (first == last || reinterpret_cast<const Item*>(e[last - 1] & ((quintptr(1) << 48) - 1))->serial < item->serial)
        return last;
    quint32 lo = first, hi = last;
    while (lo < hi) {
        quint32 mid = (lo + hi) / 2;
        if (reinterpret_cast<const Item*>(e[mid] & ((quintptr(1) << 48) - 1))->serial < item->serial)
            lo = mid + 1;
        else
            hi = mid;
    }
    present = lo < last && (e[lo] & ((quintptr(1) << 48) - 1)) == reinterpret_cast<quintptr>(item);
    return lo;
}

bool ConnectionMap::Insert(Item* item)
{
    quint32 ordinal = item->type->Ordinal();
    quint32 first, last;
    Range(ordinal, first, last);
    quintptr* e = Entries();
    if (first < last && IsGroup(e[first]))
        return AsGroup(e[first])->items.Insert(item);
    bool present;
    quint32 at = PlaceInRun(e, first, last, item, present);
    if (present)
        return false;
    InsertEntry(at, MakeEntry(item, ordinal));
    if (last + 1 - first > kGroupThreshold)
        MakeGroup(first, last + 1);
    return true;
}

bool ConnectionMap::Erase(Item* item)
{
    quint32 first, last;
    Range(item->type->Ordinal(), first, last);
    quintptr* e = Entries();
    if (first < last && IsGroup(e[first])) {
        Group* group = AsGroup(e[first]);
        if (!group->items.Erase(item))
            return false;
        if (group->items.Empty()) {
            delete group;
            EraseEntries(first, 1);
        }
        return true;
    }
    bool present;
    quint32 at = PlaceInRun(e, first, last, item, present);
    if (!present)
        return false;
    EraseEntries(at, 1);
    return true;
}

void ConnectionMap::EraseType(const Type* type)
{
    quint32 first, last;
    Range(type->Ordinal(), first, last);
    if (first == last)
        return;
    if (IsGroup(Entries()[first]))
        delete AsGroup(Entries()[first]);
    EraseEntries(first, last - first);
}

bool ConnectionMap::Contains(const Item* item) const
{
    quint32 first, last;
    Range(item->type->Ordinal(), first, last);
    const quintptr* e = Entries();
    if (first < last && IsGroup(e[first]))
        return AsGroup(e[first])->items.Contains(item);
    bool present;
    PlaceInRun(e, first, last, item, present);
    return present;
}

Item* ConnectionMap::First(const Type* type) const
{
    quint32 first, last;
    Range(type->Ordinal(), first, last);
    if (first == last)
        return nullptr;
    quintptr e = Entries()[first];
    return IsGroup(e) ? AsGroup(e)->items.First() : AsItem(e);
}

size_t ConnectionMap::Count(const Type* type) const
{
    quint32 first, last;
    Range(type->Ordinal(), first, last);
    if (first < last && IsGroup(Entries()[first]))
        return AsGroup(Entries()[first])->items.Size();
    return last - first;
}

const ChunkedSet* ConnectionMap::GroupOf(const Type* type) const
{
    quint32 first, last;
    Range(type->Ordinal(), first, last);
    if (first < last && IsGroup(Entries()[first]))
        return &AsGroup(Entries()[first])->items;
    return nullptr;
}

void ConnectionMap::PrefetchInsert(const Type* type, int level) const
{
    const quintptr* e = Entries();
    if (level == 0) {
        if (m_cap) {
            __builtin_prefetch(e);
            __builtin_prefetch(e + m_size - 1);
        }
        return;
    }
    quint32 first, last;
    Range(type->Ordinal(), first, last);
    if (first == last)
        return;
    if (!IsGroup(e[first])) {
        if (level == 1)
            __builtin_prefetch(AsItem(e[last - 1])); // its creation number is compared
        return;
    }
    const Group* group = AsGroup(e[first]);
    if (level == 1)
        __builtin_prefetch(&group->items);
    else
        group->items.PrefetchTail(level - 2);
}

size_t ConnectionMap::MemoryBytes() const
{
    size_t bytes = m_cap * sizeof(quintptr);
    const quintptr* e = Entries();
    for (quint32 k = 0; k < m_size; ++k)
        if (IsGroup(e[k]))
            bytes += sizeof(Group) + AsGroup(e[k])->items.MemoryBytes();
    return bytes;
}
