#include "SearchParser.h"

bool SearchParser::SetSearchText(const QString& query)
{
    m_included.clear();
    m_partial.clear();
    m_excluded.clear();

    const QString text = query.toLower();
    QString raw; // the word as written, quotes included
    QString word; // the word without its quotes
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
            raw += c;
            continue;
        }
        if (!quoted && (c == u' ' || c == u'\t')) {
            AddWord(raw, word);
            raw.clear();
            word.clear();
            continue;
        }
        raw += c;
        word += c;
    }
    // An unclosed quote runs to the end of the query.
    AddWord(raw, word);
    return !m_included.isEmpty() || !m_partial.isEmpty();
}

void SearchParser::AddWord(const QString& raw, const QString& word)
{
    if (raw.isEmpty())
        return;
    QSet<QString>* target = &m_included;
    QString rest = word;
    if (raw.front() == u'-' || raw.front() == u'*') {
        target = raw.front() == u'-' ? &m_excluded : &m_partial;
        rest = word.mid(1);
    }
    // A bare prefix or an empty quoted group carries no word.
    if (!rest.isEmpty())
        target->insert(rest);
}
