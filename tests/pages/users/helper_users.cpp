#include "helper_users.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserListItemWidget.h"
#include "pages/users/UserMenuOptions.h"
#include "store/Data.h"
#include <QMenu>
#include <QTreeWidget>

ItemPtr FindUser(const QString& name)
{
    return d.GetType("user")->HasItem(Value(name));
}

QStringList Names(QTreeWidget* list)
{
    QStringList names;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        names.append(UserListItemWidget::User(list->topLevelItem(i)));
    return names;
}

QTreeWidgetItem* Row(QTreeWidget* list, const QString& name)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (UserListItemWidget::User(list->topLevelItem(i)) == name)
            return list->topLevelItem(i);
    return nullptr;
}

bool ShowsOnline(QTreeWidgetItem* row)
{
    return row && row->icon(0).cacheKey() == UserListForm::StatusIcon(true).cacheKey();
}

bool ShowsOffline(QTreeWidgetItem* row)
{
    return row && row->icon(0).cacheKey() == UserListForm::StatusIcon(false).cacheKey();
}

namespace {
void AddTexts(QMenu* menu, QStringList& out)
{
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            out.append(QStringLiteral("-"));
        else if (action->menu()) {
            out.append(action->text() + QLatin1Char('>'));
            AddTexts(action->menu(), out);
            out.append(QStringLiteral("<"));
        } else
            out.append(action->text());
    }
}
} // namespace

QStringList MenuTexts(const QString& user, const QString& pageEntry)
{
    QMenu menu;
    if (!pageEntry.isEmpty())
        menu.addAction(pageEntry);
    UserMenuOptions options(&menu, user, nullptr);
    QStringList texts;
    AddTexts(&menu, texts);
    return texts;
}

void AddToList(const QString& user)
{
    QMenu menu;
    UserMenuOptions(&menu, user, nullptr).OnAddUser();
}
