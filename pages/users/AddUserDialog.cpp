#include "AddUserDialog.h"
#include "server/Server.h"
#include "store/Data.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

AddUserDialog::AddUserDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AddUserDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(292, 188);
    setWindowTitle(tr("Add User"));

    auto* outer = new QHBoxLayout(this);
    auto* column = new QVBoxLayout;
    outer->addLayout(column);
    auto* label = new QLabel(tr("User name:"), this);
    label->setObjectName(QStringLiteral("label"));
    column->addWidget(label);
    m_userNameEdit = new QLineEdit(this);
    m_userNameEdit->setObjectName(QStringLiteral("userNameEdit"));
    column->addWidget(m_userNameEdit);
    column->addSpacing(20);
    m_statusEdit = new QLineEdit(this);
    m_statusEdit->setObjectName(QStringLiteral("statusEdit"));
    m_statusEdit->setEnabled(false);
    m_statusEdit->setReadOnly(true);
    column->addWidget(m_statusEdit);
    column->addSpacing(40);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_addButton = new QPushButton(tr("Add User"), this);
    m_addButton->setObjectName(QStringLiteral("addFriendButton"));
    m_addButton->setMaximumHeight(23);
    buttons->addWidget(m_addButton);
    buttons->addStretch();
    column->addLayout(buttons);

    connect(m_addButton, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    if (gp_server) {
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
        connect(gp_server, &Server::Disconnected, this, &AddUserDialog::OnDisconnected);
    }
}

void AddUserDialog::OnDisconnected()
{
    // The answer went with the connection.
    if (m_waitingFor.isEmpty())
        return;
    SetWaiting(false);
    m_waitingFor.clear();
    m_statusEdit->setText(tr("Lost the connection to the server: the user was not added."));
}

void AddUserDialog::SetWaiting(bool waiting)
{
    m_userNameEdit->setReadOnly(waiting);
    m_addButton->setEnabled(!waiting);
}

void AddUserDialog::OnAddUserClicked()
{
    const QString name = m_userNameEdit->text().trimmed();
    if (name.isEmpty()) {
        m_statusEdit->setText(tr("User name must not be empty."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected()) {
        m_statusEdit->setText(tr("Must be online to add a user to your list."));
        return;
    }
    if (d.GetType("user")->HasItem(Value(name)).IsConnected("in_user_list")) {
        m_statusEdit->setText(tr("User already in list."));
        return;
    }
    m_statusEdit->setText(tr("Adding user..."));
    SetWaiting(true);
    m_waitingFor = name;
    gp_server->AddUser(name);
}

void AddUserDialog::OnAddUserResponse(QString user, bool exists)
{
    if (m_waitingFor.isEmpty() || user != m_waitingFor)
        return;
    SetWaiting(false);
    m_waitingFor.clear();
    if (!exists) {
        m_statusEdit->setText(tr("User name does not exist."));
        return;
    }
    d.GetType("user")->GetItem(Value(user)).NewItem("in_user_list");
    m_statusEdit->setText(tr("User added to list."));
}
