#pragma once
// Items by the lower-case form of their text, for lookups that ignore letter
// case (a peer asking for "a.MP3" gets "A.mp3"). The key of a text is what
// GetAbsoluteFileName makes of it: QString::toLower, one trailing "/" or "\"
// removed.
//
// One 8-byte slot per item (its address, and 16 bits of the key's hash on
// top), open addressing: a million file names cost 8 to 16 bytes each, where
// an item per lower-case name would cost well over a hundred. Items whose
// keys are equal ("Cover.jpg", "cover.jpg") each have their slot.
#include <QtGlobal>
#include <string>
#include <string_view>
#include <vector>

struct Item;

class CaseFoldIndex {
public:
    static std::string Key(std::string_view utf8);

    void Insert(Item* item);
    void Erase(Item* item);
    // The items whose key is the given key (already lower case).
    std::vector<Item*> Find(std::string_view key) const;
    // Room for this many more items without growing on the way.
    void Reserve(size_t more);
    size_t Size() const { return m_count; }

private:
    static constexpr quintptr kTombstone = 1;
    static constexpr int kTagShift = 48;
    static quint64 HashOfItem(const Item* item);
    static quintptr Slot(const Item* item, quint64 hash);
    static Item* ItemOf(quintptr slot) { return reinterpret_cast<Item*>(slot & ((quintptr(1) << kTagShift) - 1)); }
    void Grow(size_t items);
    size_t Mask() const { return m_slots.size() - 1; }

    std::vector<quintptr> m_slots;
    size_t m_count = 0;
    size_t m_used = 0; // items and tombstones
};
