// What one input may make: the most heap it holds at once beyond what was
// held when it began, every allocation counted, the toolkit's and the C
// library's callers' included. A target makes a HeapBudget as an input begins
// (after its one-time set-up); when the budget goes, an input that took more
// stops the run with the figures. A budget is a base plus so much per byte of
// input: what the code under test may build for it, from the bounds it claims
// (a decoder's byte budget, the inflate cap, the frame limits).
//
// Counting: in a build with AddressSanitizer (fuzzing, and the sanitized test
// build) through its allocation hooks; otherwise by standing in for the C
// library's malloc family here, forwarding to glibc's own entry points. Each
// target is a program of its own, so this header is included once per program.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define MARROWBY_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARROWBY_FUZZ_ASAN 1
#endif
#endif

namespace fuzz {

inline std::atomic<long long> g_heapInUse { 0 };
inline std::atomic<long long> g_heapPeak { 0 };

inline void Allocated(size_t bytes)
{
    const long long now = g_heapInUse.fetch_add((long long)bytes, std::memory_order_relaxed) + (long long)bytes;
    long long peak = g_heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

inline void Freed(size_t bytes)
{
    g_heapInUse.fetch_sub((long long)bytes, std::memory_order_relaxed);
}

} // namespace fuzz

#ifdef MARROWBY_FUZZ_ASAN
// The sanitizer's allocator interface (not every compiler ships its header).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, size_t), void (*freeHook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* p);
}

namespace fuzz {
inline void InstallCounting()
{
    static const bool installed = [] {
        __sanitizer_install_malloc_and_free_hooks(
            [](const volatile void*, size_t size) { Allocated(size); },
            [](const volatile void* p) { Freed(__sanitizer_get_allocated_size(p)); });
        return true;
    }();
    (void)installed;
}
} // namespace fuzz

#else
#include <malloc.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace fuzz {
inline void* Counted(void* p)
{
    if (p)
        Allocated(malloc_usable_size(p));
    return p;
}
} // namespace fuzz

using fuzz::Counted;

extern "C" {
void* malloc(size_t size) noexcept
{
    return Counted(__libc_malloc(size));
}

void* calloc(size_t count, size_t size) noexcept
{
    return Counted(__libc_calloc(count, size));
}

void* realloc(void* p, size_t size) noexcept
{
    const size_t before = p ? malloc_usable_size(p) : 0;
    void* moved = __libc_realloc(p, size);
    if (moved || size == 0)
        fuzz::Freed(before);
    return Counted(moved);
}

void* reallocarray(void* p, size_t count, size_t size) noexcept
{
    if (size && count > size_t(-1) / size)
        return nullptr;
    return realloc(p, count * size);
}

void free(void* p) noexcept
{
    if (!p)
        return;
    fuzz::Freed(malloc_usable_size(p));
    __libc_free(p);
}

void* memalign(size_t alignment, size_t size) noexcept
{
    return Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) noexcept
{
    return Counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept
{
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return 22; // EINVAL
    void* p = Counted(__libc_memalign(alignment, size));
    if (!p)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
} // extern "C"

namespace fuzz {
inline void InstallCounting() { }
} // namespace fuzz

#endif

namespace fuzz {

// At most what size bytes of zlib stream can inflate to (deflate's ratio is
// at most 1032 to 1), up to the cap.
constexpr size_t Inflatable(size_t size, size_t cap)
{
    return size * 1032 < cap ? size * 1032 : cap;
}

class HeapBudget {
public:
    HeapBudget(size_t bytes, const char* what)
        : m_bytes(bytes)
        , m_what(what)
    {
        InstallCounting();
        m_start = g_heapInUse.load();
        g_heapPeak.store(m_start);
    }
    ~HeapBudget()
    {
        const long long took = g_heapPeak.load() - m_start;
        if (took > (long long)m_bytes) {
            std::fprintf(stderr, "%s: one input took %lld bytes of heap at once; its budget is %zu\n", m_what, took,
                m_bytes);
            std::abort();
        }
    }
    HeapBudget(const HeapBudget&) = delete;
    HeapBudget& operator=(const HeapBudget&) = delete;

private:
    size_t m_bytes;
    const char* m_what;
    long long m_start = 0;
};

} // namespace fuzz
