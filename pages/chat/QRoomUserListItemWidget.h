#pragma once
// A user's row in a room's user list. Column 2 shows the user name isolated
// and bounded as the room list shows room names, and keeps it as it came;
// the order reads the current store values of the two users for the sort
// column.
#include "shell/RowSlab.h"
#include <QTreeWidgetItem>

class QRoomUserListItemWidget : public QTreeWidgetItem, public SlabRows<QRoomUserListItemWidget> {
public:
    // A row never has rows under it: the list's view, laid out again over
    // all its rows when rows come, then skips the look for them.
    explicit QRoomUserListItemWidget(QTreeWidget* list = nullptr)
        : QTreeWidgetItem(list)
    {
        setFlags(flags() | Qt::ItemNeverHasChildren);
    }
    void SetUser(const QString& name);
    // The user name of a row of the list, as it came.
    static QString User(const QTreeWidgetItem& row);
    // Whether row a ranks before row b in ascending order of the column.
    static bool Less(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column);
    bool operator<(const QTreeWidgetItem& other) const override;
};
