#include "SearchWords.h"
#include <algorithm>

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
    const auto found = m_ids.find(word);
    if (found != m_ids.end())
        return found->second;
    // The map's keys view the owned copies, which never move.
    m_words.push_back(std::make_unique<std::string>(word));
    const quint32 id = quint32(m_words.size() - 1);
    m_ids.emplace(*m_words.back(), id);
    return id;
}

std::vector<std::string> Dictionary::TakeWords()
{
    std::vector<std::string> words;
    words.reserve(m_words.size());
    for (auto& word : m_words)
        words.push_back(std::move(*word));
    m_ids.clear();
    m_words.clear();
    return words;
}
}
