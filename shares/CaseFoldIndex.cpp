#include "CaseFoldIndex.h"
#include "store/GeneralFunctions.h"
#include "store/Item.h"
#include "store/ToQString.h"
#include "store/ValueIndex.h"
#include <algorithm>

std::string CaseFoldIndex::Key(std::string_view text)
{
    // Plain ASCII (most names) without the round trip through QString.
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return GetAbsoluteFileName(ToQString(std::string(text))).toUtf8().toStdString();
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    if (!lower.empty() && (lower.back() == '/' || lower.back() == '\\'))
        lower.pop_back();
    return lower;
}

quint64 CaseFoldIndex::HashOfItem(const Item* item)
{
    return ValueIndex::Hash(Key(std::string_view(item->value)));
}

quintptr CaseFoldIndex::Slot(const Item* item, quint64 hash)
{
    // The tag is never 0, so that no slot of an item reads as empty or as a
    // tombstone whatever the address.
    const quintptr tag = quintptr(hash >> kTagShift) | 1;
    return (tag << kTagShift) | reinterpret_cast<quintptr>(item);
}

void CaseFoldIndex::Insert(Item* item)
{
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        Grow(m_count + 1);
    const quint64 hash = HashOfItem(item);
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
        if (m_slots[i] == 0 || m_slots[i] == kTombstone) {
            if (m_slots[i] == 0)
                ++m_used;
            m_slots[i] = Slot(item, hash);
            m_hashes[i] = quint32(hash);
            ++m_count;
            return;
        }
        if (ItemOf(m_slots[i]) == item)
            return;
    }
}

void CaseFoldIndex::Erase(Item* item)
{
    if (m_slots.empty())
        return;
    const quint64 hash = HashOfItem(item);
    for (size_t i = hash & Mask(); m_slots[i] != 0; i = (i + 1) & Mask()) {
        if (m_slots[i] != kTombstone && ItemOf(m_slots[i]) == item) {
            m_slots[i] = kTombstone;
            --m_count;
            return;
        }
    }
}

std::vector<Item*> CaseFoldIndex::Find(std::string_view key) const
{
    std::vector<Item*> items;
    if (m_slots.empty())
        return items;
    const quint64 hash = ValueIndex::Hash(key);
    const quintptr tag = quintptr(hash >> kTagShift) | 1;
    for (size_t i = hash & Mask(); m_slots[i] != 0; i = (i + 1) & Mask()) {
        const quintptr slot = m_slots[i];
        if (slot == kTombstone || (slot >> kTagShift) != tag)
            continue;
        Item* item = ItemOf(slot);
        if (Key(std::string_view(item->value)) == key)
            items.push_back(item);
    }
    return items;
}

void CaseFoldIndex::Reserve(size_t more)
{
    if ((m_used + more) * 4 > m_slots.size() * 3)
        Grow(m_count + more);
}

void CaseFoldIndex::Grow(size_t items)
{

    size_t size = 16;
    while (size * 3 < items * 4 + 4 || size < m_count * 2)
        size *= 2;
    std::vector<quintptr> old;
    std::vector<quint32> oldHashes;
    old.swap(m_slots);
    oldHashes.swap(m_hashes);
    m_slots.assign(size, 0);
    m_hashes.assign(size, 0);
    m_used = m_count;
    for (size_t k = 0; k < old.size(); ++k) {
        const quintptr slot = old[k];
        if (slot == 0 || slot == kTombstone)
            continue;
        size_t i = oldHashes[k] & Mask();
        while (m_slots[i] != 0)
            i = (i + 1) & Mask();
        m_slots[i] = slot;
        m_hashes[i] = oldHashes[k];
    }
}
