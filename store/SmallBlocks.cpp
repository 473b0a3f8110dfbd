#include "SmallBlocks.h"
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t kStep = 8;
constexpr size_t kSlabBytes = 64 * 1024;
// Under the address sanitizer every block is its own allocation, so that a
// stray access is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPools = false;
#else
constexpr bool kPools = true;
#endif

// A slab is 64 KiB, aligned to its size, so a block's slab is found from the
// block's address. It starts with this header; its blocks follow. A slab whose
// blocks are all free again goes back to the system (one empty slab per size is
// kept), so that memory freed in bulk is not held for ever.
struct Slab {
    Slab* prev;
    Slab* next;
    void* free; // freed blocks of this slab
    char* bump; // blocks never handed out start here
    quint32 live;
    quint32 size;
    bool listed; // in its pool's list of slabs with room
};
constexpr size_t kHeader = (sizeof(Slab) + 63) / 64 * 64;

struct Pool {
    Slab* room = nullptr; // slabs with a free block or bump room
    Slab* spare = nullptr; // one empty slab kept for reuse
};
Pool g_pools[SmallBlocks::kMaxPooled / kStep + 1];
// The store runs on one thread; the lock only keeps a stray use from another
// thread from corrupting the pools, and costs next to nothing uncontended.
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;

class Locker {
public:
    Locker()
    {
        while (g_lock.test_and_set(std::memory_order_acquire))
            g_lock.wait(true, std::memory_order_relaxed);
    }
    ~Locker()
    {
        g_lock.clear(std::memory_order_release);
        g_lock.notify_one();
    }
};

bool Pooled(size_t bytes) { return kPools && bytes > 0 && bytes <= SmallBlocks::kMaxPooled; }
size_t ClassOf(size_t bytes) { return (bytes + kStep - 1) / kStep; }

void* CheckedMalloc(size_t bytes)
{
    void* p = std::malloc(std::max<size_t>(bytes, 1));
    if (!p)
        qFatal("item store: out of memory");
    return p;
}

char* SlabEnd(Slab* slab) { return reinterpret_cast<char*>(slab) + kSlabBytes; }

void Link(Pool& pool, Slab* slab)
{
    slab->prev = nullptr;
    slab->next = pool.room;
    if (pool.room)
        pool.room->prev = slab;
    pool.room = slab;
    slab->listed = true;
}

void Unlink(Pool& pool, Slab* slab)
{
    if (slab->prev)
        slab->prev->next = slab->next;
    else
        pool.room = slab->next;
    if (slab->next)
        slab->next->prev = slab->prev;
    slab->listed = false;
}

Slab* NewSlab(Pool& pool, size_t size)
{
    Slab* slab = pool.spare;
    pool.spare = nullptr;
    if (!slab) {
        slab = static_cast<Slab*>(std::aligned_alloc(kSlabBytes, kSlabBytes));
        if (!slab)
            qFatal("item store: out of memory");
    }
    slab->free = nullptr;
    slab->bump = reinterpret_cast<char*>(slab) + kHeader;
    slab->live = 0;
    slab->size = quint32(size);
    Link(pool, slab);
    return slab;
}

// A pooled block, the lock held.
void* Take(size_t bytes)
{
    const size_t size = ClassOf(bytes) * kStep;
    Pool& pool = g_pools[ClassOf(bytes)];
    Slab* slab = pool.room ? pool.room : NewSlab(pool, size);
    void* p;
    if (slab->free) {
        p = slab->free;
        slab->free = *static_cast<void**>(p);
    } else {
        p = slab->bump;
        slab->bump += size;
    }
    ++slab->live;
    if (!slab->free && size_t(SlabEnd(slab) - slab->bump) < size)
        Unlink(pool, slab); // full
    return p;
}
}

void* SmallBlocks::Allocate(size_t bytes)
{
    if (!Pooled(bytes))
        return CheckedMalloc(bytes);
    Locker lock;
    return Take(bytes);
}

void SmallBlocks::AllocateMany(const size_t* bytes, size_t count, void** out)
{
    Locker lock;
    for (size_t k = 0; k < count; ++k)
        out[k] = Pooled(bytes[k]) ? Take(bytes[k]) : CheckedMalloc(bytes[k]);
}

void* SmallBlocks::Resize(void* block, size_t oldBytes, size_t newBytes)
{
    if (!Pooled(oldBytes) && !Pooled(newBytes)) {
        void* p = std::realloc(block, std::max<size_t>(newBytes, 1));
        if (!p)
            qFatal("item store: out of memory");
        return p;
    }
    if (Pooled(oldBytes) && Pooled(newBytes) && ClassOf(oldBytes) == ClassOf(newBytes))
        return block;
    void* resized = Allocate(newBytes);
    std::memcpy(resized, block, std::min(oldBytes, newBytes));
    Release(block, oldBytes);
    return resized;
}

void SmallBlocks::Release(void* block, size_t bytes)
{
    if (!block)
        return;
    if (!Pooled(bytes)) {
        std::free(block);
        return;
    }
    Locker lock;
    Pool& pool = g_pools[ClassOf(bytes)];
    Slab* slab = reinterpret_cast<Slab*>(reinterpret_cast<quintptr>(block) & ~quintptr(kSlabBytes - 1));
    *static_cast<void**>(block) = slab->free;
    slab->free = block;
    if (!slab->listed)
        Link(pool, slab);
    if (--slab->live == 0) {
        Unlink(pool, slab);
        if (pool.spare)
            std::free(pool.spare);
        pool.spare = slab;
    }
}
