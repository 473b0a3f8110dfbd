#pragma once
// A row of the room list: column 0 the room name (shown isolated and bounded,
// kept as it came), column 1 its number of users. Sorted by name, the rooms
// the user owns come first, then those the user operates, then member rooms,
// then the rest.
#include <QTreeWidgetItem>

class QRoomListItemWidget : public QTreeWidgetItem {
public:
    explicit QRoomListItemWidget(QTreeWidget* list = nullptr)
        : QTreeWidgetItem(list)
    {
    }
    // The characters of a name a row shows at most: more than its column
    // shows at any width.
    static constexpr int kShownName = 256;
    void SetRoom(const QString& name);
    // The room name of a row of the list, as it came.
    static QString Room(const QTreeWidgetItem& row);
    bool operator<(const QTreeWidgetItem& other) const override;
};
