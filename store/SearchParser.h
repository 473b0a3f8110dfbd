#pragma once
// Cuts a search query into the words it asks for. The query is lower-cased and
// split at spaces and tabs; a double-quoted group stays one word (the quotes are
// dropped). A word written with a leading "-" must not occur, one with a
// leading "*" may occur as part of a word, every other word must occur. The
// prefix is read before any quote, so "-\"live set\"" excludes "live set" while
// "\"-live\"" asks for "-live".
#include <QSet>
#include <QString>

class SearchParser {
public:
    // Replaces the three sets from the query; false when it has neither an
    // included nor a partial word.
    bool SetSearchText(const QString& query);

    const QSet<QString>& GetIncludedTokenSet() const { return m_included; }
    const QSet<QString>& GetIncludedPartTokenSet() const { return m_partial; }
    const QSet<QString>& GetExcludedTokenSet() const { return m_excluded; }

private:
    void AddWord(const QString& raw, const QString& word);

    QSet<QString> m_included;
    QSet<QString> m_partial;
    QSet<QString> m_excluded;
};
