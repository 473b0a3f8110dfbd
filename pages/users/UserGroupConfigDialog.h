#pragma once
// The one window that edits the user-list groups themselves: each group's
// download priority (0 = none) and whether it accepts uploads from its
// members, and deleting a group. Selecting rows never changes the store.
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QDialog>

class QCheckBox;
class QGroupBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;

class UserGroupConfigDialog : public QDialog, public DataHandler {
    Q_OBJECT
public:
    explicit UserGroupConfigDialog(QWidget* parent = nullptr);
    ~UserGroupConfigDialog() override;

    QListWidget* GroupList() const { return m_groupList; }
    QGroupBox* GroupBox() const { return m_groupBox; }
    QSpinBox* PrioritySpinBox() const { return m_prioritySpinBox; }
    QCheckBox* AcceptUploadsCheckBox() const { return m_acceptUploadsCheckBox; }
    QPushButton* DeleteButton() const { return m_deleteButton; }

public slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* current, QListWidgetItem* previous);
    void OnPrioritySpinValueChanged(int value);
    void OnAcceptUploadsCheckboxToggled(bool checked);
    void OnDeleteClicked();

private:
    void OnUserGroupAdded(ItemPtr group);
    void OnUserGroupRemoved(ItemPtr group);
    ItemPtr CurrentGroup() const;
    void EnableControls(bool enabled);

    QListWidget* m_groupList;
    QGroupBox* m_groupBox;
    QSpinBox* m_prioritySpinBox;
    QCheckBox* m_acceptUploadsCheckBox;
    QPushButton* m_deleteButton;
};

extern UserGroupConfigDialog* userGroupConfigDialog;
