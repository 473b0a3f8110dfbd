#pragma once
// The chat pages' calls into the users page (the user context menu and the
// note dialog). They are made only when the users page provides them; until
// then a user menu has no user entries and a note click does nothing.
#include <QMenu>
#include <QString>
#include <type_traits>
#if __has_include("pages/users/UserMenuOptions.h")
#include "pages/users/UserMenuOptions.h"
#endif
#if __has_include("pages/users/UserNoteDialog.h")
#include "pages/users/UserNoteDialog.h"
#endif

namespace user_hooks {

template <class T> auto ShowNote(const QString& user, int) -> decltype(T::GetDialog(user), void())
{
    if (auto* dialog = T::GetDialog(user))
        dialog->show();
}
template <class T> void ShowNote(const QString&, long) { }

template <class T, class = std::enable_if_t<std::is_constructible_v<T, QMenu*, QString, QObject*>>>
void Menu(QMenu& menu, const QString& user, const QPoint& at, int)
{
    T options(&menu, user, nullptr);
    if (!menu.isEmpty())
        menu.exec(at);
}
template <class T> void Menu(QMenu& menu, const QString&, const QPoint& at, long)
{
    if (!menu.isEmpty())
        menu.exec(at);
}

struct None { };

} // namespace user_hooks

// The user's note dialog, found or made, shown.
inline void ShowUserNote(const QString& user)
{
#if __has_include("pages/users/UserNoteDialog.h")
    user_hooks::ShowNote<UserNoteDialog>(user, 0);
#else
    Q_UNUSED(user);
#endif
}

// Fills the menu with the user entries and runs it at a global position; the
// entries' object lives until the menu has closed.
inline void RunUserMenu(QMenu& menu, const QString& user, const QPoint& at)
{
#if __has_include("pages/users/UserMenuOptions.h")
    user_hooks::Menu<UserMenuOptions>(menu, user, at, 0);
#else
    user_hooks::Menu<user_hooks::None>(menu, user, at, 0L);
#endif
}
