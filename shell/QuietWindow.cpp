#include "QuietWindow.h"
#include "ServerTimes.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QList>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <functional>

namespace {

// Time in which the event loop was free to hear from the desktop: it runs
// only while a guard waits on it, in ticks of the loop, and a tick that comes
// late because the loop was busy counts for no more than kLateMs. What the
// desktop sent while the loop was busy is handled as if it had come at once,
// which, as far as the desktop knew, it had.
class LoopClock : public QObject {
public:
    static constexpr int kTickMs = 10;
    static constexpr qint64 kLateMs = 50;

    explicit LoopClock(std::function<bool()> tick)
        : m_onTick(std::move(tick))
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(kTickMs);
        connect(&m_tick, &QTimer::timeout, this, &LoopClock::Tick);
    }
    qint64 Now() const { return m_total + (m_tick.isActive() ? qMin(m_last.elapsed(), kLateMs) : 0); }
    void Stop() { m_tick.stop(); }
    // Keeps the clock going for at least `ms` from now.
    void Need(qint64 ms)
    {
        m_until = qMax(m_until, Now() + ms);
        if (!m_tick.isActive()) {
            m_last.start();
            m_tick.start();
        }
    }

private:
    void Tick()
    {
        m_total += qMin(m_last.restart(), kLateMs);
        if (!m_onTick() && m_total >= m_until)
            m_tick.stop();
    }

    std::function<bool()> m_onTick;
    QTimer m_tick;
    QElapsedTimer m_last; // since the last tick
    qint64 m_total = 0;
    qint64 m_until = 0;
};

} // namespace

// What the guards need to see of the whole program while one is alive: keys
// and clicks reach the widgets inside a window, not the window, and a closing
// window is any window.
class QuietKeyboard : public QObject {
public:
    static QuietKeyboard& Instance()
    {
        static QuietKeyboard keyboard;
        return keyboard;
    }
    void AddGuard(QuietWindow* guard)
    {
        if (m_guards.isEmpty())
            qApp->installEventFilter(this);
        m_guards.append(guard);
    }
    void RemoveGuard(QuietWindow* guard)
    {
        m_guards.removeAll(guard);
        if (m_guards.isEmpty()) {
            qApp->removeEventFilter(this);
            m_clock.Stop();
        }
    }
    LoopClock& Clock() { return m_clock; }
    // The window whose close left the keyboard for the desktop to place,
    // while that is recent in loop time, or was within kServerPickMs of
    // `activated` in the server's.
    QWidget* RecentlyClosedParent(bool& recent, std::optional<quint32> activated = std::nullopt) const
    {
        if (!activated) {
            recent = m_closed >= 0 && m_clock.Now() - m_closed < QuietWindow::kDesktopMs;
        } else {
            const std::optional<quint32> closed = ServerTimes::Instance()->StampTime(m_closeStamp);
            recent
                = closed && std::abs(ServerTimes::Since(*activated, *closed)) <= QuietWindow::kServerPickMs;
        }
        return m_closedParent;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            if (QuietWindow* guard = GuardOf(watched))
                return guard->TakeKey(static_cast<QKeyEvent*>(event));
            return false;
        case QEvent::MouseButtonPress:
            if (QuietWindow* guard = GuardOf(watched))
                guard->OnPressed();
            return false;
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
        case QEvent::Hide: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (!widget || !widget->isWindow())
                return false;
            // A window that closes loses the activation first.
            if (event->type() != QEvent::Hide) {
                m_deactivated = event->type() == QEvent::WindowDeactivate ? widget : nullptr;
            } else if (widget == m_deactivated || widget == QApplication::activeWindow()) {
                m_closed = m_clock.Now();
                m_clock.Need(QuietWindow::kDesktopMs);
                if (ServerTimes* times = ServerTimes::Instance())
                    m_closeStamp = times->Stamp(widget->internalWinId());
                m_closedParent = widget->parentWidget() ? widget->parentWidget()->window() : nullptr;
            }
            return false;
        }
        default:
            return false;
        }
    }

private:
    QuietKeyboard()
        : m_clock([this] {
            bool waiting = false;
            for (const QPointer<QuietWindow>& guard :
                QList<QPointer<QuietWindow>>(m_guards.begin(), m_guards.end()))
                waiting = (guard && guard->OnTick()) || waiting;
            return waiting;
        })
    {
    }

    static QuietWindow* GuardOf(QObject* watched)
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        return widget ? QuietWindow::Guard(widget->window()) : nullptr;
    }

    QList<QuietWindow*> m_guards;
    LoopClock m_clock;
    qint64 m_closed = -1;
    int m_closeStamp = -1; // the server's time of the close
    QPointer<QWidget> m_closedParent;
    QPointer<QWidget> m_deactivated; // the last window to lose the activation, while none has it
};

namespace {

// Windows shown by Show or Bring, the newest last.
QList<QPointer<QWidget>>& Placed()
{
    static QList<QPointer<QWidget>> placed;
    return placed;
}

// A cascade's step where the desktop tells no title bar's height.
constexpr int kLeastCascadeStep = 24;

// The frame the desktop puts round the program's windows, where one shows.
QMargins FrameOfOthers()
{
    for (const QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->windowHandle() && !window->windowHandle()->frameMargins().isNull())
            return window->windowHandle()->frameMargins();
    return {};
}

// Keys on their way to a window that is no longer active go where the
// keyboard went.
void Forward(QKeyEvent* event, QWidget* window)
{
    // Windows handing back to each other would pass a key round for ever.
    static int depth = 0;
    if (depth > 2)
        return;
    ++depth;
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
        ushort(event->count()));
    copy.setTimestamp(event->timestamp());
    QApplication::sendEvent(target, &copy);
    --depth;
}

// A window the keyboard can go back to.
bool CanTakeBack(const QWidget* back, const QWidget* from)
{
    return back && back != from && back->isVisible() && !back->isMinimized();
}

} // namespace

QuietWindow::QuietWindow(QWidget* window, QWidget* previous)
    : QObject(window)
    , m_window(window)
    , m_previous(previous)
{
    window->installEventFilter(this);
    QuietKeyboard::Instance().AddGuard(this);
    // Until it comes on screen, the clock keeps counting how long it takes.
    QuietKeyboard::Instance().Clock().Need(kKeyGuardMs);
}

QuietWindow::~QuietWindow()
{
    QuietKeyboard::Instance().RemoveGuard(this);
    if (ServerTimes* times = ServerTimes::Instance(); times && m_id)
        times->Forget(m_id);
}

QuietWindow* QuietWindow::Guard(const QWidget* window)
{
    return window ? window->findChild<QuietWindow*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

QWidget* QuietWindow::ActiveWindowBehindQuietOnes()
{
    // Two windows shown one after the other: the second may come while the
    // first still holds the activation it is handing back.
    QWidget* active = QApplication::activeWindow();
    for (int hops = 0; active && hops < 32; ++hops) {
        const QuietWindow* guard = Guard(active);
        if (!guard || (guard->m_keyboard != Keyboard::Deciding && guard->m_keyboard != Keyboard::HandingBack)
            || !guard->m_back)
            break;
        active = guard->m_back;
    }
    return active;
}

void QuietWindow::Place(QWidget* window)
{
    QList<QPointer<QWidget>>& placed = Placed();
    placed.removeAll(nullptr);
    QWidget* newest = nullptr;
    for (const QPointer<QWidget>& open : std::as_const(placed))
        if (open != window && open->isVisible())
            newest = open;
    placed.removeAll(window);
    placed.append(window);
    if (!newest)
        return; // placed as any window of its kind
    // One title bar's height down and right. Where that would leave the
    // screen, moved back inside it, or to its top left where another stands.
    // The frames are asked of the desktop: a window's own record of its frame
    // may still lack one the desktop has since put round it, and one just
    // shown may have none yet, where it gets one like the program's others.
    const QMargins own = newest->windowHandle() ? newest->windowHandle()->frameMargins() : QMargins();
    const QMargins margins = own.isNull() ? FrameOfOthers() : own;
    const int step = qMax(kLeastCascadeStep, margins.top());
    const QPoint frame
        = own.isNull() ? newest->pos() : newest->geometry().topLeft() - QPoint(own.left(), own.top());
    QPoint at = frame + QPoint(step, step);
    const QScreen* screen = newest->screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    // The size it will show with: its own if set, else what its layout asks,
    // at most half the screen (a box asks for its text on one line before it
    // wraps it).
    const QSize size = (window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint())
                           .boundedTo(room.size() / 2)
                           .expandedTo(window->minimumSize())
                           .expandedTo(QSize(1, 1));
    if (room.isValid() && !room.contains(QRect(at, size))) {
        at = QPoint(qMax(room.left(), qMin(at.x(), room.right() - size.width())),
            qMax(room.top(), qMin(at.y(), room.bottom() - size.height() - step)));
        for (const QPointer<QWidget>& open : std::as_const(placed))
            if (open != window && open->isVisible() && (open->pos() - at).manhattanLength() < step)
                at = room.topLeft() + QPoint(step, step);
    }
    // Made first and moved by its inside: moved before it is made, a box that
    // sizes itself as it shows puts its inside where its frame was to go. The
    // frame it will get is taken to be like the others'.
    window->winId();
    if (window->frameGeometry() == window->geometry())
        at += QPoint(margins.left(), margins.top());
    window->move(at);
}

void QuietWindow::Show(QWidget* window)
{
    if (!window || window->isVisible())
        return;
    window->setWindowModality(Qt::NonModal);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    delete Guard(window);
    auto* guard = new QuietWindow(window, ActiveWindowBehindQuietOnes());
    Place(window);
    window->winId();
    if (ServerTimes* times = ServerTimes::Instance()) {
        guard->m_id = window->winId();
        times->Watch(guard->m_id);
    }
    if (QWindow* handle = window->windowHandle()) {
        handle->installEventFilter(guard); // its exposes
        // A dialog of a minimised window would bring it back on some desktops.
        // A window shown again is tied to its owner again once that is back.
        const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
        if (owner && owner->isMinimized())
            handle->setTransientParent(nullptr);
        else if (owner && owner->windowHandle() && handle->transientParent() != owner->windowHandle())
            handle->setTransientParent(owner->windowHandle());
    }
    window->show();
}

void QuietWindow::Bring(QWidget* window)
{
    if (!window)
        return;
    delete Guard(window);
    window->setAttribute(Qt::WA_ShowWithoutActivating, false);
    if (!window->isVisible()) {
        Place(window);
        window->show();
    }
    window->raise();
    window->activateWindow();
}

QMessageBox* QuietWindow::Notice(
    QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text, bool quiet)
{
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    if (quiet)
        Show(box);
    else
        Bring(box);
    return box;
}

void QuietWindow::OnActivated()
{
    LoopClock& clock = QuietKeyboard::Instance().Clock();
    m_since = clock.Now();
    clock.Need(kKeyGuardMs);
    m_activated.reset();
    if (m_seen < 0)
        m_seen = m_since; // on screen by now, whatever the platform told
    if (std::exchange(m_pressed, false)) {
        m_keyboard = Keyboard::Users; // a click
        return;
    }
    if (ServerTimes* times = ServerTimes::Instance(); times && m_id) {
        // Once what the server sent up to now has been read, the activation's
        // time is known.
        m_keyboard = Keyboard::Judging;
        m_fence = times->Stamp(m_id);
        JudgeByServer();
        return;
    }
    JudgeByLoop();
}

void QuietWindow::JudgeByLoop()
{
    if (m_handedBack >= 0 && m_since - m_handedBack < kDesktopMs) {
        // The desktop put the keyboard straight back (KWin lets the program
        // move it, then undoes that): the window stays active, so its keys
        // are its own.
        m_keyboard = Keyboard::Desktops;
        return;
    }
    bool afterClose = false;
    QWidget* closedParent = QuietKeyboard::Instance().RecentlyClosedParent(afterClose);
    HandBackIfDesktops(m_since - m_seen < kDesktopMs, afterClose, closedParent);
}

bool QuietWindow::JudgeByServer()
{
    const ServerTimes* times = ServerTimes::Instance();
    const std::optional<quint32> at = times->Activated(m_id);
    if (!at) {
        if (!times->StampTime(m_fence))
            return false;
        // The window manager records the activation once the focus moved,
        // and a busy machine may keep it waiting past the stamp: its change
        // is waited for a while.
        if (times->Awaited(m_id) && QuietKeyboard::Instance().Clock().Now() - m_since < kAnswerMs)
            return false;
        // The desktop recorded no activation of its own: the keyboard came
        // back without it (KWin's refusal of the hand-back), or it tells no
        // times.
        JudgeByLoop();
        return true;
    }
    m_activated = at;
    const std::optional<quint32> pressed = times->Pressed(m_id);
    if (pressed && ServerTimes::Since(*pressed, *at) > -kPressMs) {
        m_keyboard = Keyboard::Users; // a click
    } else {
        const std::optional<quint32> mapped = times->Mapped(m_id);
        bool afterClose = false;
        QWidget* closedParent = QuietKeyboard::Instance().RecentlyClosedParent(afterClose, at);
        HandBackIfDesktops(mapped && std::abs(ServerTimes::Since(*at, *mapped)) <= kServerDesktopMs,
            afterClose, closedParent);
    }
    return true;
}

void QuietWindow::HandBackIfDesktops(bool atShow, bool afterClose, QWidget* closedParent)
{
    if (!atShow && !afterClose) {
        m_keyboard = Keyboard::Users;
        return;
    }
    QWidget* back = closedParent;
    if (atShow && m_previous)
        back = m_previous; // the desktop activates what it shows
    else if (!back && m_window->parentWidget()) // the desktop's pick after a close
        back = m_window->parentWidget()->window();
    m_back = back;
    m_keyboard = CanTakeBack(back, m_window) ? Keyboard::Deciding : Keyboard::Desktops;
}

void QuietWindow::OnPressed()
{
    if (m_keyboard == Keyboard::Away)
        m_pressed = true; // the activation it brings is the user's
    else if (m_keyboard != Keyboard::HandingBack)
        m_keyboard = Keyboard::Users;
}

bool QuietWindow::OnTick()
{
    ServerTimes* times = ServerTimes::Instance();
    const qint64 waited = QuietKeyboard::Instance().Clock().Now() - m_since;
    if (m_keyboard == Keyboard::Judging && !JudgeByServer()) {
        if (waited < kAnswerMs)
            return true;
        JudgeByLoop(); // the server never answered
    }
    if (m_keyboard == Keyboard::Deciding && m_activated) {
        // A click's press that reached the window since: the user's.
        const std::optional<quint32> pressed = times->Pressed(m_id);
        if (pressed && ServerTimes::Since(*pressed, *m_activated) > -kPressMs) {
            m_keyboard = Keyboard::Users;
            return false;
        }
        // Wait until the server's time is past any press that came with it.
        const std::optional<quint32> now = times->StampTime(m_fence);
        if (!now || ServerTimes::Since(*now, *m_activated) < kPressMs) {
            if (now)
                m_fence = times->Stamp(m_id);
            return true;
        }
    } else if (m_keyboard == Keyboard::Deciding && waited < kPressMs) {
        return true;
    }
    if (m_keyboard == Keyboard::Deciding) {
        if (!CanTakeBack(m_back, m_window)) {
            m_keyboard = Keyboard::Desktops;
            return false;
        }
        // No click came with the activation: the keyboard goes back.
        m_keyboard = Keyboard::HandingBack;
        m_since += waited;
        m_back->activateWindow();
        return true;
    }
    if (m_keyboard == Keyboard::HandingBack && (waited >= kAnswerMs || !m_back)) {
        m_keyboard = Keyboard::Desktops; // refused: the window stays active
        return false;
    }
    return m_keyboard == Keyboard::HandingBack;
}

bool QuietWindow::TakeKey(QKeyEvent* event)
{
    // What the loop's time has decided since the last tick counts for this
    // key too; by the time a key comes, the server's times of what came
    // before it have been read, and a change on the root still to come is
    // not waited for.
    OnTick();
    if (m_keyboard == Keyboard::Judging)
        JudgeByLoop();
    // The key's own time, where the server tells it.
    const bool timed = m_activated && event->timestamp() != 0;
    const auto since
        = [&](std::optional<quint32> then) { return ServerTimes::Since(quint32(event->timestamp()), *then); };
    if (m_keyboard == Keyboard::Deciding || m_keyboard == Keyboard::HandingBack) {
        // Typed before the user could see the window active: meant for the
        // one behind. Later, at the window that showed active: for none.
        if (m_back && event->type() != QEvent::ShortcutOverride
            && (!timed || since(m_activated) < kKeyGuardMs))
            Forward(event, m_back);
    } else if (m_keyboard != Keyboard::Desktops) {
        return false;
    } else if (timed) {
        const std::optional<quint32> mapped = ServerTimes::Instance()->Mapped(m_id);
        if (since(mapped ? mapped : m_activated) >= kKeyGuardMs)
            return false;
    } else if (QuietKeyboard::Instance().Clock().Now() - m_seen >= kKeyGuardMs) {
        return false;
    }
    // Accepted: no shortcut of this window fires, and the key goes on to no
    // widget around the one it came to.
    event->accept();
    return true;
}

bool QuietWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose && m_seen < 0 && watched == m_window->windowHandle()
        && m_window->windowHandle()->isExposed()) {
        m_seen = QuietKeyboard::Instance().Clock().Now();
        QuietKeyboard::Instance().Clock().Need(kKeyGuardMs);
    }
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::WindowActivate) {
        OnActivated();
    } else if (event->type() == QEvent::WindowDeactivate) {
        m_handedBack = m_keyboard == Keyboard::HandingBack ? QuietKeyboard::Instance().Clock().Now() : -1;
        m_keyboard = Keyboard::Away;
        m_back = nullptr;
    }
    return false;
}
