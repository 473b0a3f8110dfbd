#pragma once
// Storage for items: blocks of many items at once and a free list, so making a
// million items is a million pointer bumps rather than a million allocations,
// and items made together sit together in memory.
#include <QtGlobal>
#include <deque>
#include <iterator>
#include <memory>
#include <new>
#include <sanitizer/asan_interface.h>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define MARROWBY_ITEM_QUARANTINE
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARROWBY_ITEM_QUARANTINE
#endif
#endif

template <class T> class ItemPool {
public:
    static constexpr size_t kBlock = 4096;

    ItemPool() = default;
    ItemPool(const ItemPool&) = delete;
    ItemPool& operator=(const ItemPool&) = delete;
    // Objects still alive are not destroyed here: their owner destroys them first.
    ~ItemPool() = default;

    template <class... Args> T* Create(Args&&... args)
    {
        void* place;
        if (m_free) {
            Slot* slot = m_free;
            ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(Slot));
            place = slot;
            m_free = slot->next;
        } else {
            if (m_used == kBlock || m_blocks.empty()) {
                m_blocks.emplace_back(new Slot[kBlock]);
                m_used = 0;
            }
            place = &m_blocks.back()[m_used++];
        }
        return new (place) T { std::forward<Args>(args)... };
    }

    // Takes over the objects of another pool (made on another thread) and its
    // room; the other pool is left empty.
    void Adopt(ItemPool& other)
    {
        if (other.m_blocks.empty())
            return;
        const bool hadNone = m_blocks.empty();
        // Our last block stays last, so its fill count stays ours; the other
        // pool's unused slots join the free list.
        Slot* last = other.m_blocks.back().get();
        for (size_t k = other.m_used; k < kBlock; ++k) {
            last[k].next = m_free;
            m_free = &last[k];
        }
        while (other.m_free) {
            Slot* slot = other.m_free;
            ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(Slot));
            other.m_free = slot->next;
            slot->next = m_free;
            ASAN_POISON_MEMORY_REGION(slot, sizeof(Slot));
            m_free = slot;
        }
        m_blocks.insert(m_blocks.begin(), std::make_move_iterator(other.m_blocks.begin()),
            std::make_move_iterator(other.m_blocks.end()));
        if (hadNone)
            m_used = kBlock; // the last block is the other's: a new object starts a block
        other.m_blocks.clear();
        other.m_used = 0;
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
        slot->next = m_free;
        ASAN_POISON_MEMORY_REGION(slot, sizeof(Slot));
        m_free = slot;
    }

private:
    union Slot {
        Slot* next;
        alignas(T) unsigned char bytes[sizeof(T)];
    };
    std::vector<std::unique_ptr<Slot[]>> m_blocks;
    size_t m_used = 0;
    Slot* m_free = nullptr;
#ifdef MARROWBY_ITEM_QUARANTINE
    static constexpr size_t kQuarantine = 1 << 16;
    std::deque<Slot*> m_quarantine;
#endif
};
