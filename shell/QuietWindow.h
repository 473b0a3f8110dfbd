#pragma once
// Windows that the user's own action did not open: a box or window that the
// server, the network or a timer brings up (a refused reconnection, a newer
// version, a message of the server's administrators, a rescan report, a
// failed save) appears without the keyboard. It is not modal, it is shown
// without being activated, and no key meant for another window answers it;
// the user reads it and closes it with the mouse, or activates it first.
//
// Desktops that honour "show without activating" never give such a window
// the keyboard. Others (and Qt's offscreen platform) activate every window
// that is shown: a guard child of the window hands the activation straight
// back to the window that was active, so the focus returns to the widget the
// user was typing into. Only the first activation of the window is handed
// back, and only when it comes on the heels of the show with no mouse button
// down: a later activation, or one made by a click, is the user's own.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>

class QWidget;

class QuietWindow : public QObject {
    Q_OBJECT
public:
    // Shows the window (top-level, not yet shown) without activating it. A
    // window that is visible already is left where it is.
    static void Show(QWidget* window);

    // A box of plain text (the words may come from the server) that waits for
    // nothing and deletes itself when closed. With `quiet` it is shown as
    // above; without, it is shown and activated as any window the user opens.
    static QMessageBox* Notice(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        bool quiet = true);

    // An activation arriving this soon after the show is the desktop's.
    static constexpr int kHandBackMs = 5000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QuietWindow(QWidget* window, QWidget* previous);
    // The window to hand the keyboard back to, seen through windows that are
    // still handing theirs back.
    static QWidget* ActiveWindowBehindQuietOnes();

    QWidget* m_window;
    QPointer<QWidget> m_previous;
    QElapsedTimer m_shown;
    bool m_armed = true; // the next activation may be handed back
    bool m_handingBack = false; // handed back, the window still active
};
