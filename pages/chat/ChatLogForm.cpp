#include "ChatLogForm.h"
#include "ChatLog.h"
#include "NoResourceDocument.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/QuestionBox.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

ChatLogForm::ChatLogForm(const QString& path, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("ChatLogForm"));
    resize(463, 354);
    auto* outer = new QHBoxLayout(this);
    outer->setObjectName(QStringLiteral("horizontalLayout_2"));
    auto* column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("verticalLayout"));
    outer->addLayout(column);
    auto* searchRow = new QHBoxLayout;
    searchRow->setObjectName(QStringLiteral("horizontalLayout"));
    searchRow->addStretch();
    searchEdit = new QLineEdit(this);
    searchEdit->setObjectName(QStringLiteral("searchEdit"));
    searchBackButton = new QPushButton(this);
    searchBackButton->setObjectName(QStringLiteral("searchBackButton"));
    searchForwardButton = new QPushButton(this);
    searchForwardButton->setObjectName(QStringLiteral("searchForwardButton"));
    searchRow->addWidget(searchEdit);
    searchRow->addWidget(searchBackButton);
    searchRow->addWidget(searchForwardButton);
    logEdit = new QTextEdit(this);
    logEdit->setObjectName(QStringLiteral("logEdit"));
    logEdit->setDocument(new NoResourceDocument(logEdit));
    logEdit->setReadOnly(true);
    logEdit->setAcceptRichText(false);
    column->addLayout(searchRow);
    column->addWidget(logEdit);

    searchBackButton->setIcon(QIcon(QStringLiteral(":/icons/back_icon")));
    searchBackButton->setIconSize(QSize(16, 16));
    searchForwardButton->setIcon(QIcon(QStringLiteral(":/icons/forward_icon")));
    searchForwardButton->setIconSize(QSize(16, 16));
    searchBackButton->setEnabled(false);
    searchForwardButton->setEnabled(false);
    RegisterWidgetForTabFocus(searchEdit, 1);
    connect(searchEdit, &QLineEdit::textChanged, this, &ChatLogForm::OnSearchTextChanged);
    connect(searchBackButton, &QPushButton::clicked, this, &ChatLogForm::OnSearchBack);
    connect(searchForwardButton, &QPushButton::clicked, this, &ChatLogForm::OnSearchForward);

    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    // Whole lines, however long; each one trimmed, as plain text, isolated:
    // a line holds others' names and texts.
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        line = IsolatedText(line.trimmed());
    logEdit->setUpdatesEnabled(false);
    logEdit->setPlainText(lines.join(QLatin1Char('\n')));
    logEdit->setUpdatesEnabled(true);

    m_path = path;
    if (actionBar) {
        actionBar->RegisterWidget(this, QStringLiteral("chat_log"));
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatLogForm::OnActionTriggered);
    }
}

ChatLogForm::~ChatLogForm()
{
    if (Type* viewers = d.HasType("chat_log_form"))
        viewers->HasItem(Value(this)).Remove();
}

void ChatLogForm::AddLine(const QString& line)
{
    QTextDocument* doc = logEdit->document();
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    if (!doc->isEmpty())
        end.insertBlock();
    end.insertText(IsolatedText(line.trimmed()));
    if (!m_match.isNull())
        MarkSearchButtons();
}

void ChatLogForm::Focus()
{
    FocusWidget(searchEdit);
}

void ChatLogForm::ClearFind()
{
    m_match = QTextCursor();
    logEdit->setExtraSelections({});
    searchBackButton->setEnabled(false);
    searchForwardButton->setEnabled(false);
}

void ChatLogForm::OnSearchTextChanged(const QString& text)
{
    logEdit->setUpdatesEnabled(false);
    ClearFind();
    if (!text.isEmpty()) {
        const QTextCursor match = logEdit->document()->find(text, 0);
        if (!match.isNull())
            MarkFind(match);
    }
    logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::MarkFind(const QTextCursor& match)
{
    m_match = match;
    QTextEdit::ExtraSelection highlight;
    highlight.cursor = match;
    // The input field's colours, inverted.
    highlight.format.setForeground(QColor(settings.Get("color_input_background")));
    highlight.format.setBackground(QColor(settings.Get("color_input_text")));
    logEdit->setExtraSelections({ highlight });
    MarkSearchButtons();
    // To the end first, then back: the match shows near the top of the view.
    QTextCursor cursor(logEdit->document());
    cursor.movePosition(QTextCursor::End);
    logEdit->setTextCursor(cursor);
    logEdit->ensureCursorVisible();
    cursor.setPosition(match.selectionStart());
    logEdit->setTextCursor(cursor);
    logEdit->ensureCursorVisible();
}

void ChatLogForm::MarkSearchButtons()
{
    const QString text = searchEdit->text();
    QTextDocument* doc = logEdit->document();
    searchForwardButton->setEnabled(!doc->find(text, m_match.selectionStart() + 1).isNull());
    searchBackButton->setEnabled(!doc->find(text, m_match.selectionStart(), QTextDocument::FindBackward).isNull());
}

void ChatLogForm::OnSearchForward()
{
    if (m_match.isNull())
        return;
    const QTextCursor match = logEdit->document()->find(searchEdit->text(), m_match.selectionStart() + 1);
    if (match.isNull())
        return;
    logEdit->setUpdatesEnabled(false);
    MarkFind(match);
    logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::OnSearchBack()
{
    if (m_match.isNull())
        return;
    const QTextCursor match
        = logEdit->document()->find(searchEdit->text(), m_match.selectionStart(), QTextDocument::FindBackward);
    if (match.isNull())
        return;
    logEdit->setUpdatesEnabled(false);
    MarkFind(match);
    logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::OnActionTriggered(QWidget* widget, QString id)
{
    if (widget != this)
        return;
    if (id == QLatin1String("clear_chat_log")) {
        const QPointer<ChatLogForm> self(this);
        if (!AskYes(QStringLiteral("Clear log?"), QStringLiteral("Are you sure you want to erase the contents of this log?"))
            || !self)
            return;
        // Only a file inside the chat-log folders is ever deleted.
        if (ChatLog::IsLogFile(m_path))
            QFile::remove(m_path);
        logEdit->clear();
        OnSearchTextChanged(searchEdit->text());
    } else if (id == QLatin1String("open_log_folder")) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_path).absolutePath()));
    }
}
