#include "ChatForm.h"
#include "ChatLog.h"
#include "ChatLogForm.h"
#include "NoResourceDocument.h"
#include "UserHooks.h"
#include "WidgetFunctions.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTextBrowser>
#include <QVBoxLayout>

ChatForm::ChatForm(const QString& user, TabWidget* tabWidget, QWidget* parent)
    : QWidget(parent)
    , m_user(user)
    , m_tabWidget(tabWidget)
{
    setObjectName(QStringLiteral("ChatForm"));
    resize(567, 364);
    auto* outer = new QHBoxLayout(this);
    outer->setObjectName(QStringLiteral("horizontalLayout"));
    auto* column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("verticalLayout"));
    outer->addLayout(column);
    chatView = new QTextBrowser(this);
    chatView->setObjectName(QStringLiteral("chatView"));
    chatView->setDocument(new NoResourceDocument(chatView));
    chatView->setContextMenuPolicy(Qt::CustomContextMenu);
    chatView->setOpenLinks(false);
    chatView->setOpenExternalLinks(false);
    chatEdit = new QLineEdit(this);
    chatEdit->setObjectName(QStringLiteral("chatEdit"));
    column->addWidget(chatView);
    column->addWidget(chatEdit);
    m_lines.SetView(chatView);
    connect(chatEdit, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    connect(chatView, &QWidget::customContextMenuRequested, this, &ChatForm::OnContextMenuRequested);
    connect(chatView, &QTextBrowser::anchorClicked, this, &ChatForm::OnURLClicked);

    m_userItem = d.GetType("user")->GetItem(Value(user));
    m_userItem.Connect(d.GetType("user_chat_widget")->GetItem(Value(this)));
    RegisterWidgetForTabFocus(chatEdit, 1);
    // The page runs the half-minute check and hands on the tool bar's
    // actions of this tab.
    if (actionBar)
        actionBar->RegisterWidget(this, QStringLiteral("user_chat"));
    if (Type* warnings = d.HasType("sent_empty_share_warning_message")) {
        if (ItemPtr warning = m_userItem[warnings])
            AddChat(settings.Get("username"), warning.AsString());
    }
    auto* away = new PathNode(m_userItem);
    new PathNode(away, "is_away", PathConnected);
    d.AddPathEventHandler(away, Register(new EventHandler<ChatForm, ItemPtr>(this, &ChatForm::OnUserAway)));
    auto* available = new PathNode(m_userItem);
    new PathNode(available, "is_away", PathNotConnected);
    d.AddPathEventHandler(
        available, Register(new EventHandler<ChatForm, ItemPtr>(this, &ChatForm::OnUserAvailable)));
    if (m_userItem.IsConnected("is_away"))
        OnUserAway(m_userItem);
}

ChatForm::~ChatForm()
{
    if (Type* tabs = d.HasType("user_chat_widget"))
        tabs->HasItem(Value(this)).Remove();
}

void ChatForm::AddChat(const QString& user, const QString& text)
{
    const bool said = ShowLine(user, text, QDateTime());
    LogLine(m_user, m_userItem, user, text);
    if (said)
        RaiseEvent(user, text);
}

void ChatForm::AddWaitedChat(const QString& text, const QDateTime& when)
{
    if (ShowLine(m_user, text, when))
        RaiseEvent(m_user, text);
}

bool ChatForm::ShowLine(const QString& user, const QString& text, const QDateTime& when)
{
    const QString action = ChatLines::Action(text.trimmed());
    if (!action.isNull()) {
        AddStatusMessage(ChatLines::ActionStatus(user, action));
        return false;
    }
    m_lines.AddLine(user, text, false, when);
    return true;
}

void ChatForm::LogLine(const QString& partner, ItemPtr partnerItem, const QString& user, const QString& text)
{
    const QString action = ChatLines::Action(text.trimmed());
    ChatLog::Write(ChatLog::Users, partner, partnerItem, "log_private_chat",
        action.isNull() ? ChatLog::ChatLine(user, text)
                        : ChatLog::ActionLine(QStringLiteral("%1 %2").arg(user, action)));
}

void ChatForm::RaiseEvent(const QString& user, const QString& text)
{
    if (eventToolBar) {
        const QString shown = TextBound::Shown(text, 100);
        eventToolBar->AddEvent(IsolatedText(m_user), QStringLiteral(":/icons/chat_icon"), chatEdit,
            QStringLiteral("[%1] %2").arg(IsolatedText(user), IsolatedText(shown)),
            QStringLiteral("private_chat"), false);
    }
}

void ChatForm::AddStatusMessage(const QString& text)
{
    m_lines.AddStatus(text);
}

void ChatForm::LogChat(const QString& line)
{
    ChatLog::Write(ChatLog::Users, m_user, m_userItem, "log_private_chat", line);
}

void ChatForm::Focus()
{
    FocusWidget(chatEdit);
}

void ChatForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(chatEdit);
}

void ChatForm::OnUserAway(ItemPtr)
{
    AddStatusMessage(IsolatedText(m_user) + QStringLiteral(" is away."));
}

void ChatForm::OnUserAvailable(ItemPtr)
{
    AddStatusMessage(IsolatedText(m_user) + QStringLiteral(" is available."));
}

void ChatForm::OnEnter()
{
    const QString text = chatEdit->text();
    if (text.isEmpty())
        return;
    // A line that cannot go out is neither shown nor logged as said.
    if (!m_lines.CanSend())
        return;
    AddChat(settings.Get("username"), text);
    gp_server->SendPrivateChat(m_user, text);
    chatEdit->clear();
}

void ChatForm::OnActionTriggered(QWidget* widget, QString id)
{
    if (widget != this || id != QLatin1String("user_chat_log"))
        return;
    auto* viewer = m_userItem["chat_log_form"].AsPointer<ChatLogForm>();
    if (!viewer && m_tabWidget) {
        viewer = new ChatLogForm(ChatLog::FilePath(ChatLog::Users, m_user), m_tabWidget);
        m_tabWidget->AddNamedTab(viewer, KitIcon(QStringLiteral(":/icons/note_icon")), IsolatedText(m_user));
        m_userItem.Connect(d.GetType("chat_log_form")->GetItem(Value(viewer)));
    }
    if (viewer)
        viewer->Focus();
}

void ChatForm::OnContextMenuRequested(QPoint position)
{
    QMenu menu;
    RunUserMenu(menu, m_user, chatView->viewport()->mapToGlobal(position));
}

void ChatForm::OnURLClicked(const QUrl& url)
{
    ChatLines::OpenLink(url);
    chatEdit->setFocus();
}
