#pragma once
// What every chat view (a room tab, a private chat tab) shares: how a line
// becomes rich text, the start and end of a conversation, status lines and the
// bounded view. The owner decides what a line is, logs it and raises events.
#include <QDateTime>
#include <QString>
#include <functional>

class QTextBrowser;
class QUrl;

class ChatLines {
public:
    explicit ChatLines(QTextBrowser* view = nullptr);
    void SetView(QTextBrowser* view);

    // "* <status>" in the status colour, links made clickable. Names and texts
    // of others in it come isolated (ActionStatus).
    void AddStatus(const QString& text);
    // An ordinary line of a user: starts a conversation when none is going on
    // ("Chat started ..." in the activity-based style), then shows the line
    // with the timestamp style of the settings, user and text isolated. A
    // bounded view first drops its oldest lines when its HTML grew beyond
    // kMaxHtml characters.
    // A line that came earlier and is shown only now gives the time it came.
    void AddLine(const QString& user, const QString& text, bool bounded, const QDateTime& when = QDateTime());
    // Whether a line typed now can go out: the client is logged in. When it
    // is not, the view says the line was not sent, and the owner leaves it in
    // its input line to be sent later (the server connection drops what is
    // sent offline).
    bool CanSend();
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
    class LineWriter;
    // Appends a paragraph that write() fills.
    void Append(bool bounded, const std::function<void(LineWriter&)>& write);
    // Adds what the lines appended since the last count add to the view's
    // HTML; a view that was cleared is counted anew.
    void Count();
    // Removes the oldest lines: kCut characters of HTML and the rest of the
    // line that holds the last of them.
    void Trim();

    QTextBrowser* m_view = nullptr;
    // About the size of the view's HTML export, from what each line adds
    // (kept in the line's block state). Exporting the whole view for each
    // line costs a millisecond and more.
    qint64 m_weight = 0;
    bool m_started = false;
    QDateTime m_lastChat;
};
