#include "AdminMessageDialog.h"
#include "ChatLines.h"
#include "ChatLog.h"
#include "NoResourceDocument.h"
#include "shell/RichTextBound.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>
#include <QVBoxLayout>

AdminMessageDialog::AdminMessageDialog(const QString& message, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AdminMessageDialog"));
    resize(337, 166);
    setWindowTitle(QStringLiteral("MarrowbyQt Admin Message"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/online_icon")));
    auto* outer = new QHBoxLayout(this);
    outer->setObjectName(QStringLiteral("horizontalLayout_2"));
    auto* column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("verticalLayout"));
    outer->addLayout(column);
    auto* top = new QHBoxLayout;
    top->setObjectName(QStringLiteral("horizontalLayout"));
    top->addStretch();
    label = new QLabel(QStringLiteral("Sent"), this);
    label->setObjectName(QStringLiteral("label"));
    timeEdit = new QLineEdit(this);
    timeEdit->setObjectName(QStringLiteral("timeEdit"));
    timeEdit->setReadOnly(true);
    timeEdit->setMaximumWidth(150);
    timeEdit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    top->addWidget(label);
    top->addWidget(timeEdit);
    textEdit = new QTextBrowser(this);
    textEdit->setObjectName(QStringLiteral("textEdit"));
    textEdit->setDocument(new NoResourceDocument(textEdit));
    textEdit->setReadOnly(true);
    textEdit->setFocusPolicy(Qt::NoFocus);
    textEdit->setOpenLinks(false);
    connect(textEdit, &QTextBrowser::anchorClicked, this, &ChatLines::OpenLink);
    column->addLayout(top);
    column->addWidget(textEdit);

    setAttribute(Qt::WA_DeleteOnClose);
    // Rich text when it looks like it, as the administrators may format it,
    // bounded like every markup from outside.
    RichTextBound::SetText(textEdit, message, RichTextBound::AsSent);
    timeEdit->setText(ChatLog::LongTime(QDateTime::currentDateTime()));
}

AdminMessageDialog::~AdminMessageDialog() = default;
