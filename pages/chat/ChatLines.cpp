#include "ChatLines.h"
#include "ChatLog.h"
#include "shell/Kit.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include <QDesktopServices>
#include <QTextBrowser>
#include <QUrl>

namespace {

ChatLines::Clock g_clock = nullptr;

QString Colored(const char* colorKey, const QString& html)
{
    return QStringLiteral("<font color=\"%1\">%2</font>").arg(settings.Get(colorKey).toHtmlEscaped(), html);
}

} // namespace

ChatLines::ChatLines(QTextBrowser* view)
    : m_view(view)
    , m_lastChat(Now())
{
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
    const QString html = ConvertLinks(QStringLiteral("* ") + Colored("color_chat_status", EscapeHTML(text)));
    Grow(html);
    m_view->append(html);
}

void ChatLines::AddLine(const QString& user, const QString& text, bool bounded)
{
    const QString style = settings.Get("chat_timestamps");
    const QDateTime now = Now();
    m_lastChat = now;
    if (!m_started) {
        m_started = true;
        if (style == QLatin1String("activity_based"))
            AddStatus(QStringLiteral("Chat started ") + ChatLog::LongTime(now));
    }
    QString html;
    if (style == QLatin1String("per_message_short") || style == QLatin1String("per_message_long")) {
        const QString time = now.toString(
            style == QLatin1String("per_message_short") ? QStringLiteral("h:mm:ss") : QStringLiteral("MMM d h:mm:ss ap"));
        html = QStringLiteral("[%1]").arg(Colored("color_chat_timestamp", time));
    }
    html += QStringLiteral("[%1] %2").arg(
        Colored("color_chat_username", EscapeHTML(IsolatedText(user))), EscapeHTML(IsolatedLines(text)));
    Append(ConvertLinks(html), bounded);
}

void ChatLines::Append(const QString& html, bool bounded)
{
    if (!bounded || m_htmlBound <= kMaxHtml) {
        Grow(html);
        m_view->append(html);
        return;
    }
    const QString source = m_view->document()->toHtml();
    m_htmlBound = source.size();
    if (source.size() <= kMaxHtml) {
        Grow(html);
        m_view->append(html);
        return;
    }
    // Keep the newer part, starting at a line boundary of the source.
    QString kept = source.mid(kCut);
    const qsizetype lineEnd = kept.indexOf(QLatin1Char('\n'));
    if (lineEnd >= 0)
        kept.remove(0, lineEnd + 1);
    m_view->setUpdatesEnabled(false);
    m_view->clear();
    m_view->append(kept);
    m_view->append(html);
    m_view->setUpdatesEnabled(true);
    m_htmlBound = kMaxHtml + 1; // measured again before the next line
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
