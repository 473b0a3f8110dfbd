#include "ChatsForm.h"
#include "ChatForm.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/TimerManager.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

ChatsForm* chatsForm = nullptr;

namespace {

const QIcon& OnlineIcon(bool online)
{
    return KitIcon(online ? QStringLiteral(":/icons/online_icon") : QStringLiteral(":/icons/offline_icon"));
}

} // namespace

ChatsForm::ChatsForm(QWidget* parent)
    : QWidget(parent)
{
    chatsForm = this;
    setObjectName(QStringLiteral("ChatsForm"));
    resize(550, 339);
    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    auto* column = new QVBoxLayout;
    horizontalLayout->addLayout(column);
    waitingNotice = new QLabel(this);
    waitingNotice->setObjectName(QStringLiteral("waitingNotice"));
    waitingNotice->setTextFormat(Qt::PlainText);
    waitingNotice->setWordWrap(true);
    waitingNotice->hide();
    column->addWidget(waitingNotice);
    chatTabControl = new RoomTabWidget(this);
    chatTabControl->setObjectName(QStringLiteral("chatTabControl"));
    chatTabControl->setTabsClosable(true);
    chatTabControl->setMovable(true);
    column->addWidget(chatTabControl);
    connect(chatTabControl, &QTabWidget::tabCloseRequested, this, &ChatsForm::OnChatTabClosed);
    // The main window declares these; declared here too so the page stands
    // alone (declaring twice changes nothing).
    Type* user = d.DeclareType("user", kEntity);
    d.RelateTypes(user, d.DeclareType("user_chat_widget", kEntity), One, One);
    d.RelateTypes(user, d.DeclareType("chat_log_form", kEntity), One, One);
}

ChatsForm::~ChatsForm()
{
    if (chatsForm == this)
        chatsForm = nullptr;
}

void ChatsForm::Init()
{
    auto* online = new PathNode(&d, "user");
    new PathNode(online, "is_online", PathConnected);
    d.AddPathEventHandler(online, Register(new EventHandler<ChatsForm, ItemPtr>(this, &ChatsForm::OnUserOnline)));
    auto* offline = new PathNode(&d, "user");
    new PathNode(offline, "is_online", PathNotConnected);
    d.AddPathEventHandler(offline, Register(new EventHandler<ChatsForm, ItemPtr>(this, &ChatsForm::OnUserOffline)));
    m_quiet = std::make_unique<QuietChats>(chatTabControl, [](QWidget* page) {
        auto* form = qobject_cast<ChatForm*>(page);
        return form ? &form->Lines() : nullptr;
    });
    if (timerManager)
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, [this] { m_quiet->Check(); });
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatsForm::OnActionTriggered);
}

ChatForm* ChatsForm::GetChatForm(const QString& user)
{
    ItemPtr item = d.GetType("user")->GetItem(Value(user));
    if (auto* form = item["user_chat_widget"].AsPointer<ChatForm>())
        return form;
    auto* form = new ChatForm(user, chatTabControl, this);
    chatTabControl->AddNamedTab(
        form, OnlineIcon(item.IsConnected("is_online")), IsolatedText(user));
    if (gp_server)
        gp_server->TrackUser(user);
    TakeWaiting(form);
    return form;
}

void ChatsForm::Receive(const QString& user, const QString& text)
{
    ItemPtr item = d.GetType("user")->GetItem(Value(user));
    if (auto* form = item["user_chat_widget"].AsPointer<ChatForm>()) {
        form->AddChat(user, text);
        return;
    }
    if (m_waiting.empty() && chatTabControl->count() < kMaxTabs) {
        GetChatForm(user)->AddChat(user, text);
        return;
    }
    ChatForm::LogLine(user, item, user, text);
    m_waiting.push_back({ user, text, ChatLines::Now() });
    m_waitingChars += text.size();
    ++m_waitingUsers[user];
    while (m_waiting.size() > 1 && (m_waiting.size() > kMaxWaitingLines || m_waitingChars > kMaxWaitingChars)) {
        Forget(m_waiting.front());
        m_waiting.pop_front();
        ++m_dropped;
    }
    ShowWaiting();
}

bool ChatsForm::Waits(const QString& user) const
{
    return m_waitingUsers.contains(user);
}

void ChatsForm::Forget(const Waiting& line)
{
    m_waitingChars -= line.text.size();
    auto count = m_waitingUsers.find(line.user);
    if (count != m_waitingUsers.end() && --*count == 0)
        m_waitingUsers.erase(count);
}

void ChatsForm::TakeWaiting(ChatForm* form)
{
    if (!Waits(form->User()))
        return;
    std::vector<Waiting> lines;
    std::erase_if(m_waiting, [&](Waiting& line) {
        if (line.user != form->User())
            return false;
        Forget(line);
        lines.push_back(std::move(line));
        return true;
    });
    for (const Waiting& line : lines)
        form->AddWaitedChat(line.text, line.when);
    ShowWaiting();
}

void ChatsForm::OpenWaiting()
{
    while (!m_waiting.empty() && chatTabControl->count() < kMaxTabs)
        GetChatForm(m_waiting.front().user);
}

void ChatsForm::ShowWaiting()
{
    if (m_waiting.empty()) {
        m_dropped = 0;
        waitingNotice->hide();
        return;
    }
    QString text = QStringLiteral("Private messages of %1 more users wait for a tab (%2 tabs at most): close a tab "
                                  "to see the next.")
                       .arg(m_waitingUsers.size())
                       .arg(kMaxTabs);
    if (m_dropped)
        text += QStringLiteral(" %1 older waiting lines were dropped (the chat log keeps them when it is on).")
                    .arg(m_dropped);
    waitingNotice->setText(text);
    waitingNotice->show();
}

void ChatsForm::OpenChatForm(const QString& user)
{
    // Asked for by the user: the input line takes the keyboard, so the first
    // words typed reach the chat.
    GetChatForm(user)->Focus();
}

void ChatsForm::SetIcon(ItemPtr user, bool online)
{
    if (auto* form = user["user_chat_widget"].AsPointer<ChatForm>()) {
        const int index = chatTabControl->indexOf(form);
        if (index >= 0)
            chatTabControl->setTabIcon(index, OnlineIcon(online));
    }
}

void ChatsForm::OnUserOnline(ItemPtr user)
{
    SetIcon(user, true);
}

void ChatsForm::OnUserOffline(ItemPtr user)
{
    SetIcon(user, false);
}

void ChatsForm::OnActionTriggered(QWidget* widget, QString id)
{
    // Found by its address among the tabs: the widget may be gone already.
    const int index = chatTabControl->indexOf(widget);
    if (auto* form = index >= 0 ? qobject_cast<ChatForm*>(chatTabControl->widget(index)) : nullptr)
        form->OnActionTriggered(widget, id);
}

void ChatsForm::OnChatTabClosed(int index)
{
    delete chatTabControl->widget(index);
    OpenWaiting();
}
