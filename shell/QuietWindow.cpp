#include "QuietWindow.h"
#include <QApplication>
#include <QEvent>
#include <QWidget>

QuietWindow::QuietWindow(QWidget* window, QWidget* previous)
    : QObject(window)
    , m_window(window)
    , m_previous(previous)
{
    m_shown.start();
    window->installEventFilter(this);
}

QWidget* QuietWindow::ActiveWindowBehindQuietOnes()
{
    // Two windows shown one after the other: the second may come while the
    // first still holds the activation it is handing back.
    QWidget* active = QApplication::activeWindow();
    for (int hops = 0; active && hops < 32; ++hops) {
        const auto* guard = active->findChild<QuietWindow*>(QString(), Qt::FindDirectChildrenOnly);
        if (!guard || !(guard->m_armed || guard->m_handingBack))
            break;
        active = guard->m_previous;
    }
    return active;
}

void QuietWindow::Show(QWidget* window)
{
    if (!window || window->isVisible())
        return;
    window->setWindowModality(Qt::NonModal);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    delete window->findChild<QuietWindow*>(QString(), Qt::FindDirectChildrenOnly);
    QWidget* previous = ActiveWindowBehindQuietOnes();
    if (previous && previous != window)
        new QuietWindow(window, previous);
    window->show();
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
        box->show();
    return box;
}

bool QuietWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::WindowActivate && m_armed) {
        m_armed = false;
        if (m_previous && m_previous->isVisible() && m_shown.elapsed() < kHandBackMs
            && QGuiApplication::mouseButtons() == Qt::NoButton) {
            m_handingBack = true;
            m_previous->activateWindow();
        }
    } else if (event->type() == QEvent::WindowDeactivate) {
        m_handingBack = false;
    }
    return false;
}
