#pragma once
// The words by which shared files are found, cut from lower-cased UTF-8 text
// in two passes: runs of word characters (ASCII letters and digits, and
// Latin-1 from U+0080 to U+00FF), and runs between spaces and path
// separators. The scanner thread cuts file names while it walks; the GUI
// thread cuts folder paths.
#include <QtGlobal>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace SearchWords {
// Appends the words of both passes, each once, in byte order (views into text).
void Cut(std::string_view lowerUtf8, std::vector<std::string_view>& words);

// Numbers words as they are first seen, so that a walk of a million files
// hands the merge each distinct word once.
class Dictionary {
public:
    quint32 Id(std::string_view word);
    std::vector<std::string> TakeWords();

private:
    std::unordered_map<std::string_view, quint32> m_ids;
    std::vector<std::unique_ptr<std::string>> m_words;
};
}
