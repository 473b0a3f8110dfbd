#pragma once
// A user's row in a room's user list. Column 2 holds the user name; the order
// reads the current store values of the two users for the sort column.
#include <QTreeWidgetItem>

class QRoomUserListItemWidget : public QTreeWidgetItem {
public:
    explicit QRoomUserListItemWidget(QTreeWidget* list = nullptr)
        : QTreeWidgetItem(list)
    {
    }
    bool operator<(const QTreeWidgetItem& other) const override;
};
