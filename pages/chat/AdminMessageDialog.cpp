#include "AdminMessageDialog.h"
#include "ChatLines.h"
#include "ChatLog.h"
#include "NoResourceDocument.h"
#include "shell/QuietWindow.h"
#include "shell/RichTextBound.h"
#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

// Block states: the line with a message's time (its first paragraph), and
// the line that counts the messages no longer shown.
constexpr int kTimeLine = 1;
constexpr int kDroppedLine = 2;

} // namespace

AdminMessageDialog* AdminMessageDialog::s_open = nullptr;

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
    textEdit->document()->setUndoRedoEnabled(false);
    textEdit->setReadOnly(true);
    textEdit->setFocusPolicy(Qt::NoFocus);
    textEdit->setOpenLinks(false);
    connect(textEdit, &QTextBrowser::anchorClicked, this, &ChatLines::OpenLink);
    column->addLayout(top);
    column->addWidget(textEdit);

    setAttribute(Qt::WA_DeleteOnClose);
    Append(message);
}

AdminMessageDialog::~AdminMessageDialog()
{
    if (s_open == this)
        s_open = nullptr;
}

void AdminMessageDialog::Add(const QString& message, QWidget* parent)
{
    // A window the user has just closed is on its way out: the message gets
    // a new one.
    if (s_open && s_open->isVisible()) {
        s_open->Append(message);
        return;
    }
    s_open = new AdminMessageDialog(message, parent);
    s_open->setWindowFlags(s_open->windowFlags() | Qt::WindowStaysOnTopHint);
    QuietWindow::Show(s_open);
}

void AdminMessageDialog::Append(const QString& message)
{
    QTextDocument* document = textEdit->document();
    QScrollBar* bar = textEdit->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const QString now = ChatLog::LongTime(QDateTime::currentDateTime());
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    cursor.insertText(now, bold);
    const QTextBlock timeLine = cursor.block();
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    // Rich text when it looks like it, as the administrators may format it,
    // bounded like every markup from outside.
    if (Qt::mightBeRichText(message))
        cursor.insertHtml(RichTextBound::Html(message, RichTextBound::AsSent));
    else
        cursor.insertText(RichTextBound::Plain(message), QTextCharFormat());
    cursor.endEditBlock();
    for (QTextBlock block = timeLine; block.isValid(); block = block.next())
        block.setUserState(block == timeLine ? kTimeLine : 0);
    timeEdit->setText(now);
    if (++m_messages > kKeptMessages)
        DropOldest();
    // A reader at the end sees the new message from its start.
    if (atEnd)
        bar->setValue(int(document->documentLayout()->blockBoundingRect(timeLine).top()));
}

void AdminMessageDialog::DropOldest()
{
    QTextDocument* document = textEdit->document();
    QTextBlock oldest = document->firstBlock();
    const bool counted = oldest.userState() == kDroppedLine;
    if (counted)
        oldest = oldest.next();
    QTextBlock kept = oldest.next();
    while (kept.isValid() && kept.userState() != kTimeLine)
        kept = kept.next();
    if (!kept.isValid())
        return;
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.setPosition(oldest.position());
    cursor.setPosition(kept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (counted) {
        cursor.setPosition(0);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    } else {
        cursor.setPosition(0);
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.setPosition(0);
    }
    QTextCharFormat quiet;
    quiet.setFontItalic(true);
    ++m_dropped;
    cursor.insertText(m_dropped == 1
            ? QStringLiteral("1 earlier message is no longer shown.")
            : QStringLiteral("%1 earlier messages are no longer shown.").arg(m_dropped),
        quiet);
    cursor.endEditBlock();
    document->firstBlock().setUserState(kDroppedLine);
    document->firstBlock().next().setUserState(kTimeLine);
    --m_messages;
}
