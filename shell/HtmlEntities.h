#pragma once
// Character references in markup from outside ("&amp;", "&#x202E;",
// "&copy;"), turned into the characters they stand for, so that what they
// name is seen and handled like any other text. A named reference is looked
// up as the toolkit knows it; a name it does not know stays as written. The
// lookups per object are bounded, and so is a number's length.
#include <QString>

class HtmlEntities {
public:
    // The reference at text[pos] (a "&"), or the "&" alone when none starts
    // there; pos moves past what was read.
    QString DecodeAt(const QString& text, qsizetype& pos);
    // The text with every reference decoded.
    QString Decode(const QString& text);

    static bool IsLetter(QChar c);
    static bool IsNameChar(QChar c);
    static bool IsHex(QChar c);

private:
    QString Named(const QString& name);

    int m_lookups = 0;
};
