#include "ChatLines.h"
#include "ChatLog.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPalette>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUrl>

namespace {

ChatLines::Clock g_clock = nullptr;

// Text in the colour a setting names (none when it names no colour).
QTextCharFormat Colored(const char* colorKey)
{
    QTextCharFormat format;
    if (const QColor color = QColor::fromString(settings.Get(colorKey)); color.isValid())
        format.setForeground(color);
    return format;
}

// About what the view's HTML export holds besides its lines.
constexpr int kHtmlHead = 480;

// About what a line adds to the view's HTML export: its paragraph (with the
// block state that keeps this weight), a tag around each formatted run, a
// link's target, the text with its escapes.
int HtmlWeight(const QTextBlock& block)
{
    int weight = 145;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QString text = fragment.text();
        weight += int(text.size());
        for (QChar c : text)
            weight += c == u'&' || c == u'"' ? 5 : c == u'<' || c == u'>' ? 3 : 0;
        const QTextCharFormat format = fragment.charFormat();
        if (format.propertyCount() > 0)
            weight += 40;
        if (format.isAnchor())
            weight += 40 + int(format.anchorHref().toHtmlEscaped().size());
    }
    return weight;
}

} // namespace

// Writes the pieces of one line at a cursor, each in its format, as the
// toolkit's HTML reader would show them: text literally, a run of white space
// as one blank, web addresses as links (ConvertLinks). Writing formatted runs
// directly costs the view a fraction of reading markup. The text is bounded
// as any text from outside (TextBound): what the view lays out of one line
// stays small, and a link keeps its whole target.
class ChatLines::LineWriter {
public:
    explicit LineWriter(QTextCursor& cursor)
        : m_cursor(cursor)
    {
    }

    void Write(const QString& text, const QTextCharFormat& format = QTextCharFormat())
    {
        qsizetype at = 0;
        // Most pieces hold no address: the search is left out for them.
        if (text.contains(QLatin1String("http"))) {
            for (auto it = WebAddresses().globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch match = it.next();
                Add(QStringView(text).mid(at, match.capturedStart() - at), format);
                QTextCharFormat link = format;
                link.setAnchor(true);
                link.setAnchorHref(match.captured());
                link.setForeground(QGuiApplication::palette().link().color());
                link.setUnderlineStyle(QTextCharFormat::SingleUnderline);
                Add(match.capturedView(), link);
                at = match.capturedEnd();
            }
        }
        Add(QStringView(text).mid(at), format);
    }

    // Writes what is still gathered.
    void End()
    {
        m_bound.End(m_run);
        if (!m_run.isEmpty())
            m_cursor.insertText(m_run, m_format);
        m_run.clear();
    }

private:
    // Gathers text of one format, to be written in one step.
    void Add(QStringView text, const QTextCharFormat& format)
    {
        if (format != m_format) {
            End();
            m_format = format;
        }
        for (QChar c : text) {
            if (m_bound.Full())
                return;
            const bool blank = c.isSpace() && c != QChar(QChar::Nbsp);
            if (blank && m_blank)
                continue;
            m_blank = blank;
            m_bound.Append(m_run, blank ? QChar(u' ') : c);
        }
    }

    QTextCursor& m_cursor;
    TextBound m_bound;
    QString m_run;
    QTextCharFormat m_format;
    // White space at the start of a line shows as nothing.
    bool m_blank = true;
};

ChatLines::ChatLines(QTextBrowser* view)
    : m_lastChat(Now())
{
    if (view)
        SetView(view);
}

void ChatLines::SetView(QTextBrowser* view)
{
    m_view = view;
    // Lines come and go for as long as the view is open: nothing of it is
    // kept for undoing.
    m_view->document()->setUndoRedoEnabled(false);
}

void ChatLines::SetClock(Clock clock)
{
    g_clock = clock;
}

QDateTime ChatLines::Now()
{
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

QString ChatLines::Action(const QString& trimmed)
{
    if (!trimmed.startsWith(QLatin1String("/me ")))
        return QString();
    const QString action = trimmed.mid(4).trimmed();
    return action.isNull() ? QStringLiteral("") : action;
}

QString ChatLines::ActionStatus(const QString& user, const QString& action)
{
    return QStringLiteral("%1 %2").arg(IsolatedText(user), IsolatedLines(action));
}

void ChatLines::AddStatus(const QString& text)
{
    Append(false, [&text](LineWriter& line) {
        line.Write(QStringLiteral("* "));
        line.Write(text, Colored("color_chat_status"));
    });
}

bool ChatLines::CanSend()
{
    if (gp_server && gp_server->Reaches())
        return true;
    AddStatus(QStringLiteral("Not connected to the server: the message was not sent."));
    return false;
}

void ChatLines::AddLine(const QString& user, const QString& text, bool bounded, const QDateTime& when)
{
    const QString style = settings.Get("chat_timestamps");
    const QDateTime now = when.isValid() ? when : Now();
    m_lastChat = now;
    if (!m_started) {
        m_started = true;
        if (style == QLatin1String("activity_based"))
            AddStatus(QStringLiteral("Chat started ") + ChatLog::LongTime(now));
    }
    QString time;
    if (style == QLatin1String("per_message_short"))
        time = now.toString(QStringLiteral("h:mm:ss"));
    else if (style == QLatin1String("per_message_long"))
        time = ChatLog::LongTime(now);
    Append(bounded, [&](LineWriter& line) {
        if (!time.isEmpty()) {
            line.Write(QStringLiteral("["));
            line.Write(time, Colored("color_chat_timestamp"));
            line.Write(QStringLiteral("]"));
        }
        line.Write(QStringLiteral("["));
        line.Write(IsolatedText(user), Colored("color_chat_username"));
        line.Write(QStringLiteral("] "));
        line.Write(IsolatedLines(text));
    });
}

void ChatLines::Append(bool bounded, const std::function<void(LineWriter&)>& write)
{
    if (bounded && m_weight > kMaxHtml)
        Trim();
    // As the view appends: a new paragraph of plain formats, and a view that
    // showed its end goes on showing it.
    QTextDocument* document = m_view->document();
    QScrollBar* bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    LineWriter line(cursor);
    write(line);
    line.End();
    // The direction its text gives the paragraph, taken once: the layout
    // asks for it again and again.
    QTextBlockFormat paragraph = cursor.blockFormat();
    paragraph.setLayoutDirection(cursor.block().textDirection());
    cursor.setBlockFormat(paragraph);
    cursor.endEditBlock();
    if (atEnd)
        bar->setValue(bar->maximum());
    Count();
}

void ChatLines::Count()
{
    qint64 added = 0;
    QTextBlock block = m_view->document()->lastBlock();
    for (; block.isValid() && block.userState() < 0; block = block.previous()) {
        const int weight = HtmlWeight(block);
        block.setUserState(weight);
        added += weight;
    }
    m_weight = block.isValid() ? m_weight + added : kHtmlHead + added;
}

void ChatLines::Trim()
{
    QTextDocument* document = m_view->document();
    qint64 cut = 0;
    QTextBlock kept = document->firstBlock();
    while (cut < kCut && kept.next().isValid()) {
        cut += qMax(0, kept.userState());
        kept = kept.next();
    }
    const int keptWeight = kept.userState();
    const QTextBlockFormat keptFormat = kept.blockFormat();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.setPosition(kept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    // The first paragraph stays, now holding the kept line: it takes that
    // line's format and weight.
    cursor.setBlockFormat(keptFormat);
    cursor.endEditBlock();
    document->firstBlock().setUserState(keptWeight);
    m_weight -= cut;
}

void ChatLines::CheckInactivity()
{
    if (!m_started)
        return;
    if (m_lastChat.msecsTo(Now()) < 300000)
        return;
    m_started = false;
    if (settings.Get("chat_timestamps") == QLatin1String("activity_based"))
        AddStatus(QStringLiteral("Chat ended ") + ChatLog::LongTime(m_lastChat));
}

void ChatLines::OpenLink(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        QDesktopServices::openUrl(url);
}
