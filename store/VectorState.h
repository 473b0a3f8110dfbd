#pragma once
// Qt's seeded hashing of strings (every QHash or QSet keyed by a QString or a
// QByteArray) leaves the upper halves of the wide vector registers in use on
// processors with AVX-512. Every SSE instruction run after it then waits on
// those halves, and the store's tight loops run at about half their speed
// until something clears them. A loop that does much work clears them first:
// one instruction, run only where the processor has AVX.
#if defined(__AVX__)
#include <immintrin.h>
#endif

inline void ClearUpperVectorState()
{
#if defined(__AVX__)
    _mm256_zeroupper();
#elif defined(__x86_64__) || defined(__i386__)
    // Code built without AVX keeps nothing in the upper halves.
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        asm volatile("vzeroupper");
#endif
}
