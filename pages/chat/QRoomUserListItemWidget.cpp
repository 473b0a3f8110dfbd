#include "QRoomUserListItemWidget.h"
#include "store/Data.h"

namespace {

ItemPtr User(const QTreeWidgetItem& row)
{
    Type* users = d.HasType("user");
    return users ? users->HasItem(Value(row.text(2))) : ItemPtr();
}

} // namespace

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    const int column = list ? list->sortColumn() : 2;
    switch (column) {
    case 1:
        return User(*this)["country_code"].AsString().compare(User(other)["country_code"].AsString(), Qt::CaseInsensitive) < 0;
    case 3:
        return User(*this).IsConnected("user_note") && !User(other).IsConnected("user_note");
    case 4:
        return User(*this)["shared_file_count"].AsInt() > User(other)["shared_file_count"].AsInt();
    case 5:
        return User(*this)["average_download_speed"].AsInt() > User(other)["average_download_speed"].AsInt();
    default:
        return text(2).compare(other.text(2), Qt::CaseInsensitive) < 0;
    }
}
