#include "AdminMessageDialog.h"
#include <QLabel>
#include <QVBoxLayout>

AdminMessageDialog::AdminMessageDialog(const QString& message, QWidget* parent)
    : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto* label = new QLabel(message, this);
    label->setTextFormat(Qt::PlainText);
    (new QVBoxLayout(this))->addWidget(label);
}
