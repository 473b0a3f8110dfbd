#include "ItemText.h"
#include "SmallBlocks.h"
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

static_assert(sizeof(ItemText) == 16, "a value text is two words");
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the heap mark shares a word with the size");

ItemText::ItemText(std::string_view text)
{
    const size_t n = text.size();
    if (n <= kInline) {
        Reset();
        if (n)
            std::memcpy(m_raw, text.data(), n);
        m_raw[kMarkByte] = static_cast<unsigned char>(n);
        return;
    }
    if (n > kSizeBits)
        throw std::length_error("item text too long");
    char* buffer = static_cast<char*>(SmallBlocks::Allocate(n));
    std::memcpy(buffer, text.data(), n);
    const quint64 word = quint64(n) | (quint64(kHeap) << 56);
    std::memcpy(m_raw, &buffer, sizeof buffer);
    std::memcpy(m_raw + 8, &word, sizeof word);
}

ItemText& ItemText::operator=(const ItemText& other)
{
    if (this != &other)
        *this = ItemText(other);
    return *this;
}

ItemText& ItemText::operator=(ItemText&& other) noexcept
{
    if (this != &other) {
        Free();
        std::memcpy(m_raw, other.m_raw, sizeof m_raw);
        other.Reset();
    }
    return *this;
}

void ItemText::Free() noexcept
{
    if (IsHeap())
        SmallBlocks::Release(const_cast<char*>(HeapData()), HeapSize());
}
