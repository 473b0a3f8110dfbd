#pragma once
// What every kit test needs: the settings declared, a main window that is the
// active window, and a way to read the store's settings.
#include "Data.h"
#include "Kit.h"
#include "Settings.h"
#include <QApplication>
#include <QMainWindow>
#include <QTest>

inline void PrepareKit()
{
    InitShellResources();
    Settings::CreateTypes();
}

// Shows the window and waits until it is the active window, so that focus
// changes reach the tool bars as they do for a user.
inline bool ShowActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

// A peer's name that would turn the rest of its line backwards.
inline const QString kHostileName = QString::fromUtf16(u"rtl\u202ELIVE.exe");

// Shown text that holds a peer's text direction-isolated, with no control
// left that could reorder it.
inline bool ShowsIsolated(const QString& shown, const QString& raw)
{
    for (char16_t control : { 0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x2066, 0x2067 })
        if (shown.contains(QChar(control)))
            return false;
    return shown.contains(IsolatedText(raw));
}

#include <QMessageBox>
#include <QTimer>

// Answers the next message box with OK once it shows, and keeps its title and
// text. Call before the code that opens it.
struct BoxAnswer {
    QString title;
    QString text;
    int count = 0;
};

inline void AnswerNextBox(BoxAnswer* answer)
{
    QTimer::singleShot(10, qApp, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            AnswerNextBox(answer);
            return;
        }
        answer->title = box->windowTitle();
        answer->text = box->text();
        ++answer->count;
        box->accept();
    });
}
