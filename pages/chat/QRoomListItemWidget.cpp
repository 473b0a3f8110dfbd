#include "QRoomListItemWidget.h"
#include "store/Data.h"

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    if (list && list->sortColumn() != 0)
        return text(1).toInt() < other.text(1).toInt();
    ::Type* rooms = ::d.GetType("room");
    const ItemPtr a = rooms->HasItem(Value(text(0)));
    const ItemPtr b = rooms->HasItem(Value(other.text(0)));
    for (const char* role : { "is_owner", "is_operator", "is_member" }) {
        const bool inA = a.IsConnected(role);
        if (inA != b.IsConnected(role))
            return inA;
    }
    return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
}
