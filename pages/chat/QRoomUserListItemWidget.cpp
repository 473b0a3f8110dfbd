#include "QRoomUserListItemWidget.h"
#include "shell/Kit.h"
#include "store/Data.h"

namespace {

ItemPtr UserItem(const QTreeWidgetItem& row)
{
    Type* users = d.HasType("user");
    return users ? users->HasItem(Value(QRoomUserListItemWidget::User(row))) : ItemPtr();
}

} // namespace

void QRoomUserListItemWidget::SetUser(const QString& name)
{
    // The name first: a sorted list places the row as soon as its text is set.
    setData(2, Qt::UserRole, name);
    setText(2, IsolatedText(name));
}

QString QRoomUserListItemWidget::User(const QTreeWidgetItem& row)
{
    return row.data(2, Qt::UserRole).toString();
}

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    const int column = list ? list->sortColumn() : 2;
    switch (column) {
    case 1:
        return UserItem(*this)["country_code"].AsString().compare(
                   UserItem(other)["country_code"].AsString(), Qt::CaseInsensitive)
            < 0;
    case 3:
        return UserItem(*this).IsConnected("user_note") && !UserItem(other).IsConnected("user_note");
    case 4:
        return UserItem(*this)["shared_file_count"].AsInt() > UserItem(other)["shared_file_count"].AsInt();
    case 5:
        return UserItem(*this)["average_download_speed"].AsInt()
            > UserItem(other)["average_download_speed"].AsInt();
    default:
        return User(*this).compare(User(other), Qt::CaseInsensitive) < 0;
    }
}
