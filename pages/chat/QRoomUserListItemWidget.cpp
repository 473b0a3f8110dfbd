#include "QRoomUserListItemWidget.h"
#include "RoomListModel.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
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
    setText(2, IsolatedText(TextBound::Shown(name, RoomListModel::kShownName)));
}

QString QRoomUserListItemWidget::User(const QTreeWidgetItem& row)
{
    return row.data(2, Qt::UserRole).toString();
}

bool QRoomUserListItemWidget::Less(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column)
{
    switch (column) {
    case 1:
        return UserItem(a)["country_code"].AsString().compare(
                   UserItem(b)["country_code"].AsString(), Qt::CaseInsensitive)
            < 0;
    case 3:
        return UserItem(a).IsConnected("user_note") && !UserItem(b).IsConnected("user_note");
    case 4:
        return UserItem(a)["shared_file_count"].AsInt() > UserItem(b)["shared_file_count"].AsInt();
    case 5:
        return UserItem(a)["average_download_speed"].AsInt() > UserItem(b)["average_download_speed"].AsInt();
    default:
        return User(a).compare(User(b), Qt::CaseInsensitive) < 0;
    }
}

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    return Less(*this, other, list ? list->sortColumn() : 2);
}
