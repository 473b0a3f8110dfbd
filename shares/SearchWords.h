#pragma once
// The words by which shared files are found, cut from lower-cased UTF-8 text
// in two passes: runs of word characters (ASCII letters and digits, and
// Latin-1 from U+0080 to U+00FF), and runs between spaces and path
// separators. The scanner thread cuts file names while it walks; the GUI
// thread cuts folder paths.
#include <QtGlobal>
#include <string>
#include <string_view>
#include <vector>

namespace SearchWords {
// Appends the words of both passes, each once, in byte order (views into text).
void Cut(std::string_view lowerUtf8, std::vector<std::string_view>& words);

// Numbers words as they are first seen, so that a walk of a million files
// hands the merge each distinct word once. A walk handed over in parts takes
// the words new since the last part with each (TakeNewWords); the numbers go
// on until Clear.
class Dictionary {
public:
    quint32 Id(std::string_view word);
    // The words numbered since the last call, from number NewWordsStart().
    std::vector<std::string> TakeNewWords();
    quint32 NewWordsStart() const { return quint32(m_taken); }
    void Clear();

private:
    void Grow();

    // Open addressing: (32 bits of the hash << 32) | (number + 1); 0 is free.
    std::vector<quint64> m_slots;
    std::vector<std::string> m_words;
    size_t m_taken = 0;
};
}
