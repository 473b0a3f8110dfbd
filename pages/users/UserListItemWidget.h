#pragma once
// A row of the user list: users online come first, then names in
// case-insensitive order; the other columns play no part.
//
// Column 0 of a row in any of the page's lists shows the user's name
// direction-isolated; the name itself, as stored, is kept in the cell's data
// and is what finds the user.
#include "shell/RowSlab.h"
#include <QTreeWidgetItem>

class UserListItemWidget : public QTreeWidgetItem, public SlabRows<UserListItemWidget> {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;

    // The same order on a user's online state and name.
    static bool Less(bool aOnline, const QString& a, bool bOnline, const QString& b)
    {
        if (aOnline != bOnline)
            return aOnline;
        return FoldedLess(a, b);
    }
    // a < b once both are case-folded.
    static bool FoldedLess(const QString& a, const QString& b);
    static bool IsOnline(const QString& user);

    // Sets column 0 of a row to the user; the user a row stands for.
    static void SetUser(QTreeWidgetItem* row, const QString& user);
    static QString User(const QTreeWidgetItem* row);

    // The online state the row's place in the user list was chosen by
    // (UserListOrder); the user's may have changed since.
    bool placedOnline = false;
};
