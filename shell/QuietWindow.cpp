#include "QuietWindow.h"
#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QScreen>
#include <QWidget>

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
    void AddGuard()
    {
        if (m_guards++ == 0)
            qApp->installEventFilter(this);
    }
    void RemoveGuard()
    {
        if (--m_guards == 0)
            qApp->removeEventFilter(this);
    }
    // The window whose close left the keyboard for the desktop to place,
    // while that is recent.
    QWidget* RecentlyClosedParent(bool& recent) const
    {
        recent = m_closed.isValid() && m_closed.elapsed() < QuietWindow::kHandBackMs;
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
                guard->m_clicked = true;
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
                m_closed.start();
                m_closedParent = widget->parentWidget() ? widget->parentWidget()->window() : nullptr;
            }
            return false;
        }
        default:
            return false;
        }
    }

private:
    static QuietWindow* GuardOf(QObject* watched)
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        return widget ? QuietWindow::Guard(widget->window()) : nullptr;
    }

    int m_guards = 0;
    QElapsedTimer m_closed;
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
    QApplication::sendEvent(target, &copy);
    --depth;
}

} // namespace

QuietWindow::QuietWindow(QWidget* window, QWidget* previous)
    : QObject(window)
    , m_window(window)
    , m_previous(previous)
{
    m_shown.start();
    window->installEventFilter(this);
    QuietKeyboard::Instance().AddGuard();
}

QuietWindow::~QuietWindow()
{
    QuietKeyboard::Instance().RemoveGuard();
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
        if (!guard || !guard->m_handingBackTo)
            break;
        active = guard->m_handingBackTo;
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
    // One title bar's height down and right, back at the top left of the
    // screen when it would leave it.
    const int step = qMax(24, newest->geometry().y() - newest->frameGeometry().y());
    QPoint at = newest->pos() + QPoint(step, step);
    const QScreen* screen = newest->screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const QSize size = window->sizeHint().expandedTo(window->minimumSize());
    if (room.isValid() && !room.contains(QRect(at, size)))
        at = room.topLeft() + QPoint(step, step);
    window->move(at);
}

void QuietWindow::Show(QWidget* window)
{
    if (!window || window->isVisible())
        return;
    window->setWindowModality(Qt::NonModal);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    delete Guard(window);
    new QuietWindow(window, ActiveWindowBehindQuietOnes());
    Place(window);
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
    m_active.start();
    const bool first = !std::exchange(m_activated, true);
    if (m_clicked)
        return; // the user's own
    bool afterClose = false;
    QWidget* back = QuietKeyboard::Instance().RecentlyClosedParent(afterClose);
    if (first && m_shown.elapsed() < kHandBackMs && m_previous)
        back = m_previous; // the desktop activates what it shows
    else if (!afterClose)
        return;
    else if (!back && m_window->parentWidget()) // the desktop's pick after a close
        back = m_window->parentWidget()->window();
    if (!back || back == m_window || !back->isVisible())
        return;
    m_handingBackTo = back;
    m_handBack.start();
    back->activateWindow();
}

bool QuietWindow::TakeKey(QKeyEvent* event)
{
    // The keys of the hand-back go on only while it is under way: a desktop
    // that refuses it leaves the window active, and what the user then types
    // is for the window that shows active.
    const bool handingBack = m_handingBackTo && m_handBack.elapsed() < kHandBackMs;
    if (!handingBack && !(m_active.isValid() && m_active.elapsed() < kKeyGuardMs))
        return false;
    if (handingBack && event->type() != QEvent::ShortcutOverride)
        Forward(event, m_handingBackTo);
    // Accepted: no shortcut of this window fires, and the key goes on to no
    // widget around the one it came to.
    event->accept();
    return true;
}

bool QuietWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::WindowActivate)
        OnActivated();
    else if (event->type() == QEvent::WindowDeactivate)
        m_handingBackTo = nullptr;
    return false;
}
