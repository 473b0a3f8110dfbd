#pragma once
// Messages from the server's administrators, each under the time it arrived.
// One window holds them all: a message that comes while it is open is added
// at its end, and only the newest kKeptMessages stay (the window says how
// many earlier ones it no longer shows). Display only. Closed, it forgets its
// messages and stays hidden, and the next message shows it again (a new
// native window costs the loop more than a burst of messages).
//
// Messages that come while it shows wait for the end of the event loop's
// pass, then go in together, and the oldest go out at once: a burst neither
// lays out nor drops the document once per message, nor puts in messages it
// drops again in the same pass.
#include <QDateTime>
#include <QDialog>
#include <deque>

class QLabel;
class QLineEdit;
class QTextBrowser;

class AdminMessageDialog : public QDialog {
    Q_OBJECT
public:
    AdminMessageDialog(const QString& message, QWidget* parent = nullptr);
    ~AdminMessageDialog() override;

    // Adds the message to the open window, or shows the window (above other
    // windows, without the keyboard) with it.
    static void Add(const QString& message, QWidget* parent);
    // The window of the messages (open, or closed and kept for the next), or null.
    static AdminMessageDialog* Open() { return s_open; }

    // Adds a message at the end once the loop's pass is over (ShowPending).
    void Append(const QString& message);
    // Puts in the messages waiting, dropping the oldest beyond the bound.
    void ShowPending();

    static constexpr int kKeptMessages = 100;

    QLabel* label;
    QLineEdit* timeEdit;
    // A text browser so that web links can be followed; it loads nothing.
    QTextBrowser* textEdit;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // ShowPending once the loop's pass is over.
    void QueueShow();
    // Replaces the line that counts the messages no longer shown, dropping
    // the `oldest` messages shown with the one it had (within ShowPending's
    // edit of the document).
    void Recount(int oldest);

    struct Pending {
        QDateTime time; // it came
        QString message;
    };
    static AdminMessageDialog* s_open;
    std::deque<Pending> m_pending; // at most kKeptMessages
    bool m_showQueued = false;
    int m_messages = 0; // in the document
    int m_dropped = 0; // no longer shown, or never shown
    int m_droppedTold = 0; // the figure the document says
};
