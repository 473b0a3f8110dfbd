#include "GiftPrivilegesDialog.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

GiftPrivilegesDialog::GiftPrivilegesDialog(QString user, QWidget* parent)
    : QDialog(parent)
    , m_user(std::move(user))
{
    setObjectName(QStringLiteral("GiftPrivilegesDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(257, 94);
    setWindowTitle(tr("Gift Privileges to ") + ElidedLabel(IsolatedText(m_user), fontMetrics()));

    auto* outer = new QHBoxLayout(this);
    auto* column = new QVBoxLayout;
    outer->addLayout(column);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(tr("Number of days to gift"), this);
    label->setObjectName(QStringLiteral("label"));
    row->addWidget(label);
    row->addStretch();
    m_daysEdit = new QLineEdit(this);
    m_daysEdit->setObjectName(QStringLiteral("daysEdit"));
    m_daysEdit->setMaximumWidth(60);
    m_daysEdit->setInputMask(QStringLiteral("0000"));
    row->addWidget(m_daysEdit);
    column->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_giftButton = new QPushButton(tr("Gift"), this);
    m_giftButton->setObjectName(QStringLiteral("giftButton"));
    buttons->addWidget(m_giftButton);
    buttons->addStretch();
    column->addLayout(buttons);

    connect(m_giftButton, &QPushButton::clicked, this, &GiftPrivilegesDialog::OnGiftClicked);
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &GiftPrivilegesDialog::UpdateButton);
        connect(gp_server, &Server::Disconnected, this, &GiftPrivilegesDialog::UpdateButton);
    }
    UpdateButton();
}

void GiftPrivilegesDialog::UpdateButton()
{
    // A gift made while logged out would be dropped without a word.
    const bool online = gp_server && gp_server->IsConnected();
    m_giftButton->setEnabled(online);
    m_giftButton->setToolTip(online ? QString() : tr("Log in to gift privileges."));
}

void GiftPrivilegesDialog::OnGiftClicked()
{
    const int days = m_daysEdit->text().toInt();
    if (days == 0 || !gp_server || !gp_server->IsConnected())
        return;
    gp_server->GiftPrivileges(m_user, days);
    deleteLater();
}
