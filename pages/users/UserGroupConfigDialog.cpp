#include "UserGroupConfigDialog.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("UserGroupConfigDialog"));
    resize(595, 300);
    setWindowTitle(tr("Configure User Groups"));

    auto* outer = new QHBoxLayout(this);
    auto* side = new QHBoxLayout;
    outer->addLayout(side);
    m_groupList = new QListWidget(this);
    m_groupList->setObjectName(QStringLiteral("groupList"));
    m_groupList->setSortingEnabled(true);
    m_groupList->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    side->addWidget(m_groupList);
    m_groupBox = new QGroupBox(this);
    m_groupBox->setObjectName(QStringLiteral("groupBox"));
    side->addWidget(m_groupBox);

    // Laid out rather than placed, so that no text is cut with larger fonts.
    auto* boxLayout = new QVBoxLayout(m_groupBox);
    auto* priorityRow = new QHBoxLayout;
    priorityRow->setObjectName(QStringLiteral("horizontalLayout"));
    auto* label = new QLabel(tr("Download Priority"), m_groupBox);
    label->setObjectName(QStringLiteral("label"));
    priorityRow->addWidget(label);
    m_prioritySpinBox = new QSpinBox(m_groupBox);
    m_prioritySpinBox->setObjectName(QStringLiteral("prioritySpinBox"));
    m_prioritySpinBox->setRange(0, 99);
    m_prioritySpinBox->setWhatsThis(
        tr("Defines the download priority of users belonging to this group. Users who belong to more than one "
           "group will be prioritized by their highest-ranked group.\n\nA priority of 0 will not affect the order "
           "of downloads by users of this group relative to other downloads. A priority of 1 or more will order "
           "downloads by users of this group ahead of all other downloads, except for ones with a higher "
           "priority."));
    priorityRow->addWidget(m_prioritySpinBox);
    priorityRow->addStretch();
    boxLayout->addLayout(priorityRow);
    m_acceptUploadsCheckBox = new QCheckBox(tr("Accept uploads from users in this group"), m_groupBox);
    m_acceptUploadsCheckBox->setObjectName(QStringLiteral("acceptUploadsCheckBox"));
    boxLayout->addWidget(m_acceptUploadsCheckBox);
    auto* deleteRow = new QHBoxLayout;
    m_deleteButton = new QPushButton(tr("Delete Group"), m_groupBox);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    deleteRow->addWidget(m_deleteButton);
    deleteRow->addStretch();
    boxLayout->addLayout(deleteRow);
    boxLayout->addStretch();

    userGroupConfigDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
    Type* groups = d.GetType("user_list_group");
    Subscribe(groups->itemAdded, &UserGroupConfigDialog::OnUserGroupAdded);
    Subscribe(groups->itemRemoved, &UserGroupConfigDialog::OnUserGroupRemoved);
    for (ItemPtr group : groups->GetItems())
        OnUserGroupAdded(group);
    EnableControls(false);

    connect(m_groupList, &QListWidget::currentItemChanged, this, &UserGroupConfigDialog::OnCurrentGroupItemChanged);
    connect(m_prioritySpinBox, &QSpinBox::valueChanged, this, &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    connect(m_acceptUploadsCheckBox, &QCheckBox::toggled, this, &UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled);
    connect(m_deleteButton, &QPushButton::clicked, this, &UserGroupConfigDialog::OnDeleteClicked);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
}

void UserGroupConfigDialog::EnableControls(bool enabled)
{
    m_prioritySpinBox->setEnabled(enabled);
    m_acceptUploadsCheckBox->setEnabled(enabled);
    m_deleteButton->setEnabled(enabled);
}

ItemPtr UserGroupConfigDialog::CurrentGroup() const
{
    // Looked up, never created: a group deleted meanwhile stays deleted.
    QListWidgetItem* row = m_groupList->currentItem();
    return row ? d.GetType("user_list_group")->HasItem(Value(row->text())) : ItemPtr();
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* current, QListWidgetItem*)
{
    if (!current) {
        EnableControls(false);
        m_groupBox->setTitle(QString());
        return;
    }
    EnableControls(true);
    m_groupBox->setTitle(PlainLabel(current->text()));
    const ItemPtr group = CurrentGroup();
    m_prioritySpinBox->setValue(group["group_download_priority"].AsInt());
    m_acceptUploadsCheckBox->setChecked(group.IsConnected("accept_uploads"));
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int value)
{
    const ItemPtr group = CurrentGroup();
    if (!group)
        return;
    if (value > 0)
        group.Connect(d.GetType("group_download_priority")->GetItem(Value(value)));
    else
        group.Disconnect("group_download_priority");
}

void UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled(bool checked)
{
    const ItemPtr group = CurrentGroup();
    if (!group)
        return;
    if (checked)
        group.Connect(d.GetType("accept_uploads")->GetGlobalNullItem());
    else
        group.Disconnect("accept_uploads");
}

void UserGroupConfigDialog::OnDeleteClicked()
{
    QListWidgetItem* row = m_groupList->currentItem();
    if (!row)
        return;
    const QString name = row->text();
    QMessageBox box(QMessageBox::Question, tr("Delete group?"), tr("Are you sure you want to delete this user group?"),
        QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    // The row may have gone while the question was open; the name decides.
    d.GetType("user_list_group")->HasItem(Value(name)).Remove();
}

void UserGroupConfigDialog::OnUserGroupAdded(ItemPtr group)
{
    const QString name = group.AsString();
    if (m_groupList->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
        m_groupList->addItem(name);
}

void UserGroupConfigDialog::OnUserGroupRemoved(ItemPtr group)
{
    const QList<QListWidgetItem*> rows = m_groupList->findItems(group.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!rows.isEmpty())
        delete rows.first();
}
