#include "RowSlab.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ROW_SLAB_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define ROW_SLAB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define ROW_SLAB_POISON(p, n) ((void)(p), (void)(n))
#define ROW_SLAB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {
// A block is aligned to its size, so a slot finds its block by its address.
constexpr std::size_t kBlockBytes = 64 * 1024;
constexpr std::size_t kAlign = 16;
} // namespace

struct RowSlab::Block {
    Block* prev = nullptr;
    Block* next = nullptr;
    // Slots given back, linked through their first bytes.
    void* free = nullptr;
    int live = 0;
    // Slots never handed out yet, from the end of those that were.
    int fresh = 0;
    bool open = false;

    char* Slots() { return reinterpret_cast<char*>(this) + ((sizeof(Block) + kAlign - 1) & ~(kAlign - 1)); }
};

RowSlab::RowSlab(std::size_t slotSize)
    : m_slot((std::max(slotSize, sizeof(void*)) + kAlign - 1) & ~(kAlign - 1))
    , m_capacity(int((kBlockBytes - ((sizeof(Block) + kAlign - 1) & ~(kAlign - 1))) / m_slot))
{
}

RowSlab::~RowSlab()
{
    // Only blocks with nothing in them are freed: a row still alive keeps
    // its block.
    while (m_open && m_open->live == 0) {
        Block* block = m_open;
        Unlink(block);
        block->~Block();
        std::free(block);
    }
}

RowSlab::Block* RowSlab::NewBlock()
{
    void* memory = std::aligned_alloc(kBlockBytes, kBlockBytes);
    if (!memory)
        throw std::bad_alloc();
    auto* block = new (memory) Block;
    ROW_SLAB_POISON(block->Slots(), std::size_t(m_capacity) * m_slot);
    ++m_blocks;
    PushOpen(block);
    return block;
}

void RowSlab::PushOpen(Block* block)
{
    block->prev = nullptr;
    block->next = m_open;
    if (m_open)
        m_open->prev = block;
    m_open = block;
    block->open = true;
}

void RowSlab::Unlink(Block* block)
{
    if (block->prev)
        block->prev->next = block->next;
    else
        m_open = block->next;
    if (block->next)
        block->next->prev = block->prev;
    block->prev = block->next = nullptr;
    block->open = false;
}

void* RowSlab::Allocate(std::size_t size)
{
    if (size > m_slot || m_capacity < 1)
        return ::operator new(size);
    Block* block = m_open ? m_open : NewBlock();
    void* slot;
    if (block->free) {
        slot = block->free;
        ROW_SLAB_UNPOISON(slot, m_slot);
        block->free = *static_cast<void**>(slot);
    } else {
        slot = block->Slots() + std::size_t(block->fresh++) * m_slot;
        ROW_SLAB_UNPOISON(slot, m_slot);
    }
    if (++block->live == m_capacity)
        Unlink(block);
    return slot;
}

void RowSlab::Release(void* p, std::size_t size)
{
    if (!p)
        return;
    if (size > m_slot || m_capacity < 1) {
        ::operator delete(p);
        return;
    }
    auto* block = reinterpret_cast<Block*>(reinterpret_cast<std::uintptr_t>(p) & ~(kBlockBytes - 1));
    *static_cast<void**>(p) = block->free;
    block->free = p;
    ROW_SLAB_POISON(p, m_slot);
    --block->live;
    if (!block->open)
        PushOpen(block);
    // An empty block goes back unless it is the only one with room: rows
    // made and deleted one at a time don't take and free a block each time.
    if (block->live == 0 && (block->prev || block->next)) {
        Unlink(block);
        block->~Block();
        std::free(block);
        --m_blocks;
    }
}
