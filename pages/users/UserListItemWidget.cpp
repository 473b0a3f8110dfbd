#include "UserListItemWidget.h"
#include "store/Data.h"

bool UserListItemWidget::IsOnline(const QString& user)
{
    return ::d.GetType("user")->HasItem(Value(user)).IsConnected("is_online");
}

bool UserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QString a = text(0);
    const QString b = other.text(0);
    return Less(IsOnline(a), a, IsOnline(b), b);
}
