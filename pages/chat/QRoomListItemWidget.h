#pragma once
// A row of the room list: column 0 the room name, column 1 its number of
// users. Sorted by name, the rooms the user owns come first, then those the
// user operates, then member rooms, then the rest.
#include <QTreeWidgetItem>

class QRoomListItemWidget : public QTreeWidgetItem {
public:
    explicit QRoomListItemWidget(QTreeWidget* list = nullptr)
        : QTreeWidgetItem(list)
    {
    }
    bool operator<(const QTreeWidgetItem& other) const override;
};
