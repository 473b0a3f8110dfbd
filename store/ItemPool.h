#pragma once
// Storage for items: blocks of many items at once, so making a million items
// is a million pointer bumps rather than a million allocations, and items made
// together sit together in memory.
//
// A block is kBlockBytes, aligned to its size, so an item's block is found
// from its address. It starts with a header (its free slots, how many are
// live); its slots follow. A block whose items are all destroyed goes back to
// the C library (one empty block is kept for reuse), so that the memory of a
// queue or a share removed is not held for ever; new items go first into the
// free slots of blocks that have some.
#include <QtGlobal>
#include <cstdlib>
#include <deque>
#include <new>
#include <sanitizer/asan_interface.h>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define MARROWBY_ITEM_QUARANTINE
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARROWBY_ITEM_QUARANTINE
#endif
#endif

template <class T> class ItemPool {
public:
    static constexpr size_t kBlockBytes = 256 * 1024;

    ItemPool() = default;
    ItemPool(const ItemPool&) = delete;
    ItemPool& operator=(const ItemPool&) = delete;
    // Objects still alive are not destroyed here: their owner destroys them first.
    ~ItemPool()
    {
        while (m_all)
            Free(m_all);
        if (m_spare)
            std::free(m_spare);
    }

    template <class... Args> T* Create(Args&&... args)
    {
        Block* block = m_room ? m_room : NewBlock();
        Slot* slot;
        if (block->free) {
            slot = block->free;
            ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(Slot));
            block->free = slot->next;
        } else {
            slot = block->Slots() + block->used++;
        }
        ++block->live;
        if (!block->free && block->used == kSlots)
            Unlink(m_room, block, &Block::room);
        return new (slot) T { std::forward<Args>(args)... };
    }

    // Takes over the objects of another pool (made on another thread) and its
    // room; the other pool is left empty.
    void Adopt(ItemPool& other)
    {
        while (Block* block = other.m_all) {
            other.Unlink(other.m_all, block, &Block::all);
            if (block->listed)
                other.Unlink(other.m_room, block, &Block::room);
            Link(m_all, block, &Block::all);
            if (block->free || block->used < kSlots)
                Link(m_room, block, &Block::room);
        }
        if (other.m_spare)
            std::free(std::exchange(other.m_spare, nullptr));
#ifdef MARROWBY_ITEM_QUARANTINE
        m_quarantine.insert(m_quarantine.end(), other.m_quarantine.begin(), other.m_quarantine.end());
        other.m_quarantine.clear();
#endif
    }

    void Destroy(T* object)
    {
        object->~T();
        Slot* slot = reinterpret_cast<Slot*>(object);
#ifdef MARROWBY_ITEM_QUARANTINE
        // Under the address sanitizer a slot can't be read once its object is
        // destroyed, and is made again only after many others: a read through
        // a stale pointer is reported, as one of freed memory would be.
        ASAN_POISON_MEMORY_REGION(slot, sizeof(Slot));
        m_quarantine.push_back(slot);
        if (m_quarantine.size() <= kQuarantine)
            return;
        slot = m_quarantine.front();
        m_quarantine.pop_front();
        ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(Slot));
#endif
        Block* block = reinterpret_cast<Block*>(reinterpret_cast<quintptr>(slot) & ~quintptr(kBlockBytes - 1));
        slot->next = block->free;
        ASAN_POISON_MEMORY_REGION(slot, sizeof(Slot));
        block->free = slot;
        if (!block->listed)
            Link(m_room, block, &Block::room);
        if (--block->live == 0) {
            // The last one kept empty goes back to the system.
            if (m_spare)
                std::free(m_spare);
            Unlink(m_room, block, &Block::room);
            Unlink(m_all, block, &Block::all);
            m_spare = block;
        }
    }

private:
    union Slot {
        Slot* next;
        alignas(T) unsigned char bytes[sizeof(T)];
    };
    struct Block;
    struct Links {
        Block* prev = nullptr;
        Block* next = nullptr;
    };
    struct Block {
        Links all; // every block of the pool
        Links room; // the blocks with a free slot or unused room
        Slot* free = nullptr;
        quint32 live = 0;
        quint32 used = 0;
        bool listed = false; // in the list of blocks with room
        Slot* Slots() { return reinterpret_cast<Slot*>(reinterpret_cast<char*>(this) + kHeader); }
    };
    static constexpr size_t kHeader = (sizeof(Block) + alignof(Slot) - 1) / alignof(Slot) * alignof(Slot);
    static constexpr quint32 kSlots = quint32((kBlockBytes - kHeader) / sizeof(Slot));

    void Link(Block*& head, Block* block, Links Block::*links)
    {
        (block->*links).prev = nullptr;
        (block->*links).next = head;
        if (head)
            (head->*links).prev = block;
        head = block;
        if (links == &Block::room)
            block->listed = true;
    }
    void Unlink(Block*& head, Block* block, Links Block::*links)
    {
        Links& own = block->*links;
        if (own.prev)
            (own.prev->*links).next = own.next;
        else
            head = own.next;
        if (own.next)
            (own.next->*links).prev = own.prev;
        if (links == &Block::room)
            block->listed = false;
    }
    Block* NewBlock()
    {
        void* memory = std::exchange(m_spare, nullptr);
        if (!memory)
            memory = std::aligned_alloc(kBlockBytes, kBlockBytes);
        if (!memory)
            throw std::bad_alloc();
        // A spare block's slots were poisoned as their objects went.
        ASAN_UNPOISON_MEMORY_REGION(memory, kBlockBytes);
        Block* block = new (memory) Block;
        Link(m_all, block, &Block::all);
        Link(m_room, block, &Block::room);
        return block;
    }
    void Free(Block* block)
    {
        Unlink(m_all, block, &Block::all);
        if (block->listed)
            Unlink(m_room, block, &Block::room);
        std::free(block);
    }

    Block* m_all = nullptr;
    Block* m_room = nullptr;
    void* m_spare = nullptr;
#ifdef MARROWBY_ITEM_QUARANTINE
    static constexpr size_t kQuarantine = 1 << 16;
    std::deque<Slot*> m_quarantine;
#endif
};
