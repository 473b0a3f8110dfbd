#pragma once
// The result-filter language: plain words that must occur in a tested text,
// excluded words ("-word") that must not, and conditions on a result's item:
// "isvbr", "iscbr", "minbitrate:n"/"mbr:n", "minfilesize:n"/"mfs:n" (n million
// bytes), and "minfilesinfolder:n"/"mfif:n" (applied by the views to folders).
// Keywords are case-sensitive; words are matched ignoring case.
//
// A tree of folders is filtered by matching each folder name on the way down
// with a remainder filter: the words a folder name contains are consumed, the
// excluded words and the conditions stay in force for the files beneath.
#include "ItemPtr.h"
#include <QString>
#include <QStringList>
#include <QtGlobal>

class FilterParser {
public:
    enum Result { Match = 0, MissingWord = 1, Excluded = 2 };

    FilterParser() = default;

    // Replaces the filter with the one the text describes.
    void Parse(const QString& text);

    // 0 when the text and the item pass, 1 when a plain word is missing from
    // the text, 2 when the item fails a condition or an excluded word occurs.
    // Order: the item's conditions (when the item is not null), the excluded
    // words, then the plain words. With a remainder, the remainder is cleared
    // first; unless the result is 2 it then receives this filter's conditions,
    // its excluded words and the plain words that the text lacks, and the
    // result is 1 exactly when it holds a plain word.
    int IsMatching(const QString& text, FilterParser* remaining, ItemPtr item) const;

    // A bitrate-mode, minimum-bitrate or minimum-size condition is set.
    bool HasAttributes() const;
    int MinFilesInFolder() const { return m_minFilesInFolder; }

    const QStringList& Words() const { return m_words; }
    const QStringList& ExcludedWords() const { return m_excluded; }
    bool IsVbr() const { return m_isVbr; }
    bool IsCbr() const { return m_isCbr; }
    int MinBitrate() const { return m_minBitrate; }
    qint64 MinFileSize() const { return m_minFileSize; }

private:
    bool ItemPasses(ItemPtr item) const;
    void Clear();

    QStringList m_words;
    QStringList m_excluded;
    bool m_isVbr = false;
    bool m_isCbr = false;
    int m_minBitrate = 0;
    qint64 m_minFileSize = 0;
    int m_minFilesInFolder = 0;
};
