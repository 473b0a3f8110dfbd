#include "RichTextBound.h"
#include "HtmlEntities.h"
#include "Kit.h"
#include "TextBound.h"
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>
#include <array>
#include <vector>

namespace {

enum class Kind {
    Inline, // formatting within a line
    Block, // a block that may hold paragraphs
    Para, // a paragraph, closed by the next block
    List,
    Item,
    Table,
    Group, // thead, tbody, tfoot
    Row,
    Cell,
    Break, // br
    Rule, // hr
    Skip, // dropped together with all it holds
};

// kWraps: preformatted text whose long lines wrap, at its blanks and at the
// places to break that long words get; laid out in one line, a long line
// makes the document as wide as it is.
enum Attr : unsigned { kAlign = 1, kStyle = 2, kColor = 4, kSize = 8, kHref = 16, kBorder = 32, kWraps = 64 };

struct Rule {
    const char* name;
    Kind kind;
    unsigned attrs;
};

// clang-format off
constexpr Rule kRules[] = {
    { "b", Kind::Inline, 0 }, { "strong", Kind::Inline, 0 }, { "i", Kind::Inline, 0 }, { "em", Kind::Inline, 0 },
    { "u", Kind::Inline, 0 }, { "s", Kind::Inline, 0 }, { "strike", Kind::Inline, 0 }, { "del", Kind::Inline, 0 },
    { "ins", Kind::Inline, 0 }, { "small", Kind::Inline, 0 }, { "big", Kind::Inline, 0 },
    { "sub", Kind::Inline, 0 }, { "sup", Kind::Inline, 0 }, { "code", Kind::Inline, 0 }, { "tt", Kind::Inline, 0 },
    { "font", Kind::Inline, kColor | kSize }, { "span", Kind::Inline, kStyle }, { "a", Kind::Inline, kHref },
    { "br", Kind::Break, 0 }, { "hr", Kind::Rule, 0 },
    { "p", Kind::Para, kAlign | kStyle }, { "div", Kind::Block, kAlign | kStyle }, { "center", Kind::Block, 0 },
    { "blockquote", Kind::Block, 0 }, { "pre", Kind::Block, kWraps },
    { "h1", Kind::Block, kAlign }, { "h2", Kind::Block, kAlign }, { "h3", Kind::Block, kAlign },
    { "h4", Kind::Block, kAlign }, { "h5", Kind::Block, kAlign }, { "h6", Kind::Block, kAlign },
    { "ul", Kind::List, 0 }, { "ol", Kind::List, 0 }, { "li", Kind::Item, 0 },
    { "table", Kind::Table, kBorder }, { "thead", Kind::Group, 0 }, { "tbody", Kind::Group, 0 },
    { "tfoot", Kind::Group, 0 }, { "tr", Kind::Row, 0 }, { "td", Kind::Cell, kAlign }, { "th", Kind::Cell, kAlign },
    { "head", Kind::Skip, 0 }, { "title", Kind::Skip, 0 }, { "style", Kind::Skip, 0 }, { "script", Kind::Skip, 0 },
};
// clang-format on
constexpr int kRuleCount = int(std::size(kRules));

const Rule* FindRule(const QString& name)
{
    for (const Rule& rule : kRules)
        if (name == QLatin1String(rule.name))
            return &rule;
    return nullptr;
}

bool OneOf(const QString& value, std::initializer_list<const char*> words)
{
    for (const char* word : words)
        if (value == QLatin1String(word))
            return true;
    return false;
}

// "#rgb", "#rrggbb" (with alpha too), a colour's name, or rgb() of numbers.
bool IsColour(const QString& value)
{
    if (value.isEmpty() || value.size() > 32)
        return false;
    if (value.startsWith(QLatin1Char('#'))) {
        const qsizetype digits = value.size() - 1;
        if (digits != 3 && digits != 4 && digits != 6 && digits != 8)
            return false;
        for (qsizetype i = 1; i < value.size(); ++i)
            if (!HtmlEntities::IsHex(value[i]))
                return false;
        return true;
    }
    if (value.startsWith(QLatin1String("rgb(")) && value.endsWith(QLatin1Char(')'))) {
        for (QChar c : value.mid(4, value.size() - 5))
            if (!c.isDigit() && c != QLatin1Char(',') && c != QLatin1Char(' ') && c != QLatin1Char('%'))
                return false;
        return true;
    }
    for (QChar c : value)
        if (!HtmlEntities::IsLetter(c))
            return false;
    return true;
}

// A font size the layout draws in reasonable time: at most 48 points or pixels.
bool IsFontSize(const QString& value)
{
    if (OneOf(value, { "xx-small", "x-small", "small", "medium", "large", "x-large", "xx-large" }))
        return true;
    if (!value.endsWith(QLatin1String("pt")) && !value.endsWith(QLatin1String("px")))
        return false;
    bool ok = false;
    const int size = value.left(value.size() - 2).toInt(&ok);
    return ok && size >= 1 && size <= 48;
}

// The declarations of a style attribute that only colour and emphasise.
QString CleanStyle(const QString& style, bool block)
{
    QString out;
    for (const QString& declaration : style.split(QLatin1Char(';'))) {
        const qsizetype colon = declaration.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString property = declaration.left(colon).trimmed().toLower();
        const QString value = declaration.mid(colon + 1).trimmed().toLower();
        bool ok = false;
        if (property == QLatin1String("color") || property == QLatin1String("background-color"))
            ok = IsColour(value);
        else if (property == QLatin1String("font-weight"))
            ok = OneOf(value,
                { "bold", "bolder", "lighter", "normal", "100", "200", "300", "400", "500", "600", "700",
                    "800", "900" });
        else if (property == QLatin1String("font-style"))
            ok = OneOf(value, { "italic", "oblique", "normal" });
        else if (property == QLatin1String("text-decoration"))
            ok = OneOf(value, { "underline", "line-through", "overline", "none" });
        else if (property == QLatin1String("font-size"))
            ok = IsFontSize(value);
        else if (property == QLatin1String("text-align"))
            ok = block && OneOf(value, { "left", "right", "center", "justify" });
        if (ok)
            out += property + QLatin1Char(':') + value + QLatin1Char(';');
    }
    return out;
}

// A link the browser may open, as the document will read it; empty otherwise.
QString CleanHref(const QString& href)
{
    const QUrl url(href.trimmed());
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QString();
    return url.toString(QUrl::FullyEncoded);
}

// Reads markup and writes it anew within the bounds.
class Writer {
public:
    Writer(const QString& in, RichTextBound::Runs runs)
        : m_in(in)
        , m_isolate(runs == RichTextBound::Isolated)
    {
        m_ghosts.fill(0);
    }

    QString Run()
    {
        m_out.reserve(qMin<qsizetype>(m_in.size(), RichTextBound::kMaxText * 2));
        while (m_pos < m_in.size() && !m_full) {
            const QChar c = m_in[m_pos];
            if (c == QLatin1Char('<') && m_tags && ReadMarkup())
                continue;
            if (c == QLatin1Char('&'))
                AddText(ReadEntity());
            else {
                AddText(c);
                ++m_pos;
            }
        }
        Flush();
        while (!m_open.empty())
            Close();
        return m_out;
    }

private:
    struct Tag {
        QString name;
        bool closing = false;
        QString align, style, color, size, href, border;
    };

    // At a "<": a tag, a comment or a declaration, read and handled; false
    // when it is none, so that the "<" is text.
    bool ReadMarkup()
    {
        const qsizetype start = m_pos;
        const QChar next = start + 1 < m_in.size() ? m_in[start + 1] : QChar();
        if (next == QLatin1Char('!') || next == QLatin1Char('?')) {
            const bool comment = m_in.mid(start, 4) == QLatin1String("<!--");
            const qsizetype end = comment ? m_in.indexOf(QLatin1String("-->"), start + 4)
                                          : m_in.indexOf(QLatin1Char('>'), start);
            m_pos = end < 0 ? m_in.size() : end + (comment ? 3 : 1);
            return true;
        }
        Tag tag;
        const Read read = ReadTag(tag);
        if (read != Read::Tag) {
            // Without an end anywhere, nothing after this is a tag either.
            m_pos = start;
            m_tags = read != Read::NoEnd;
            return false;
        }
        const Rule* rule = FindRule(tag.name);
        if (!rule)
            return true;
        if (rule->kind == Kind::Skip) {
            if (!tag.closing) {
                const qsizetype end
                    = m_in.indexOf(QLatin1String("</") + tag.name, m_pos, Qt::CaseInsensitive);
                const qsizetype close = end < 0 ? -1 : m_in.indexOf(QLatin1Char('>'), end);
                m_pos = close < 0 ? m_in.size() : close + 1;
            }
            return true;
        }
        if (tag.closing)
            CloseTag(rule);
        else
            OpenTag(rule, tag);
        return true;
    }

    enum class Read { Tag, NotTag, NoEnd };

    // Reads "<name attributes>" or "</name>".
    Read ReadTag(Tag& tag)
    {
        qsizetype i = m_pos + 1;
        const qsizetype n = m_in.size();
        if (i < n && m_in[i] == QLatin1Char('/')) {
            tag.closing = true;
            ++i;
        }
        if (i >= n || !HtmlEntities::IsLetter(m_in[i]))
            return Read::NotTag;
        const qsizetype nameStart = i;
        while (i < n && HtmlEntities::IsNameChar(m_in[i]))
            ++i;
        tag.name = m_in.mid(nameStart, i - nameStart).toLower();
        while (i < n) {
            const QChar c = m_in[i];
            if (c == QLatin1Char('>')) {
                m_pos = i + 1;
                return Read::Tag;
            }
            if (c.isSpace() || c == QLatin1Char('/')) {
                ++i;
                continue;
            }
            const qsizetype attrStart = i;
            while (i < n && !m_in[i].isSpace() && m_in[i] != QLatin1Char('=') && m_in[i] != QLatin1Char('>'))
                ++i;
            const QString attr = m_in.mid(attrStart, i - attrStart).toLower();
            while (i < n && m_in[i].isSpace())
                ++i;
            QString value;
            if (i < n && m_in[i] == QLatin1Char('=')) {
                ++i;
                while (i < n && m_in[i].isSpace())
                    ++i;
                qsizetype valueStart = i;
                qsizetype valueEnd;
                if (i < n && (m_in[i] == QLatin1Char('"') || m_in[i] == QLatin1Char('\''))) {
                    valueEnd = m_in.indexOf(m_in[i], i + 1);
                    if (valueEnd < 0)
                        return Read::NoEnd;
                    ++valueStart;
                    i = valueEnd + 1;
                } else {
                    while (i < n && !m_in[i].isSpace() && m_in[i] != QLatin1Char('>'))
                        ++i;
                    valueEnd = i;
                }
                value = Decode(m_in.mid(valueStart, valueEnd - valueStart));
            }
            if (attr == QLatin1String("align"))
                tag.align = value.trimmed().toLower();
            else if (attr == QLatin1String("style"))
                tag.style = value;
            else if (attr == QLatin1String("color"))
                tag.color = value.trimmed().toLower();
            else if (attr == QLatin1String("size"))
                tag.size = value.trimmed();
            else if (attr == QLatin1String("href"))
                tag.href = value;
            else if (attr == QLatin1String("border"))
                tag.border = value.trimmed();
        }
        return Read::NoEnd;
    }

    // The attributes the element keeps, as markup.
    static QString Attributes(const Rule* rule, const Tag& tag)
    {
        QString out;
        auto add = [&out](const char* name, const QString& value) {
            out += QLatin1Char(' ') + QLatin1String(name) + QStringLiteral("=\"") + value.toHtmlEscaped()
                + QLatin1Char('"');
        };
        if ((rule->attrs & kAlign) && OneOf(tag.align, { "left", "right", "center", "justify" }))
            add("align", tag.align);
        if (rule->attrs & kStyle) {
            const QString style = CleanStyle(tag.style, rule->kind != Kind::Inline);
            if (!style.isEmpty())
                add("style", style);
        }
        if ((rule->attrs & kColor) && IsColour(tag.color))
            add("color", tag.color);
        const QString size = tag.size.startsWith(QLatin1Char('+')) || tag.size.startsWith(QLatin1Char('-'))
            ? tag.size.mid(1)
            : tag.size;
        if ((rule->attrs & kSize) && size.size() == 1 && size[0] >= QLatin1Char('1')
            && size[0] <= QLatin1Char('7'))
            add("size", tag.size);
        if (rule->attrs & kHref)
            add("href", CleanHref(tag.href));
        if ((rule->attrs & kBorder) && tag.border.size() == 1 && tag.border[0].isDigit())
            add("border", tag.border);
        if (rule->attrs & kWraps)
            add("style", QStringLiteral("white-space:pre-wrap"));
        return out;
    }

    int Count(Kind kind) const
    {
        int count = 0;
        for (const Rule* open : m_open)
            count += open->kind == kind;
        return count;
    }

    // The innermost open element that is not mere formatting, or null.
    const Rule* Container() const
    {
        for (auto it = m_open.rbegin(); it != m_open.rend(); ++it)
            if ((*it)->kind != Kind::Inline)
                return *it;
        return nullptr;
    }

    // Closes what the element's start ends by itself: a paragraph before a
    // block, the list item before the next, the cell and row before the next.
    void CloseImplied(Kind kind)
    {
        auto closeTo = [this](Kind open, std::initializer_list<Kind> stops) {
            for (size_t i = m_open.size(); i-- > 0;) {
                const Kind k = m_open[i]->kind;
                if (k == open) {
                    while (m_open.size() > i)
                        Close();
                    return;
                }
                for (Kind stop : stops)
                    if (k == stop)
                        return;
            }
        };
        switch (kind) {
        case Kind::Para:
        case Kind::Block:
        case Kind::List:
        case Kind::Table:
        case Kind::Rule:
            if (const Rule* container = Container(); container && container->kind == Kind::Para)
                closeTo(Kind::Para, {});
            break;
        case Kind::Item:
            closeTo(Kind::Item, { Kind::List, Kind::Table });
            break;
        case Kind::Row:
            closeTo(Kind::Row, { Kind::Table });
            break;
        case Kind::Cell:
            closeTo(Kind::Cell, { Kind::Row, Kind::Table });
            break;
        default:
            break;
        }
    }

    // Whether the element may open here.
    bool Allowed(const Rule* rule, const Tag& tag) const
    {
        if (rule->kind == Kind::Break)
            return m_breaks < RichTextBound::kMaxBreaks;
        if (int(m_open.size()) >= RichTextBound::kMaxDepth || m_elements >= RichTextBound::kMaxElements)
            return false;
        const Rule* container = Container();
        const Kind in = container ? container->kind : Kind::Block;
        const bool inTableFrame = in == Kind::Table || in == Kind::Group || in == Kind::Row;
        switch (rule->kind) {
        case Kind::Inline:
            return !(rule->attrs & kHref) || !CleanHref(tag.href).isEmpty();
        case Kind::Item:
            return in == Kind::List;
        case Kind::Group:
            return in == Kind::Table;
        case Kind::Row:
            return in == Kind::Table || in == Kind::Group;
        case Kind::Cell:
            return in == Kind::Row;
        case Kind::Table:
            return !inTableFrame && Count(Kind::Table) < RichTextBound::kMaxTableDepth;
        case Kind::List:
            return !inTableFrame && Count(Kind::List) < RichTextBound::kMaxListDepth;
        default:
            return !inTableFrame;
        }
    }

    void OpenTag(const Rule* rule, const Tag& tag)
    {
        CloseImplied(rule->kind);
        const bool voidElement = rule->kind == Kind::Break || rule->kind == Kind::Rule;
        if (!Allowed(rule, tag)) {
            // Shown without it; its end tag is passed over too. Words it kept
            // apart stay apart.
            if (!voidElement)
                ++m_ghosts[size_t(rule - kRules)];
            if (rule->kind != Kind::Inline)
                AddText(QLatin1Char(' '));
            return;
        }
        Flush();
        m_out += QLatin1Char('<') + QLatin1String(rule->name) + Attributes(rule, tag) + QLatin1Char('>');
        if (rule->kind == Kind::Break) {
            ++m_breaks;
            return;
        }
        ++m_elements;
        if (!voidElement)
            m_open.push_back(rule);
    }

    void CloseTag(const Rule* rule)
    {
        int& ghosts = m_ghosts[size_t(rule - kRules)];
        if (ghosts > 0) {
            --ghosts;
            return;
        }
        for (size_t i = m_open.size(); i-- > 0;)
            if (m_open[i] == rule) {
                Flush();
                while (m_open.size() > i)
                    Close();
                return;
            }
    }

    void Close()
    {
        Flush();
        m_out += QStringLiteral("</") + QLatin1String(m_open.back()->name) + QLatin1Char('>');
        m_open.pop_back();
    }

    void AddText(QChar c)
    {
        m_bound.Append(m_run, c);
        m_full = m_bound.Full();
    }

    void AddText(const QString& text)
    {
        for (QChar c : text)
            AddText(c);
    }

    // Pending text as markup: direction-isolated, or as it is when it is only
    // white space (which also stands between table rows and cells).
    void Flush()
    {
        m_bound.End(m_run);
        if (m_run.isEmpty())
            return;
        bool blank = true;
        for (QChar c : m_run)
            blank = blank && c.isSpace();
        m_out += blank ? m_run : (m_isolate ? IsolatedLines(m_run) : m_run).toHtmlEscaped();
        m_run.clear();
    }

    // At a "&": the character it names, or the "&" itself.
    QString ReadEntity() { return m_entities.DecodeAt(m_in, m_pos); }

    QString Decode(const QString& text) { return m_entities.Decode(text); }

    const QString& m_in;
    const bool m_isolate;
    qsizetype m_pos = 0;
    bool m_tags = true;
    bool m_full = false;
    QString m_out;
    QString m_run;
    std::vector<const Rule*> m_open;
    std::array<int, kRuleCount> m_ghosts;
    int m_elements = 0;
    int m_breaks = 0;
    TextBound m_bound;
    HtmlEntities m_entities;
};

} // namespace

QString RichTextBound::Html(const QString& markup, Runs runs)
{
    return Writer(markup, runs).Run();
}

QString RichTextBound::Plain(const QString& text)
{
    return TextBound::Shown(text, kMaxText);
}

void RichTextBound::SetText(QTextEdit* edit, const QString& text, Runs runs)
{
    if (Qt::mightBeRichText(text))
        edit->setHtml(Html(text, runs));
    else
        edit->setPlainText(runs == Isolated ? IsolatedLines(Plain(text)) : Plain(text));
}
