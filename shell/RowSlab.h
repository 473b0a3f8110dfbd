#pragma once
// Rows of the big trees and lists live side by side in blocks of their own
// rather than among the texts and values made with them. A tree view lays
// out every open row again on each change and reads each row as it goes;
// rows strewn over the heap cost a cache and a page-table miss each, rows
// side by side share them. A block goes back to the system when its last row
// is gone (all but one spare). Rows are made and deleted on the window's
// thread only.
#include <cstddef>

class RowSlab {
public:
    explicit RowSlab(std::size_t slotSize);
    RowSlab(const RowSlab&) = delete;
    RowSlab& operator=(const RowSlab&) = delete;
    ~RowSlab();

    // A slot for an object of `size` bytes: from a block when it is the
    // slab's size, else from the heap.
    void* Allocate(std::size_t size);
    // Gives back what Allocate gave for `size`.
    void Release(void* p, std::size_t size);

    // Blocks held now.
    int Blocks() const { return m_blocks; }

private:
    struct Block;

    Block* NewBlock();
    void Unlink(Block* block);
    void PushOpen(Block* block);

    std::size_t m_slot;
    int m_capacity;
    int m_blocks = 0;
    // Blocks with a free slot; new rows go to the first.
    Block* m_open = nullptr;
};

// A row class kept in a slab of its own: `class Row : public QTreeWidgetItem,
// public SlabRows<Row>`. A class derived from it that is larger comes from
// the heap.
template <class Row> class SlabRows {
public:
    static void* operator new(std::size_t size) { return Slab().Allocate(size); }
    static void operator delete(void* p, std::size_t size) { Slab().Release(p, size); }

private:
    static RowSlab& Slab()
    {
        // Never destroyed: a list deleted at exit still gives its rows back.
        static RowSlab* slab = new RowSlab(sizeof(Row));
        return *slab;
    }
};
