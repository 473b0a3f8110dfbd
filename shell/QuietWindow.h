#pragma once
// Windows that the user's own action did not open: a box or window that the
// server, the network or a timer brings up (a refused reconnection, a newer
// version, a message of the server's administrators, a rescan report, a
// failed save) appears without the keyboard. It is not modal, it is shown
// without being activated, and no key meant for another window answers it;
// the user reads it and closes it with the mouse, or switches to it first.
//
// Desktops differ in what they do with the keyboard, so the window guards
// itself, judging by what the desktop did rather than by a clock started when
// it was asked to show. Where the platform tells the display server's own
// times of keys, clicks, maps and activations (X11, see ServerTimes), they are
// the times compared below: the program's thread may have stood still while
// the user and the desktop acted, and their events keep the time they
// happened at. Elsewhere the times are loop time: time in which the event
// loop was free to hear from the desktop, so a loop kept busy by a flood does
// not stretch them (see LoopClock in the source).
// - An activation that the desktop makes as part of showing the window (Qt's
//   offscreen platform and some window managers activate every window they
//   map) comes within kServerDesktopMs of the map in the server's time
//   (within kDesktopMs of the loop first seeing the window on screen, in loop
//   time). One that comes within kServerPickMs (kDesktopMs) after a window of
//   the program that had the keyboard closed is the window manager's own
//   pick of the next window.
//   Both are handed back to the window the user was in, unless a click's
//   press on the window comes with them or after them: some window managers
//   activate a window before its click reaches it.
// - Any other activation (the task bar, a click, Alt+Tab) is the user's own,
//   however late the program hears of it: the window keeps the keyboard, and
//   the keys typed next answer it.
// - A key goes to the window that shows active. While the keyboard is on its
//   way back, keys the user typed before they could have seen the desktop's
//   activation (kKeyGuardMs) go on to the window it goes back to, so nothing
//   typed there is lost; later ones were pressed at the window that showed
//   active, and answer no window behind it (they are dropped). A desktop may
//   refuse the hand-back (KWin) by giving the keyboard straight back: then, or
//   once the loop has waited kAnswerMs for the keyboard to leave, the window
//   is the active one and its keys are its own, except that a window the
//   desktop activated drops keys until it has been on screen kKeyGuardMs: a
//   key typed before the user could see the window never answers it.
// - A window whose owner is minimised is not tied to it, so that a desktop
//   that brings back a minimised window for a dialog of its own (Metacity)
//   leaves it minimised; the keyboard is never handed back to a minimised
//   window either.
// Several such windows open at once are cascaded rather than stacked on one
// spot.
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <optional>

class QKeyEvent;
class QWidget;

class QuietWindow : public QObject {
    Q_OBJECT
public:
    // Shows the window (top-level, not yet shown) without activating it. A
    // window that is visible already is left where it is.
    static void Show(QWidget* window);

    // A box of plain text (the words may come from the server) that waits for
    // nothing and deletes itself when closed. With `quiet` it is shown as
    // above; without, it comes up with the keyboard (Bring).
    static QMessageBox* Notice(QWidget* parent, QMessageBox::Icon icon, const QString& title,
        const QString& text, bool quiet = true);

    // The window answers the user's own action: it is shown (or, shown
    // already, raised) and given the keyboard. A window shown quietly before
    // becomes an ordinary one.
    static void Bring(QWidget* window);

    // An activation this soon after the window came on screen, or after a
    // window of the program that had the keyboard closed, is the desktop's.
    static constexpr int kDesktopMs = 250;
    // In the server's time, the desktop activates a window it maps this soon
    // after its mark of the map (measured: 0-12 ms under Openbox, Metacity,
    // KWin, xfwm4 and IceWM with their defaults); a person's switch comes
    // later.
    static constexpr int kServerDesktopMs = 25;
    // In the server's time, the desktop picks the next window this soon after
    // one closed (measured: 0-14 ms; the window manager may be kept waiting
    // on a busy machine, and nobody switches this soon after a close).
    static constexpr int kServerPickMs = 100;
    // A press this soon before an activation is the click that made it.
    static constexpr int kPressMs = 50;
    // A hand-back still not done after this long was refused; an
    // activation's change on the root not come by then is not waited for.
    static constexpr int kAnswerMs = 150;
    // Keys are dropped until a window the desktop activated has been on
    // screen this long.
    static constexpr int kKeyGuardMs = 500;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class QuietKeyboard;
    // Who has the keyboard while the window is active.
    enum class Keyboard {
        Away, // the window is not active
        Judging, // activated, the server's times of it not all in yet
        Deciding, // activated by the desktop unless a click's press follows
        HandingBack, // asked to go back, the answer not come yet
        Desktops, // the desktop's activation, kept (nowhere to go, or refused)
        Users, // the user chose the window
    };

    QuietWindow(QWidget* window, QWidget* previous);
    ~QuietWindow() override;
    // The guard of a window shown quietly, or null.
    static QuietWindow* Guard(const QWidget* window);
    // The window to hand the keyboard back to, seen through windows that are
    // still handing theirs back.
    static QWidget* ActiveWindowBehindQuietOnes();
    // A window shown while others of its kind are open goes below and right
    // of the newest.
    static void Place(QWidget* window);
    void OnActivated();
    // Judges an activation by the loop's time.
    void JudgeByLoop();
    // Judges an activation by the server's times; false while they are not
    // all in.
    bool JudgeByServer();
    // Where an activation the desktop made as the window showed, or after a
    // window closed, hands the keyboard back to; any other is the user's.
    void HandBackIfDesktops(bool atShow, bool afterClose, QWidget* closedParent);
    void OnPressed();
    // Moves on what waits for the loop's time to pass; true while something
    // still does.
    bool OnTick();
    // True when the key is not the window's to answer.
    bool TakeKey(QKeyEvent* event);

    QWidget* m_window;
    QPointer<QWidget> m_previous;
    QPointer<QWidget> m_back; // where the keyboard goes back to
    Keyboard m_keyboard = Keyboard::Away;
    qint64 m_seen = -1; // loop time of the window's first expose
    qint64 m_since = 0; // loop time the current state began
    bool m_pressed = false; // a press came while the window was not active
    qint64 m_handedBack = -1; // loop time the keyboard last left on the window's request
    // With the server's times:
    WId m_id = 0;
    std::optional<quint32> m_activated; // the current activation, judged
    int m_fence = -1; // the stamp that tells when what came before it has been read
};
