#include "TextBound.h"

namespace {

constexpr char16_t kBreak = 0x200B; // zero-width space
constexpr char16_t kEllipsis = 0x2026;

// A character that stacks on the one before it. None comes before the
// combining diacritical marks.
bool Stacks(char32_t c)
{
    if (c < 0x300)
        return false;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return c == 0x200C || c == 0x200D;
    }
}

} // namespace

// Whether the bound leaves the text as it is: printable ASCII within the
// length, no word longer than a line may hold. Most names are; they are
// shared, not copied a character at a time.
static bool PlainWithin(const QString& text, int maxLength)
{
    if (text.size() > maxLength)
        return false;
    int word = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u > 0x7e)
            return false;
        word = u == u' ' ? 0 : word + 1;
        if (word > TextBound::kMaxWord)
            return false;
    }
    return true;
}

QString TextBound::Shown(const QString& text, int maxLength)
{
    if (PlainWithin(text, maxLength))
        return text;
    TextBound bound(maxLength);
    QString out;
    const qsizetype kept = qMin<qsizetype>(text.size(), maxLength);
    out.reserve(kept + kept / kMaxWord + 2);
    for (QChar c : text) {
        bound.Append(out, c);
        if (bound.Full())
            break;
    }
    bound.End(out);
    return out;
}

void TextBound::Append(QString& out, QChar c)
{
    if (m_full)
        return;
    if (!m_high.isNull()) {
        const QChar high = m_high;
        m_high = QChar();
        if (c.isLowSurrogate()) {
            AppendCharacter(out, QChar::surrogateToUcs4(high, c), 2);
            return;
        }
        AppendCharacter(out, high.unicode(), 1);
        if (m_full)
            return;
    }
    if (c.isHighSurrogate())
        m_high = c;
    else
        AppendCharacter(out, c.unicode(), 1);
}

void TextBound::End(QString& out)
{
    if (m_full || m_high.isNull())
        return;
    const QChar high = m_high;
    m_high = QChar();
    AppendCharacter(out, high.unicode(), 1);
}

void TextBound::AppendCharacter(QString& out, char32_t c, int units)
{
    const bool mark = Stacks(c);
    if (mark && m_marks >= kMaxMarks)
        return;
    if (m_length + units > m_max) {
        out += QChar(kEllipsis);
        m_full = true;
        return;
    }
    m_length += units;
    if (mark)
        ++m_marks;
    else {
        m_marks = 0;
        if ((QChar::isSpace(c) && c != QChar::Nbsp) || c == kBreak)
            m_word = 0;
        else if (++m_word > kMaxWord) {
            out += QChar(kBreak);
            m_word = 1;
        }
    }
    if (units == 2) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
    } else
        out += QChar(char16_t(c));
}
