#include "QRoomListItemWidget.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include "store/Data.h"

void QRoomListItemWidget::SetRoom(const QString& name)
{
    // The name first: a sorted list places the row as soon as its text is set.
    setData(0, Qt::UserRole, name);
    setText(0, IsolatedText(TextBound::Shown(name, kShownName)));
}

QString QRoomListItemWidget::Room(const QTreeWidgetItem& row)
{
    return row.data(0, Qt::UserRole).toString();
}

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    if (list && list->sortColumn() != 0)
        return text(1).toInt() < other.text(1).toInt();
    ::Type* rooms = ::d.GetType("room");
    const ItemPtr a = rooms->HasItem(Value(Room(*this)));
    const ItemPtr b = rooms->HasItem(Value(Room(other)));
    for (const char* role : { "is_owner", "is_operator", "is_member" }) {
        const bool inA = a.IsConnected(role);
        if (inA != b.IsConnected(role))
            return inA;
    }
    return Room(*this).compare(Room(other), Qt::CaseInsensitive) < 0;
}
