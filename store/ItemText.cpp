#include "ItemText.h"
#include "SmallBlocks.h"
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

static_assert(sizeof(ItemText) == 16, "a value text is two words");
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the heap mark shares a word with the size");

ItemText::ItemText(std::string_view text)
    : ItemText(text, text.size() > kInline ? Block(text.size()) : nullptr)
{
}

ItemText::ItemText(std::string_view text, void* block)
{
    const size_t n = text.size();
    if (n <= kInline) {
        Reset();
        if (n)
            std::memcpy(m_raw, text.data(), n);
        m_raw[kMarkByte] = static_cast<unsigned char>(n);
        return;
    }
    char* buffer = static_cast<char*>(block);
    std::memcpy(buffer, text.data(), n);
    const quint64 word = quint64(n) | (quint64(kHeap) << 56);
    std::memcpy(m_raw, &buffer, sizeof buffer);
    std::memcpy(m_raw + 8, &word, sizeof word);
}

void* ItemText::Block(size_t n)
{
    if (n > kSizeBits)
        throw std::length_error("item text too long");
    return SmallBlocks::Allocate(n);
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
