#include "AdminMessageDialog.h"
#include "ChatLines.h"
#include "ChatLog.h"
#include "NoResourceDocument.h"
#include "shell/QuietWindow.h"
#include "shell/RichTextBound.h"
#include "store/SlicedWork.h"
#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QHideEvent>
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

    Append(message);
    ShowPending();
}

AdminMessageDialog::~AdminMessageDialog()
{
    if (s_open == this)
        s_open = nullptr;
}

void AdminMessageDialog::Add(const QString& message, QWidget* parent)
{
    if (s_open && s_open->parentWidget() != parent) {
        // Kept for another main window (there is one at a time): not reused.
        s_open = nullptr;
    }
    if (s_open && s_open->isVisible()) {
        s_open->Append(message);
        return;
    }
    if (s_open) {
        s_open->Append(message);
        s_open->ShowPending();
    } else {
        s_open = new AdminMessageDialog(message, parent);
        s_open->setWindowFlags(s_open->windowFlags() | Qt::WindowStaysOnTopHint);
    }
    QuietWindow::Show(s_open);
}

void AdminMessageDialog::Append(const QString& message)
{
    m_pending.push_back({ QDateTime::currentDateTime(), message });
    if (m_pending.size() > size_t(kKeptMessages)) {
        m_pending.pop_front(); // dropped before it was shown
        ++m_dropped;
    }
    QueueShow();
}

void AdminMessageDialog::QueueShow()
{
    if (std::exchange(m_showQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_showQueued = false;
            ShowPending();
        },
        Qt::QueuedConnection);
}

void AdminMessageDialog::ShowPending()
{
    if (m_pending.empty())
        return;
    QTextDocument* document = textEdit->document();
    QScrollBar* bar = textEdit->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    // As many as the pass has time for (at least one); the rest in the next.
    // One edit: the document is laid out once, whatever went in and out.
    const QDeadlineTimer turn = SlicedWork::Turn();
    std::vector<QTextBlock> timeLines;
    QString now;
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    do {
        const Pending next = std::move(m_pending.front());
        m_pending.pop_front();
        now = ChatLog::LongTime(next.time);
        cursor.movePosition(QTextCursor::End);
        if (!document->isEmpty())
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.insertText(now, bold);
        timeLines.push_back(cursor.block());
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        // Rich text when it looks like it, as the administrators may format
        // it, bounded like every markup from outside.
        if (Qt::mightBeRichText(next.message))
            cursor.insertHtml(RichTextBound::Html(next.message, RichTextBound::AsSent));
        else
            cursor.insertText(RichTextBound::Plain(next.message), QTextCharFormat());
    } while (!m_pending.empty() && !turn.hasExpired());
    size_t seen = 0;
    for (QTextBlock block = timeLines.front(); block.isValid(); block = block.next()) {
        const bool timeLine = seen < timeLines.size() && block == timeLines[seen];
        seen += timeLine;
        block.setUserState(timeLine ? kTimeLine : 0);
    }
    m_messages += int(timeLines.size());
    const int over = qMax(0, m_messages - kKeptMessages);
    if (over > 0 || m_dropped != m_droppedTold)
        Recount(over);
    cursor.endEditBlock();
    timeEdit->setText(now);
    // A reader at the end sees the newest message from its start.
    if (atEnd)
        bar->setValue(int(document->documentLayout()->blockBoundingRect(timeLines.back()).top()));
    if (!m_pending.empty())
        QueueShow();
}

void AdminMessageDialog::Recount(int oldest)
{
    QTextDocument* document = textEdit->document();
    // The first message kept: the time line after the oldest ones.
    QTextBlock kept = document->firstBlock();
    for (int passed = 0; kept.isValid(); kept = kept.next())
        if (kept.userState() == kTimeLine && passed++ == oldest)
            break;
    if (!kept.isValid())
        return; // never more than the document holds
    QTextCursor cursor(document);
    cursor.setPosition(0);
    cursor.setPosition(kept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.setPosition(0);
    m_dropped += oldest;
    m_messages -= oldest;
    QTextCharFormat quiet;
    quiet.setFontItalic(true);
    cursor.insertText(m_dropped == 1
            ? QStringLiteral("1 earlier message is no longer shown.")
            : QStringLiteral("%1 earlier messages are no longer shown.").arg(m_dropped),
        quiet);
    document->firstBlock().setUserState(kDroppedLine);
    document->firstBlock().next().setUserState(kTimeLine);
    m_droppedTold = m_dropped;
}

void AdminMessageDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return; // minimised
    // Closed: the window waits for the next message, without these.
    m_pending.clear();
    textEdit->document()->clear();
    timeEdit->clear();
    m_messages = 0;
    m_dropped = 0;
    m_droppedTold = 0;
}
