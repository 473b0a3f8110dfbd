#pragma once
// What is laid out of a text from outside (a chat line, a ticker, the text of
// a description). The text layout spends far more than a text's length on a
// long run without a place to break a line, and on many combining marks
// stacked on one letter, which also draw far above and below their line. So
// what is shown keeps to a length, keeps a few marks on each letter, and gets
// an unseen place to break (a zero-width space) in every long run. A character
// made of two UTF-16 units is never split. Only for showing: what is stored,
// logged and sent stays as it came.
#include <QString>

class TextBound {
public:
    // UTF-16 units shown of one text; more is cut and ends in an ellipsis.
    static constexpr int kMaxLength = 32768;
    // Combining marks (and joiners) kept on one letter: more than any writing
    // stacks; the rest are left out.
    static constexpr int kMaxMarks = 8;
    // Characters in a row without a place to break a line.
    static constexpr int kMaxWord = 80;

    explicit TextBound(int maxLength = kMaxLength)
        : m_max(maxLength)
    {
    }

    // The text as it may be laid out.
    static QString Shown(const QString& text, int maxLength = kMaxLength);

    // For writers that copy a text piece by piece: appends the next unit of
    // the text to out, or leaves it out. Once the length is reached, the
    // ellipsis is written and Full() is true; later units are ignored.
    void Append(QString& out, QChar c);
    // Before out is taken: writes a first unit still waiting for its second.
    void End(QString& out);
    bool Full() const { return m_full; }

private:
    void AppendCharacter(QString& out, char32_t c, int units);

    const int m_max;
    int m_length = 0;
    int m_marks = 0;
    int m_word = 0;
    bool m_full = false;
    QChar m_high;
};
