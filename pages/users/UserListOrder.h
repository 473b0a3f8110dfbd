#pragma once
// The order of the user list (online users first, then names without regard
// to case) as users come and go.
//
// Each row sits where the online state it was last placed with puts it
// (UserListItemWidget::placedOnline), so the list is always sorted by those
// states and a row is found by a binary search. A change of state is noted
// and applied at the end of the turn, together with every other change of
// that turn: the row's icon follows the state, and the row moves only when
// its place changes. A server that reports thousands of users at once costs
// a few steps per user and one relayout of the view per turn, not one each.
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QTreeWidget;
class QTreeWidgetItem;
class UserListItemWidget;

class UserListOrder : public QObject {
    Q_OBJECT
public:
    explicit UserListOrder(QTreeWidget* list);

    // A new row, not in the list yet: shown with the user's state and put in
    // its place at once, after the changes still waiting.
    void Place(UserListItemWidget* row);
    // The user's online state changed; the row follows at the end of the turn.
    void Changed(const QString& user);
    // Applies the changes noted so far (a bounded slice; the rest follows in
    // the next turn).
    void Apply();

private:
    int IndexOf(UserListItemWidget* row) const;
    // Where a row of this state and name goes: before the first row placed
    // after it.
    int PlaceOf(bool online, const QString& name) const;
    void Follow(UserListItemWidget* row, bool online);

    QTreeWidget* m_list;
    QSet<QString> m_changed;
    QTimer m_apply;
};
