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

Item* ValueIndex::Find(std::string_view text) const
{
    if (m_slots.empty())
        return nullptr;
    quint64 h = Hash(text);
    for (size_t i = h & Mask();; i = (i + 1) & Mask()) {
        const Slot& s = m_slots[i];
        if (!s.item)
            return nullptr;
        if (s.hash == h && s.item != Tombstone() && std::string_view(s.item->value) == text)
            return s.item;
    }
}

bool ValueIndex::Insert(Item* item)
{
    if ((m_used + 1) * 2 > m_slots.size())
        Grow(0);
    quint64 h = Hash(item->value);
    size_t free = size_t(-1);
    for (size_t i = h & Mask();; i = (i + 1) & Mask()) {
        Slot& s = m_slots[i];
        if (!s.item) {
            if (free == size_t(-1)) {
                free = i;
                ++m_used;
            }
            break;
        }
        if (s.item == Tombstone()) {
            if (free == size_t(-1))
                free = i;
            continue;
        }
        if (s.hash == h && s.item->value == item->value)
            return false;
    }
    m_slots[free] = { h, item };
    ++m_count;
    return true;
}

bool ValueIndex::Erase(Item* item)
{
    if (m_slots.empty())
        return false;
    quint64 h = Hash(item->value);
    for (size_t i = h & Mask();; i = (i + 1) & Mask()) {
        Slot& s = m_slots[i];
        if (!s.item)
            return false;
        if (s.item == item) {
            s.item = Tombstone();
            --m_count;
            return true;
        }
    }
}

void ValueIndex::Reserve(size_t more)
{
    if ((m_used + more) * 2 > m_slots.size())
        Grow(m_count + more);
}

void ValueIndex::Grow(size_t expected)
{
    size_t size = 16;
    while (size < std::max(expected * 2 + 2, (m_count + 1) * 4))
        size *= 2;
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(size, Slot());
    m_used = m_count;
    for (const Slot& s : old) {
        if (!s.item || s.item == Tombstone())
            continue;
        for (size_t i = s.hash & Mask();; i = (i + 1) & Mask()) {
            if (!m_slots[i].item) {
                m_slots[i] = s;
                break;
            }
        }
    }
}
