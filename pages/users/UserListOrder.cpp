#include "UserListOrder.h"
#include "UserListForm.h"
#include "UserListItemWidget.h"
#include "store/Data.h"
#include <QTreeWidget>

namespace {

// Rows that follow their users in one turn; the rest wait for the next.
constexpr int kPerTurn = 500;

// Every row of the user list is one.
UserListItemWidget* ListRow(QTreeWidgetItem* row)
{
    return static_cast<UserListItemWidget*>(row);
}

// Whether the row, where it is placed, comes before a row of this state and name.
bool Before(QTreeWidgetItem* row, bool online, const QString& name)
{
    return UserListItemWidget::Less(ListRow(row)->placedOnline, UserListItemWidget::User(row), online, name);
}

bool After(QTreeWidgetItem* row, bool online, const QString& name)
{
    return UserListItemWidget::Less(online, name, ListRow(row)->placedOnline, UserListItemWidget::User(row));
}

} // namespace

UserListOrder::UserListOrder(QTreeWidget* list)
    : QObject(list)
    , m_list(list)
{
    m_apply.setSingleShot(true);
    m_apply.setInterval(0);
    connect(&m_apply, &QTimer::timeout, this, &UserListOrder::Apply);
}

void UserListOrder::Place(UserListItemWidget* row)
{
    // The others first: a user added after a change of state sees the list
    // as it stands.
    while (!m_changed.isEmpty())
        Apply();
    const QString name = UserListItemWidget::User(row);
    const bool online = UserListItemWidget::IsOnline(name);
    row->setIcon(0, UserListForm::StatusIcon(online));
    row->placedOnline = online;
    m_list->insertTopLevelItem(PlaceOf(online, name), row);
}

void UserListOrder::Changed(const QString& user)
{
    m_changed.insert(user);
    if (!m_apply.isActive())
        m_apply.start();
}

void UserListOrder::Apply()
{
    Type* users = d.GetType("user");
    int done = 0;
    for (auto it = m_changed.begin(); it != m_changed.end() && done < kPerTurn; ++done) {
        // Found again: the user may have left the list since.
        const ItemPtr user = users->HasItem(Value(*it));
        it = m_changed.erase(it);
        if (auto* row = user["user_list_node"].AsPointer<QTreeWidgetItem>())
            Follow(ListRow(row), user.IsConnected("is_online"));
    }
    if (!m_changed.isEmpty())
        m_apply.start();
}

int UserListOrder::PlaceOf(bool online, const QString& name) const
{
    int lo = 0;
    int hi = m_list->topLevelItemCount();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (Before(m_list->topLevelItem(mid), online, name))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int UserListOrder::IndexOf(UserListItemWidget* row) const
{
    // Names equal but for case share a place; the row is among them.
    const QString name = UserListItemWidget::User(row);
    const int count = m_list->topLevelItemCount();
    for (int at = PlaceOf(row->placedOnline, name); at < count; ++at) {
        QTreeWidgetItem* item = m_list->topLevelItem(at);
        if (item == row)
            return at;
        if (After(item, row->placedOnline, name))
            break;
    }
    return m_list->indexOfTopLevelItem(row);
}

void UserListOrder::Follow(UserListItemWidget* row, bool online)
{
    if (row->placedOnline == online)
        return;
    const int at = IndexOf(row);
    const QString name = UserListItemWidget::User(row);
    const int count = m_list->topLevelItemCount();
    row->placedOnline = online;
    // Between its neighbours still, the row stays where it is.
    const bool stays = at < 0
        || ((at == 0 || !After(m_list->topLevelItem(at - 1), online, name))
            && (at == count - 1 || !Before(m_list->topLevelItem(at + 1), online, name)));
    if (!stays) {
        // Taking the row out would move the keyboard's row and drop its
        // selection: both are given back.
        const bool current = m_list->currentItem() == row;
        const bool selected = row->isSelected();
        m_list->takeTopLevelItem(at);
        m_list->insertTopLevelItem(PlaceOf(online, name), row);
        if (current)
            m_list->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        if (selected)
            row->setSelected(true);
    }
    row->setIcon(0, UserListForm::StatusIcon(online));
}
