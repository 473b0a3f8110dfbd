#include "UserGroupsDialog.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

UserGroupsDialog::UserGroupsDialog(QString userName, QWidget* parent)
    : QDialog(parent)
    , m_userName(std::move(userName))
{
    setObjectName(QStringLiteral("UserGroupsDialog"));
    resize(335, 300);
    m_groupList = new QListWidget(this);
    m_groupList->setObjectName(QStringLiteral("groupListWidget"));
    m_groupList->setGeometry(10, 10, 311, 221);
    m_groupList->setSortingEnabled(true);
    m_newGroupEdit = new QLineEdit(this);
    m_newGroupEdit->setObjectName(QStringLiteral("newGroupEdit"));
    m_newGroupEdit->setGeometry(10, 240, 311, 20);
    m_newGroupButton = new QPushButton(tr("Create New Group"), this);
    m_newGroupButton->setObjectName(QStringLiteral("newGroupButton"));
    m_newGroupButton->setGeometry(160, 270, 161, 23);
    connect(m_newGroupButton, &QPushButton::clicked, this, &UserGroupsDialog::OnNewGroupButtonClicked);
    setAttribute(Qt::WA_DeleteOnClose);

    Type* groups = d.GetType("user_list_group");
    Subscribe(groups->itemAdded, &UserGroupsDialog::OnUserGroupAdded);
    Subscribe(groups->itemRemoved, &UserGroupsDialog::OnUserGroupRemoved);
    Type* entries = d.GetType("in_user_list");
    Subscribe(entries->connected, &UserGroupsDialog::OnListEntryChanged);
    Subscribe(entries->disconnected, &UserGroupsDialog::OnListEntryChanged);
    setWindowTitle(
        tr("User Groups for [") + ElidedLabel(IsolatedText(m_userName), fontMetrics()) + QLatin1Char(']'));

    const ItemPtr inList = ListEntry();
    for (ItemPtr group : groups->GetItems())
        AddRow(group, inList);
    // Only now: filling the list writes nothing.
    connect(m_groupList, &QListWidget::itemChanged, this, &UserGroupsDialog::OnGroupItemChanged);
}

ItemPtr UserGroupsDialog::ListEntry() const
{
    return d.GetType("user")->HasItem(Value(m_userName))["in_user_list"];
}

namespace {
void ShowRow(QListWidgetItem* row, ItemPtr inList, ItemPtr group)
{
    const Qt::ItemFlags flags = row->flags() & ~(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    row->setFlags(inList ? flags | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled : flags);
    row->setCheckState(inList && group && inList.IsConnected(group) ? Qt::Checked : Qt::Unchecked);
}
} // namespace

void UserGroupsDialog::AddRow(ItemPtr group, ItemPtr inList)
{
    auto* row = new QListWidgetItem(group.AsString());
    ShowRow(row, inList, group);
    m_groupList->addItem(row);
}

void UserGroupsDialog::OnListEntryChanged(ConnectionInfo& connection)
{
    if (connection.second.GetType() == d.GetType("user") && connection.second.AsString() == m_userName)
        ShowListEntry();
}

void UserGroupsDialog::ShowListEntry()
{
    const ItemPtr inList = ListEntry();
    const QSignalBlocker quiet(m_groupList);
    Type* groups = d.GetType("user_list_group");
    for (int i = 0; i < m_groupList->count(); ++i) {
        QListWidgetItem* row = m_groupList->item(i);
        ShowRow(row, inList, groups->HasItem(Value(row->text())));
    }
}

QListWidgetItem* UserGroupsDialog::FindRow(const QString& name) const
{
    for (int i = 0; i < m_groupList->count(); ++i)
        if (m_groupList->item(i)->text() == name)
            return m_groupList->item(i);
    return nullptr;
}

void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* row)
{
    const Qt::CheckState state = row->checkState();
    const QString name = row->text();
    if (state == Qt::PartiallyChecked || name.isEmpty())
        return;
    // Neither the list entry nor the group is made here: a user removed from
    // the list or a group deleted meanwhile is left alone.
    const ItemPtr inList = ListEntry();
    const ItemPtr group = d.GetType("user_list_group")->HasItem(Value(name));
    if (!inList) {
        // No tick that is not stored.
        if (state == Qt::Checked)
            ShowListEntry();
        return;
    }
    if (!group)
        return;
    if (state == Qt::Checked && !inList.IsConnected(group))
        inList.Connect(group);
    else if (state == Qt::Unchecked && inList.IsConnected(group))
        inList.Disconnect(group);
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const QString name = m_newGroupEdit->text().trimmed();
    m_newGroupEdit->clear();
    if (!name.isEmpty())
        d.GetType("user_list_group")->GetItem(Value(name));
}

void UserGroupsDialog::OnUserGroupAdded(ItemPtr group)
{
    if (!FindRow(group.AsString()))
        AddRow(group, ListEntry());
}

void UserGroupsDialog::OnUserGroupRemoved(ItemPtr group)
{
    delete FindRow(group.AsString());
}
