#include "ValueIndex.h"
#include "Item.h"
#include <algorithm>
#include <cstring>

quint64 ValueIndex::Hash(std::string_view text)
{
    // FNV-1a over 8-byte words, then a final mix: quick for short names and numbers.
    quint64 h = 0xcbf29ce484222325ULL ^ text.size();
    const char* p = text.data();
    size_t n = text.size();
    while (n >= 8) {
        quint64 w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0x100000001b3ULL;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    quint64 tail = 0;
    std::memcpy(&tail, p, n);
    h = (h ^ tail) * 0x100000001b3ULL;
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return h;
}

quint64 ValueIndex::MakeSlot(const Item* item, quint64 hash)
{
    quint64 address = quint64(reinterpret_cast<quintptr>(item));
    if (address & ~kAddressBits)
        qFatal("item store: item address out of range");
    return (hash & ~kAddressBits) | address;
}

Item* ValueIndex::Find(std::string_view text) const
{
    return m_slots.empty() ? nullptr : Find(text, Hash(text));
}

Item* ValueIndex::Find(std::string_view text, quint64 h) const
{
    if (m_slots.empty())
        return nullptr;
    for (size_t i = h & Mask();; i = (i + 1) & Mask()) {
        const quint64 s = m_slots[i];
        if (!s)
            break;
        if (TagMatches(s, h) && s != kTombstone && std::string_view(SlotItem(s)->value) == text)
            return SlotItem(s);
    }
    if (!m_oldCount)
        return nullptr;
    const quint64* old = const_cast<ValueIndex*>(this)->FindOld(text, h);
    return old ? SlotItem(*old) : nullptr;
}

quint64* ValueIndex::FindOld(std::string_view text, quint64 hash)
{
    if (!m_oldCount)
        return nullptr;
    const size_t mask = m_old.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        quint64& s = m_old[i];
        if (!s)
            return nullptr;
        if (TagMatches(s, hash) && s != kTombstone && std::string_view(SlotItem(s)->value) == text)
            return &s;
    }
}

bool ValueIndex::Insert(Item* item) { return Insert(item, Hash(item->value)); }

bool ValueIndex::Insert(Item* item, quint64 h)
{
    Migrate(false);
    if (Crowded(m_used + m_oldCount + 1))
        Grow(0);
    const std::string_view text(item->value);
    size_t free = size_t(-1);
    for (size_t i = h & Mask();; i = (i + 1) & Mask()) {
        const quint64 s = m_slots[i];
        if (!s) {
            if (free == size_t(-1)) {
                free = i;
                ++m_used;
            }
            break;
        }
        if (s == kTombstone) {
            if (free == size_t(-1))
                free = i;
            continue;
        }
        if (TagMatches(s, h) && std::string_view(SlotItem(s)->value) == text)
            return false;
    }
    if (FindOld(text, h)) {
        if (!m_slots[free])
            --m_used;
        return false;
    }
    m_slots[free] = MakeSlot(item, h);
    ++m_count;
    return true;
}

bool ValueIndex::Erase(Item* item)
{
    if (m_slots.empty())
        return false;
    Migrate(false);
    const quint64 h = Hash(item->value);
    const quint64 wanted = MakeSlot(item, h);
    for (size_t i = h & Mask();; i = (i + 1) & Mask()) {
        quint64& s = m_slots[i];
        if (!s)
            break;
        if (s == wanted) {
            s = kTombstone;
            --m_count;
            return true;
        }
    }
    quint64* old = FindOld(item->value, h);
    if (!old || *old != wanted)
        return false;
    *old = kTombstone;
    --m_oldCount;
    --m_count;
    return true;
}

void ValueIndex::Reserve(size_t more)
{
    if (Crowded(m_used + m_oldCount + more))
        Grow(m_count + more);
}

void ValueIndex::Grow(size_t expected)
{
    // A growth before the last one has finished moving completes it first.
    Migrate(true);
    // Room for the expected items below the crowding limit, and at least
    // twice the items held, so that growing stays amortized constant time.
    const size_t need = std::max(expected * 10 / 7 + 1, (m_count + 1) * 2);
    size_t size = 16;
    while (size < need)
        size *= 2;
    m_old.swap(m_slots);
    m_slots.assign(size, 0);
    m_used = 0;
    m_oldAt = 0;
    m_oldCount = m_count;
    // A small table moves at once.
    if (m_old.size() <= 4096)
        Migrate(true);
}

void ValueIndex::Place(quint64 slot, quint64 hash)
{
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
        if (!m_slots[i]) {
            m_slots[i] = slot;
            ++m_used;
            return;
        }
    }
}

void ValueIndex::Migrate(bool all)
{
    if (m_old.empty())
        return;
    // Each change moves 64 old slots: the old table is gone long before the
    // new one fills, since it is at least twice as large.
    constexpr size_t kBatch = 64;
    // Each item's text is read to place it: the items are fetched from
    // memory 16 slots ahead and their texts 8 slots ahead (by then the item
    // that points at the text has come), and the batch's new slots before
    // any is written, instead of waiting on each in turn.
    constexpr size_t kItemsAhead = 16, kTextsAhead = 8;
    auto item = [this](size_t at) {
        return at < m_old.size() && m_old[at] > kTombstone ? SlotItem(m_old[at]) : nullptr;
    };
    for (size_t k = m_oldAt; k < m_oldAt + kItemsAhead; ++k) {
        if (const Item* ahead = item(k))
            __builtin_prefetch(ahead);
    }
    for (size_t k = m_oldAt; k < m_oldAt + kTextsAhead; ++k) {
        if (const Item* ahead = item(k))
            __builtin_prefetch(ahead->value.data());
    }
    do {
        const size_t end = std::min(m_old.size(), m_oldAt + kBatch);
        quint64 moving[kBatch], hashes[kBatch];
        size_t n = 0;
        for (; m_oldAt < end; ++m_oldAt) {
            if (const Item* ahead = item(m_oldAt + kItemsAhead))
                __builtin_prefetch(ahead);
            if (const Item* ahead = item(m_oldAt + kTextsAhead))
                __builtin_prefetch(ahead->value.data());
            quint64& s = m_old[m_oldAt];
            if (!s || s == kTombstone)
                continue;
            // Only 16 bits of the hash are kept: the place comes from the text.
            moving[n] = s;
            hashes[n] = Hash(SlotItem(s)->value);
            __builtin_prefetch(&m_slots[hashes[n] & Mask()], 1);
            ++n;
            // A tombstone, not a free slot: lookups in the old table still
            // probe past it.
            s = kTombstone;
            --m_oldCount;
        }
        for (size_t k = 0; k < n; ++k)
            Place(moving[k], hashes[k]);
    } while (all && m_oldAt < m_old.size());
    if (m_oldAt == m_old.size()) {
        std::vector<quint64>().swap(m_old);
        m_oldAt = 0;
        m_oldCount = 0;
    }
}
