#pragma once
// A row of the user list: users online come first, then names in
// case-insensitive order; the other columns play no part.
#include <QTreeWidgetItem>

class UserListItemWidget : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;

    // The same order on a user's online state and case-folded name.
    static bool LessFolded(bool aOnline, const QString& aFolded, bool bOnline, const QString& bFolded)
    {
        if (aOnline != bOnline)
            return aOnline;
        return aFolded < bFolded;
    }
    static bool Less(bool aOnline, const QString& a, bool bOnline, const QString& b)
    {
        return LessFolded(aOnline, a.toCaseFolded(), bOnline, b.toCaseFolded());
    }
    static bool IsOnline(const QString& user);
};
