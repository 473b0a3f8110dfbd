#include "FilterParser.h"

#include "Data.h"

#include <QRegularExpression>
#include <limits>

namespace {
// The number after a keyword's prefix; 0 when it does not parse.
qint64 NumberAfter(const QString& word, qsizetype prefixLength)
{
    bool ok = false;
    const qint64 n = QStringView(word).mid(prefixLength).toLongLong(&ok);
    return ok ? n : 0;
}

int IntAfter(const QString& word, qsizetype prefixLength)
{
    bool ok = false;
    const int n = QStringView(word).mid(prefixLength).toInt(&ok);
    return ok ? n : 0;
}

// Megabytes to bytes, held at the ends of the 64-bit range instead of overflowing.
qint64 Megabytes(qint64 n)
{
    constexpr qint64 factor = 1000000;
    if (n > std::numeric_limits<qint64>::max() / factor)
        return std::numeric_limits<qint64>::max();
    if (n < std::numeric_limits<qint64>::min() / factor)
        return std::numeric_limits<qint64>::min();
    return n * factor;
}

// The connected item of a named type, or a null handle when the item's store
// has no such type (the attribute types belong to the share and search pages).
ItemPtr Attribute(ItemPtr item, const char* type)
{
    Type* t = item.GetType()->GetData()->HasType(type);
    return t ? item[t] : ItemPtr();
}
}

void FilterParser::Clear()
{
    *this = FilterParser();
}

void FilterParser::Parse(const QString& text)
{
    Clear();
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList parts = text.split(blanks, Qt::SkipEmptyParts);
    for (const QString& word : parts) {
        if (word.startsWith(u'-')) {
            if (word.size() > 1)
                m_excluded.append(word.mid(1));
        } else if (word == u"isvbr") {
            m_isVbr = true;
        } else if (word == u"iscbr") {
            m_isCbr = true;
        } else if (word.startsWith(u"minbitrate:")) {
            m_minBitrate = IntAfter(word, 11);
        } else if (word.startsWith(u"mbr:")) {
            m_minBitrate = IntAfter(word, 4);
        } else if (word.startsWith(u"minfilesize:")) {
            m_minFileSize = Megabytes(NumberAfter(word, 12));
        } else if (word.startsWith(u"mfs:")) {
            m_minFileSize = Megabytes(NumberAfter(word, 4));
        } else if (word.startsWith(u"minfilesinfolder:")) {
            m_minFilesInFolder = IntAfter(word, 17);
        } else if (word.startsWith(u"mfif:")) {
            m_minFilesInFolder = IntAfter(word, 5);
        } else {
            m_words.append(word);
        }
    }
}

bool FilterParser::HasAttributes() const
{
    return m_isVbr || m_isCbr || m_minBitrate > 0 || m_minFileSize > 0;
}

bool FilterParser::ItemPasses(ItemPtr item) const
{
    if (m_isVbr || m_isCbr) {
        const std::string mode = Attribute(item, "bitrate_mode").AsStdString();
        if (m_isVbr && mode != "vbr")
            return false;
        if (m_isCbr && mode != "cbr")
            return false;
    }
    if (m_minBitrate > 0 && Attribute(item, "bitrate").AsInt() < m_minBitrate)
        return false;
    if (m_minFileSize > 0 && Attribute(item, "file_size").AsInt64() < m_minFileSize)
        return false;
    return true;
}

int FilterParser::IsMatching(const QString& text, FilterParser* remaining, ItemPtr item) const
{
    // Matching a filter into itself works on a copy.
    if (remaining == this) {
        const FilterParser self = *this;
        return self.IsMatching(text, remaining, item);
    }
    if (remaining)
        remaining->Clear();
    if (item && !ItemPasses(item))
        return Excluded;
    for (const QString& word : m_excluded) {
        if (text.contains(word, Qt::CaseInsensitive))
            return Excluded;
    }
    if (!remaining) {
        for (const QString& word : m_words) {
            if (!text.contains(word, Qt::CaseInsensitive))
                return MissingWord;
        }
        return Match;
    }
    remaining->m_isVbr = m_isVbr;
    remaining->m_isCbr = m_isCbr;
    remaining->m_minBitrate = m_minBitrate;
    remaining->m_minFileSize = m_minFileSize;
    remaining->m_minFilesInFolder = m_minFilesInFolder;
    remaining->m_excluded = m_excluded;
    for (const QString& word : m_words) {
        if (!text.contains(word, Qt::CaseInsensitive))
            remaining->m_words.append(word);
    }
    return remaining->m_words.isEmpty() ? Match : MissingWord;
}
