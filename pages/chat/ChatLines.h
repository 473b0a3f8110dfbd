#pragma once
// What every chat view (a room tab, a private chat tab) shares: how a line
// becomes rich text, the start and end of a conversation, status lines and the
// bounded view. The owner decides what a line is, logs it and raises events.
#include <QDateTime>
#include <QString>

class QTextBrowser;
class QUrl;

class ChatLines {
public:
    explicit ChatLines(QTextBrowser* view = nullptr);
    void SetView(QTextBrowser* view) { m_view = view; }

    // "* <status>" in the status colour, links made clickable. Names and texts
    // of others in it come isolated (ActionStatus).
    void AddStatus(const QString& text);
    // An ordinary line of a user: starts a conversation when none is going on
    // ("Chat started ..." in the activity-based style), then shows the line
    // with the timestamp style of the settings, user and text isolated. A bounded view is cut when its
    // HTML grew beyond kMaxHtml characters.
    void AddLine(const QString& user, const QString& text, bool bounded);
    // The 30-second check: a conversation ends 300 s after its last line.
    void CheckInactivity();

    // When the trimmed text is "/me <action>", the action (trimmed); else a
    // null string.
    static QString Action(const QString& trimmed);
    // "<user> <action>" as shown, each part isolated; the log takes it raw.
    static QString ActionStatus(const QString& user, const QString& action);

    // Opens a web link (http or https only) with the desktop's browser.
    static void OpenLink(const QUrl& url);

    // The local time every chat view reads. A stand-in clock can replace the
    // system's (for tests of the conversation's timing); null restores it.
    using Clock = QDateTime (*)();
    static void SetClock(Clock clock);
    static QDateTime Now();

    bool ChatStarted() const { return m_started; }
    const QDateTime& LastChat() const { return m_lastChat; }

    static constexpr int kMaxHtml = 250000;
    static constexpr int kCut = 50000;

private:
    void Append(const QString& html, bool bounded);

    // Grows the bound on the view's HTML by what one appended piece can add.
    void Grow(const QString& html) { m_htmlBound += 4 * html.size() + 500; }

    QTextBrowser* m_view;
    // An upper bound of the size of the view's HTML export. The export is
    // costly (a whole 250,000-character document for every line), so it is
    // made only when this bound says the view may have outgrown its limit.
    qint64 m_htmlBound = kMaxHtml + 1;
    bool m_started = false;
    QDateTime m_lastChat;
};
