#pragma once
// The groups of one user: every user-list group as a checkable row, ticked
// where the user is a member. Ticking or unticking changes exactly that one
// membership; new groups can be created. Groups created or deleted elsewhere
// while the dialog is open are added or dropped here; a row never re-creates a
// group that is gone. While the user is not in the list (never was, or was
// removed while the dialog is open) there is nothing to be a member of: the
// rows show no tick and take none, and the store is never touched.
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QDialog>
#include <QString>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class UserGroupsDialog : public QDialog, public DataHandler {
    Q_OBJECT
public:
    UserGroupsDialog(QString userName, QWidget* parent = nullptr);

    QListWidget* GroupList() const { return m_groupList; }
    QLineEdit* NewGroupEdit() const { return m_newGroupEdit; }
    QPushButton* NewGroupButton() const { return m_newGroupButton; }

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* row);

private:
    void OnUserGroupAdded(ItemPtr group);
    void OnUserGroupRemoved(ItemPtr group);
    void OnListEntryChanged(ConnectionInfo& connection);
    // The user's list entry, or null.
    ItemPtr ListEntry() const;
    void AddRow(ItemPtr group, ItemPtr inList);
    // Every row's tick as stored, when the list entry comes or goes.
    void ShowListEntry();
    QListWidgetItem* FindRow(const QString& name) const;

    QString m_userName;
    QListWidget* m_groupList;
    QLineEdit* m_newGroupEdit;
    QPushButton* m_newGroupButton;
};
