#pragma once
// An ordered set of item pointers, ordered by the items' creation numbers.
//
// Storage is a list of sorted chunks of at most kMaxChunk pointers: lookups are
// two binary searches, insertion and removal move at most one chunk, and the
// usual case (appending a newer item) touches only the last chunk. Each chunk
// keeps its newest member's creation number, so finding the chunk of an item
// and appending never read a member item. Chunks grow by about a quarter, so a
// set's slack stays small; a set of one chunk holds it inline, without a list
// of chunks. Memory is a little over 8 bytes per member.
#include <QtGlobal>
#include <cstddef>

struct Item;

class ChunkedSet {
public:
    static constexpr size_t kMaxChunk = 512;

    ChunkedSet() = default;
    ChunkedSet(const ChunkedSet& other);
    ChunkedSet(ChunkedSet&& other) noexcept;
    ChunkedSet& operator=(const ChunkedSet& other);
    ChunkedSet& operator=(ChunkedSet&& other) noexcept;
    ~ChunkedSet();

    size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    bool Insert(Item* item); // false when already a member
    bool Erase(Item* item); // false when not a member
    bool Contains(const Item* item) const;
    Item* First() const { return m_size ? Chunks()[0].items[0] : nullptr; }
    void Clear();
    // Makes room for this many members (up to one chunk) while the set has at
    // most one chunk, e.g. before appending a known number of members.
    void Reserve(size_t members);

    // Appends an item known to be newer than every member (bulk building).
    void AppendNewest(Item* item);

    struct Position {
        size_t chunk = 0;
        size_t index = 0;
    };
    Item* At(const Position& p) const { return Chunks()[p.chunk].items[p.index]; }
    bool Valid(const Position& p) const { return p.chunk < ChunkCount(); }
    void Advance(Position& p) const
    {
        if (++p.index >= Chunks()[p.chunk].size) {
            ++p.chunk;
            p.index = 0;
        }
    }
    // The position of the first member newer than the creation number (not
    // Valid when there is none).
    Position After(quint64 serial) const;
    size_t MemoryBytes() const;
    // Fetches ahead where the next member will be appended: level 0 the last
    // chunk's record (or its tail, when the set has one chunk), level 1 the
    // tail of its members.
    void PrefetchTail(int level) const;

private:
    struct Chunk {
        Item** items = nullptr;
        quint32 size = 0;
        quint32 cap = 0;
        quint64 last = 0; // the creation number of the newest member
    };
    struct ChunkList {
        Chunk* chunks;
        quint32 count;
        quint32 cap;
        quint64 unused;
    };

    Chunk* Chunks() { return m_spilled ? m_list.chunks : &m_one; }
    const Chunk* Chunks() const { return m_spilled ? m_list.chunks : &m_one; }
    size_t ChunkCount() const { return m_spilled ? m_list.count : (m_one.size ? 1 : 0); }
    size_t FindChunk(quint64 serial) const;
    static void GrowChunk(Chunk& chunk, quint32 atLeast);
    static void ShrinkChunk(Chunk& chunk);
    // Inserts an empty chunk at the place in the list; returns it.
    Chunk& InsertChunk(size_t at);
    void RemoveChunk(size_t at);
    Chunk& LastChunkWithRoom();
    void FreeAll();
    // Moves the other set's members here and leaves it empty; this set holds none.
    void TakeFrom(ChunkedSet& other) noexcept;

    union {
        Chunk m_one {};
        ChunkList m_list;
    };
    quint32 m_size = 0;
    bool m_spilled = false;
};
