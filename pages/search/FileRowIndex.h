#pragma once
// The row of each file a results tab shows, by three addresses (the folder row
// and name item, or the user, folder and name items of the flat list). A tab
// of a hundred thousand rows would have one table copy all its entries at
// once when it grows, for several milliseconds; the rows are spread over many
// small tables instead, each of which grows by itself.
#include <QHashFunctions>
#include <array>
#include <unordered_map>

class QTreeWidgetItem;

class FileRowIndex {
public:
    // The row of the file, null until one is set here.
    QTreeWidgetItem*& Slot(const void* a, const void* b, const void* c)
    {
        const Key key{ a, b, c };
        const size_t hash = KeyHash()(key);
        return m_parts[hash % kParts][key];
    }

    bool Empty() const
    {
        for (const auto& part : m_parts)
            if (!part.empty())
                return false;
        return true;
    }

    // Forgets up to count rows.
    void Forget(size_t count)
    {
        for (auto& part : m_parts) {
            while (!part.empty() && count > 0) {
                part.erase(part.begin());
                --count;
            }
        }
    }

private:
    static constexpr size_t kParts = 64;
    struct Key {
        const void* a;
        const void* b;
        const void* c;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& key) const noexcept { return qHashMulti(0, key.a, key.b, key.c); }
    };
    std::array<std::unordered_map<Key, QTreeWidgetItem*, KeyHash>, kParts> m_parts;
};
