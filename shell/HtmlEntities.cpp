#include "HtmlEntities.h"
#include <QHash>
#include <QTextDocumentFragment>

namespace {
// Names looked up through the toolkit at most, per object.
constexpr int kMaxLookups = 64;
}

bool HtmlEntities::IsLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool HtmlEntities::IsNameChar(QChar c)
{
    return IsLetter(c) || (c.unicode() >= '0' && c.unicode() <= '9');
}

bool HtmlEntities::IsHex(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

QString HtmlEntities::Decode(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] == QLatin1Char('&'))
            out += DecodeAt(text, i);
        else
            out += text[i++];
    }
    return out;
}

QString HtmlEntities::DecodeAt(const QString& text, qsizetype& pos)
{
    const qsizetype n = text.size();
    qsizetype i = pos + 1;
    if (i < n && text[i] == QLatin1Char('#')) {
        ++i;
        const bool hex = i < n && (text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'));
        if (hex)
            ++i;
        const qsizetype digits = i;
        while (i < n && i - digits < 8 && (hex ? IsHex(text[i]) : text[i].isDigit()))
            ++i;
        if (i > digits) {
            char32_t code = char32_t(text.mid(digits, i - digits).toUInt(nullptr, hex ? 16 : 10));
            if (i < n && text[i] == QLatin1Char(';'))
                ++i;
            pos = i;
            if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                code = QChar::ReplacementCharacter;
            return QString::fromUcs4(&code, 1);
        }
    } else if (i < n && IsLetter(text[i])) {
        const qsizetype name = i;
        while (i < n && i - name < 32 && IsNameChar(text[i]))
            ++i;
        if (i < n && text[i] == QLatin1Char(';')) {
            pos = i + 1;
            return Named(text.mid(name, i - name));
        }
    }
    ++pos;
    return QStringLiteral("&");
}

QString HtmlEntities::Named(const QString& name)
{
    static const QHash<QString, QString> common {
        { QStringLiteral("amp"), QStringLiteral("&") },
        { QStringLiteral("lt"), QStringLiteral("<") },
        { QStringLiteral("gt"), QStringLiteral(">") },
        { QStringLiteral("quot"), QStringLiteral("\"") },
        { QStringLiteral("apos"), QStringLiteral("'") },
        { QStringLiteral("nbsp"), QString(QChar(0xA0)) },
    };
    if (auto it = common.find(name); it != common.end())
        return *it;
    // What the toolkit made of a name, for the whole run (GUI thread).
    static QHash<QString, QString> known;
    if (auto it = known.find(name); it != known.end())
        return *it;
    const QString written = QLatin1Char('&') + name + QLatin1Char(';');
    if (m_lookups >= kMaxLookups)
        return written;
    ++m_lookups;
    const QString decoded = QTextDocumentFragment::fromHtml(written).toPlainText();
    if (known.size() < 1024)
        known.insert(name, decoded);
    return decoded;
}
