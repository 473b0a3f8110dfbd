#include "SharedFilesRescannedDialog.h"
#include <QDialogButtonBox>
#include <QPlainTextEdit>

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SharedFilesRescannedDialog"));
    resize(337, 88);
    setWindowTitle(tr("Dialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    plainTextEdit = new QPlainTextEdit(this);
    plainTextEdit->setObjectName(QStringLiteral("plainTextEdit"));
    // A report: Return answers the window, it adds no line.
    plainTextEdit->setReadOnly(true);
    plainTextEdit->setGeometry(QRect(10, 10, 321, 41));
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setGeometry(QRect(190, 60, 141, 21));
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SharedFilesRescannedDialog::Append(const QString& line)
{
    plainTextEdit->appendPlainText(line);
}
