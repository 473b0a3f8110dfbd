#include "ChangeListeningPortDialog.h"
#include "Kit.h"
#include "Settings.h"
#include <QLineEdit>
#include <QMessageBox>

void Ui_ChangeListeningPortDialog::setupUi(QDialog* dialog)
{
    dialog->setObjectName("ChangeListeningPortDialog");
    dialog->resize(179, 76);
    portEdit = PlacedWidget<QLineEdit>(dialog, "portEdit", QRect(10, 10, 161, 20));
    portEdit->setMaxLength(5);
    buttonBox = PlacedOkCancelBox(dialog, QRect(0, 40, 171, 32));
    retranslateUi(dialog);
}

void Ui_ChangeListeningPortDialog::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(QDialog::tr("Change Listening Port"));
}

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui_ChangeListeningPortDialog>())
{
    m_ui->setupUi(this);
    m_ui->portEdit->setInputMask(QStringLiteral("D9999"));
    m_ui->portEdit->setText(SettingText("listening_port"));
}

ChangeListeningPortDialog::~ChangeListeningPortDialog() = default;

void ChangeListeningPortDialog::accept()
{
    const int port = m_ui->portEdit->text().toInt();
    if (port < 1 || port > kHighestPort) {
        QMessageBox::information(this, QStringLiteral("Invalid Port Number"),
            QStringLiteral("Port number must be in the range of 1 to %1.").arg(kHighestPort));
        return;
    }
    if (port == SettingText("listening_port").toInt()) {
        QMessageBox::information(
            this, QStringLiteral("Port Number Not Changed"), QStringLiteral("Port number has not been changed."));
        return;
    }
    QDialog::accept();
    settings.Set("new_listening_port", port);
    QMessageBox::information(this, QStringLiteral("Change to Listening Port Pending"),
        QStringLiteral("Changes to the listening port will take effect after a client restart."));
    // Later: OK is a signal of the dialog's own button box.
    deleteLater();
}

void ChangeListeningPortDialog::reject()
{
    QDialog::reject();
    // Later, as after OK; a cancelled dialog would otherwise stay hidden in
    // its parent, one more for every time it was opened.
    deleteLater();
}
