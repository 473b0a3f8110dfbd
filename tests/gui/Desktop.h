#pragma once
// A real desktop for the keyboard's scenarios. Qt's offscreen platform
// activates every window it shows; a window manager does not, and it picks
// the next window itself when one closes. So these tests run the window on a
// virtual X server (Xvfb) under a window manager (MARROWBY_DESKTOP: openbox,
// kwin, kwin_default, metacity, xfwm4 or icewm), both started by the test before its
// QApplication and ended with it, and type and click as a user does: through
// the X server (xdotool), to whichever window the window manager gave the
// keyboard.
//
// The X server picks its own display number among the free ones
// (-displayfd), so tests side by side never collide. The test functions of
// one executable share the display and the window manager:
//
//     class TestKeyboard : public QObject { ... gui::Session session; ... };
//     DESKTOP_TEST_MAIN(TestKeyboard)
#include "GuiTest.h"

namespace gui::desktop {

// Starts the X server and the window manager and points Qt at them; false,
// with the reason on stderr, when either is missing or does not come up.
bool Start();
// The user switches to the window as a task bar does (_NET_ACTIVE_WINDOW).
bool SwitchTo(QWidget* window);
// Clicks of the left button at a point of the widget (its middle when null).
bool Click(QWidget* widget, QPoint at = QPoint(), int times = 1);
// Keys by their X names ("Return", "space", "alt+Tab"), one after another.
bool Keys(const QString& keys);
// xdotool's commands, run in one go (`meanwhile` runs once it has started);
// what they print goes to `output`.
bool Script(
    const QStringList& commands, const std::function<void()>& meanwhile = {}, QString* output = nullptr);
// Text, typed key by key, starting `afterMs` after the call; `meanwhile`
// runs as the typist waits.
bool Type(const QString& text, int afterMs = 0, const std::function<void()>& meanwhile = {});
// The window that shows active: the one the X server sends keys to, once Qt
// has heard the same; null while they differ.
QWidget* ShowsActive();
// Until the window is the active one, as Qt has heard from the X server, and
// the one the X server sends keys to.
bool WaitActive(QWidget* window, int ms = 10000);

} // namespace gui::desktop

#define DESKTOP_TEST_MAIN(TestObject) GUI_TEST_MAIN_AFTER(TestObject, if (!gui::desktop::Start()) return 1)
