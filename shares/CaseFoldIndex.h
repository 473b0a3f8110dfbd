#pragma once
// Items by the lower-case form of their text, for lookups that ignore letter
// case (a peer asking for "a.MP3" gets "A.mp3"). The key of a text is what
// GetAbsoluteFileName makes of it: QString::toLower, one trailing "/" or "\"
// removed.
//
// One 8-byte slot per item (its address, and 16 bits of the key's hash on
// top), open addressing: a million paths cost 12 to 24 bytes each, with the
// hashes below, where an item per lower-case path would cost well over a
// hundred. Items whose
// keys are equal ("Cover.jpg", "cover.jpg") each have their slot. The low 32
// bits of each slot's hash are kept beside it, so that growing moves slots
// without lower-casing and hashing every text again (a growth at a hundred
// thousand folders took over 100 ms that way).
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
    std::vector<quint32> m_hashes; // the low bits of each slot's hash
    size_t m_count = 0;
    size_t m_used = 0; // items and tombstones
};
