#pragma once
// An ordered set of item pointers, ordered by the items' creation numbers.
//
// Storage is a list of sorted chunks of at most kMaxChunk pointers: lookups are
// two binary searches, insertion and removal move at most one chunk, and the
// usual case (appending a newer item) touches only the last chunk. Memory is
// about 8 bytes per member, so a set of a million members stays compact.
#include <QtGlobal>
#include <vector>

struct Item;

class ChunkedSet {
public:
    static constexpr size_t kMaxChunk = 512;

    ChunkedSet() = default;

    size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    bool Insert(Item* item); // false when already a member
    bool Erase(Item* item); // false when not a member
    bool Contains(const Item* item) const;
    Item* First() const { return m_size ? m_chunks.front().front() : nullptr; }
    void Clear()
    {
        m_chunks.clear();
        m_size = 0;
    }
    void Reserve(size_t) { }

    // Appends an item known to be newer than every member (bulk building).
    void AppendNewest(Item* item);

    struct Position {
        size_t chunk = 0;
        size_t index = 0;
    };
    Item* At(const Position& p) const { return m_chunks[p.chunk][p.index]; }
    bool Valid(const Position& p) const { return p.chunk < m_chunks.size(); }
    void Advance(Position& p) const
    {
        if (++p.index >= m_chunks[p.chunk].size()) {
            ++p.chunk;
            p.index = 0;
        }
    }
    size_t MemoryBytes() const;

private:
    size_t FindChunk(const Item* item) const;

    std::vector<std::vector<Item*>> m_chunks;
    size_t m_size = 0;
};
