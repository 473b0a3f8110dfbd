#include "CreateRoomDialog.h"
#include "RoomsForm.h"
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("CreateRoomDialog"));
    resize(296, 126);
    setWindowTitle(QStringLiteral("Create Room"));
    auto* outer = new QHBoxLayout(this);
    outer->setObjectName(QStringLiteral("horizontalLayout_2"));
    auto* rows = new QVBoxLayout;
    rows->setObjectName(QStringLiteral("verticalLayout"));
    outer->addLayout(rows);
    roomNameEdit = new QLineEdit(this);
    roomNameEdit->setObjectName(QStringLiteral("roomNameEdit"));
    createPrivateCheckBox = new QCheckBox(QStringLiteral("Create private room"), this);
    createPrivateCheckBox->setObjectName(QStringLiteral("createPrivateCheckBox"));
    createRoomButton = new QPushButton(QStringLiteral("Create/Enter Room"), this);
    createRoomButton->setObjectName(QStringLiteral("createRoomButton"));
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setObjectName(QStringLiteral("horizontalLayout"));
    buttonRow->addStretch();
    buttonRow->addWidget(createRoomButton);
    buttonRow->addStretch();
    rows->addWidget(roomNameEdit);
    rows->addWidget(createPrivateCheckBox);
    rows->addLayout(buttonRow);
    connect(createRoomButton, &QPushButton::clicked, this, &CreateRoomDialog::OnButtonClicked);
    createRoomDialog = this;
}

CreateRoomDialog::~CreateRoomDialog()
{
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
}

void CreateRoomDialog::OnButtonClicked()
{
    const QString name = roomNameEdit->text().trimmed();
    if (name.isEmpty())
        return;
    if (roomsForm)
        roomsForm->EnterRoom(name, createPrivateCheckBox->isChecked());
    // Not deleted inside its own click: gone from the next "Create Room" on,
    // deleted once the click has returned.
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
    hide();
    deleteLater();
}
