#pragma once
// Storage for the store's many small blocks: the entry arrays of connection
// maps and the texts of item values too long to sit in the item. Blocks of up
// to kMaxPooled bytes come from pools in steps of 8 bytes: no allocator header
// and little rounding, where malloc adds 8 to 24 bytes to each. A million
// shared files hold two million such blocks. Larger blocks come from malloc.
//
// Freed small blocks are kept for reuse, not given back to the system. The
// caller tells the size of a block when it resizes or releases it.
#include <QtGlobal>
#include <cstddef>

namespace SmallBlocks {
constexpr size_t kMaxPooled = 256;

void* Allocate(size_t bytes);
// Blocks for many values made in a row, under one lock: out[k] gets a block
// of bytes[k] bytes, as Allocate(bytes[k]) would give it.
void AllocateMany(const size_t* bytes, size_t count, void** out);
// A block of newBytes holding the first min(oldBytes, newBytes) bytes.
void* Resize(void* block, size_t oldBytes, size_t newBytes);
void Release(void* block, size_t bytes);
}
