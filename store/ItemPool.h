#pragma once
// Storage for items: blocks of many items at once and a free list, so making a
// million items is a million pointer bumps rather than a million allocations,
// and items made together sit together in memory.
#include <QtGlobal>
#include <memory>
#include <new>
#include <utility>
#include <vector>

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
            place = m_free;
            m_free = m_free->next;
        } else {
            if (m_used == kBlock || m_blocks.empty()) {
                m_blocks.emplace_back(new Slot[kBlock]);
                m_used = 0;
            }
            place = &m_blocks.back()[m_used++];
        }
        return new (place) T { std::forward<Args>(args)... };
    }

    void Destroy(T* object)
    {
        object->~T();
        Slot* slot = reinterpret_cast<Slot*>(object);
        slot->next = m_free;
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
};
