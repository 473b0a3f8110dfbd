#include "SharedFilesRescannedDialog.h"
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SharedFilesRescannedDialog"));
    resize(337, 130);
    setWindowTitle(tr("Dialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    plainTextEdit = new QPlainTextEdit(this);
    plainTextEdit->setObjectName(QStringLiteral("plainTextEdit"));
    // A report: Return answers the window, it adds no line.
    plainTextEdit->setReadOnly(true);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plainTextEdit);
    layout->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SharedFilesRescannedDialog::Append(const QString& line)
{
    plainTextEdit->appendPlainText(line);
}
