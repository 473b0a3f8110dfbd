#include "SearchWords.h"
#include <algorithm>
#include <functional>

namespace SearchWords {

void Cut(std::string_view text, std::vector<std::string_view>& words)
{
    // U+0080 to U+00FF are the two-byte sequences led by 0xC2 and 0xC3; every
    // longer sequence is one character above U+00FF, a separator.
    const size_t first = words.size();
    auto add = [&](size_t from, size_t to) {
        if (to > from)
            words.push_back(text.substr(from, to - from));
    };
    const size_t size = text.size();
    size_t start = size;
    for (size_t k = 0; k < size;) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        size_t length = 1;
        bool word;
        if (c < 0x80) {
            word = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        } else {
            length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            word = c == 0xC2 || c == 0xC3;
        }
        length = std::min(length, size - k);
        if (word && start == size)
            start = k;
        else if (!word && start != size) {
            add(start, k);
            start = size;
        }
        k += length;
    }
    add(start, size);
    start = size;
    for (size_t k = 0; k <= size; ++k) {
        const bool word = k < size && text[k] != ' ' && text[k] != '/' && text[k] != '\\';
        if (word && start == size)
            start = k;
        else if (!word && start != size) {
            add(start, k);
            start = size;
        }
    }
    std::sort(words.begin() + qsizetype(first), words.end());
    words.erase(std::unique(words.begin() + qsizetype(first), words.end()), words.end());
}

quint32 Dictionary::Id(std::string_view word)
{
    if (m_slots.size() < (m_words.size() + 1) * 2)
        Grow();
    const size_t hash = std::hash<std::string_view>()(word);
    const quint64 tag = quint64(quint32(hash >> 32)) << 32;
    const size_t mask = m_slots.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const quint64 slot = m_slots[at];
        if (!slot) {
            m_words.emplace_back(word);
            m_slots[at] = tag | quint64(m_words.size());
            return quint32(m_words.size() - 1);
        }
        if ((slot & 0xFFFFFFFF00000000ull) == tag && m_words[size_t(quint32(slot)) - 1] == word)
            return quint32(slot) - 1;
    }
}

void Dictionary::Grow()
{
    std::vector<quint64> grown(std::max<size_t>(1024, m_slots.size() * 2), 0);
    const size_t mask = grown.size() - 1;
    for (const quint64 slot : m_slots) {
        if (!slot)
            continue;
        size_t at = std::hash<std::string_view>()(m_words[size_t(quint32(slot)) - 1]) & mask;
        while (grown[at])
            at = (at + 1) & mask;
        grown[at] = slot;
    }
    m_slots.swap(grown);
}

std::vector<std::string> Dictionary::TakeNewWords()
{
    std::vector<std::string> words(m_words.begin() + qsizetype(m_taken), m_words.end());
    m_taken = m_words.size();
    return words;
}

void Dictionary::Clear()
{
    // The room goes too: a walk of a million files leaves megabytes.
    std::vector<quint64>().swap(m_slots);
    std::vector<std::string>().swap(m_words);
    m_taken = 0;
}
}
