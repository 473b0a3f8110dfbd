#pragma once
// A row of the user list: users online come first, then names in
// case-insensitive order; the other columns play no part.
#include <QTreeWidgetItem>

class UserListItemWidget : public QTreeWidgetItem {
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
};
