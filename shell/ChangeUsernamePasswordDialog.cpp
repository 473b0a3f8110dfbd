#include "ChangeUsernamePasswordDialog.h"
#include "Kit.h"
#include "Settings.h"
#include <QLabel>
#include <QLineEdit>

void Ui_ChangeUsernamePasswordDialog::setupUi(QDialog* dialog)
{
    dialog->setObjectName("ChangeUsernamePasswordDialog");
    dialog->resize(312, 120);
    label_2 = PlacedWidget<QLabel>(dialog, "label_2", QRect(30, 20, 71, 16));
    usernameEdit = PlacedWidget<QLineEdit>(dialog, "usernameEdit", QRect(110, 20, 191, 20));
    label_3 = PlacedWidget<QLabel>(dialog, "label_3", QRect(30, 50, 61, 16));
    passwordEdit = PlacedWidget<QLineEdit>(dialog, "passwordEdit", QRect(110, 50, 191, 20));
    buttonBox = PlacedOkCancelBox(dialog, QRect(150, 80, 161, 32));
    retranslateUi(dialog);
}

void Ui_ChangeUsernamePasswordDialog::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(QDialog::tr("Change Username/Password"));
    label_2->setText(QDialog::tr("Username"));
    label_3->setText(QDialog::tr("Password"));
}

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool firstStart, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui_ChangeUsernamePasswordDialog>())
    , m_firstStart(firstStart)
{
    m_ui->setupUi(this);
    m_ui->usernameEdit->setText(SettingText("username"));
    m_ui->passwordEdit->setText(SettingText("password"));
    if (m_firstStart)
        setWindowTitle(QStringLiteral("Set Username/Password"));
    activateWindow();
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog() = default;

void ChangeUsernamePasswordDialog::accept()
{
    const QString username = m_ui->usernameEdit->text().trimmed();
    const QString password = m_ui->passwordEdit->text().trimmed();
    if (username.isEmpty() || password.isEmpty())
        return;
    QDialog::accept();
    settings.Set("username", Value(username));
    settings.Set("password", Value(password));
    // Later: OK is a signal of the dialog's own button box.
    if (!m_firstStart)
        deleteLater();
}

void ChangeUsernamePasswordDialog::reject()
{
    QDialog::reject();
    // Later, as after OK; a cancelled dialog would otherwise stay hidden in
    // its parent, one more for every time it was opened.
    if (!m_firstStart)
        deleteLater();
}
