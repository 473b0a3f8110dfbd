#pragma once
// Windows that the user's own action did not open: a box or window that the
// server, the network or a timer brings up (a refused reconnection, a newer
// version, a message of the server's administrators, a rescan report, a
// failed save) appears without the keyboard. It is not modal, it is shown
// without being activated, and no key meant for another window answers it;
// the user reads it and closes it with the mouse, or switches to it first.
//
// Desktops differ in what they do with the keyboard, so the window guards
// itself:
// - An activation that the desktop makes as part of showing the window (Qt's
//   offscreen platform and some window managers activate every window shown)
//   is handed back to the window the user was in. So is one that comes just
//   after a window of the program that had the keyboard closed: the window
//   manager picks the next window itself, and it must not be this one. Both
//   come within kHandBackMs of the show or the close, before the user could
//   have seen the window and switched to it.
// - Any other activation (the task bar, a click, Alt+Tab) is the user's own,
//   at any time: the window keeps the keyboard.
// - Keys that arrive while the keyboard is being handed back go on to the
//   window it goes back to, so nothing typed there is lost; keys that arrive
//   within kKeyGuardMs of any activation are dropped: a key typed before the
//   user saw the window never answers it.
// Several such windows open at once are cascaded rather than stacked on one
// spot.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>

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

    // An activation this soon after the show, or after a window of the
    // program that had the keyboard closed, is the desktop's.
    static constexpr int kHandBackMs = 800;
    // Keys arriving this soon after the window became active answer nothing.
    static constexpr int kKeyGuardMs = 500;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class QuietKeyboard;
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
    // True when the key is not the window's to answer.
    bool TakeKey(QKeyEvent* event);

    QWidget* m_window;
    QPointer<QWidget> m_previous;
    QPointer<QWidget> m_handingBackTo; // the window still active meanwhile
    QElapsedTimer m_shown;
    QElapsedTimer m_handBack; // since the keyboard was handed back
    QElapsedTimer m_active; // since the last activation
    bool m_activated = false; // activated since the show
    bool m_clicked = false; // the user pressed a mouse button on it
};
