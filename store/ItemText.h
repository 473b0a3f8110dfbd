#pragma once
// An item's value text in 16 bytes: up to 15 bytes are held inline, longer
// texts in a heap buffer of exactly their size. Any byte may occur, NUL too;
// the text is not NUL-terminated. Reads go through data()/size() or a
// std::string_view, as with a std::string.
#include <QtGlobal>
#include <cstring>
#include <string>
#include <string_view>

class ItemText {
public:
    static constexpr size_t kInline = 15;

    ItemText() noexcept { Reset(); }
    explicit ItemText(std::string_view text);
    // A text longer than kInline held in block, a block of text.size() bytes
    // from SmallBlocks that the text now owns; a shorter one ignores block.
    ItemText(std::string_view text, void* block);
    explicit ItemText(const std::string& text)
        : ItemText(std::string_view(text))
    {
    }
    explicit ItemText(const char* text)
        : ItemText(std::string_view(text ? text : ""))
    {
    }
    ItemText(const ItemText& other)
        : ItemText(other.view())
    {
    }
    ItemText(ItemText&& other) noexcept
    {
        std::memcpy(m_raw, other.m_raw, sizeof m_raw);
        other.Reset();
    }
    ItemText& operator=(const ItemText& other);
    ItemText& operator=(ItemText&& other) noexcept;
    ~ItemText() { Free(); }

    size_t size() const { return IsHeap() ? HeapSize() : m_raw[kMarkByte]; }
    bool empty() const { return size() == 0; }
    const char* data() const { return IsHeap() ? HeapData() : reinterpret_cast<const char*>(m_raw); }
    std::string_view view() const { return std::string_view(data(), size()); }
    operator std::string_view() const { return view(); }
    std::string str() const { return std::string(data(), size()); }
    explicit operator std::string() const { return str(); }
    // The bytes the text holds, inline room included.
    size_t capacity() const { return IsHeap() ? HeapSize() : kInline; }
    // The heap bytes the text costs beyond its own 16.
    size_t MemoryBytes() const { return IsHeap() ? HeapSize() : 0; }

    friend bool operator==(const ItemText& a, const ItemText& b) { return a.view() == b.view(); }
    friend bool operator==(const ItemText& a, std::string_view b) { return a.view() == b; }

private:
    // Byte 15 holds the inline size (0..15) or kHeap; a heap text keeps its
    // buffer's address in bytes 0..7 and its size in bytes 8..14.
    static constexpr size_t kMarkByte = 15;
    static constexpr unsigned char kHeap = 0xFF;
    static constexpr quint64 kSizeBits = (quint64(1) << 56) - 1;

    bool IsHeap() const { return m_raw[kMarkByte] == kHeap; }
    const char* HeapData() const
    {
        const char* p;
        std::memcpy(&p, m_raw, sizeof p);
        return p;
    }
    size_t HeapSize() const
    {
        quint64 word;
        std::memcpy(&word, m_raw + 8, sizeof word);
        return size_t(word & kSizeBits);
    }
    static void* Block(size_t n);
    void Reset() noexcept { std::memset(m_raw, 0, sizeof m_raw); }
    void Free() noexcept;

    alignas(8) unsigned char m_raw[16];
};
