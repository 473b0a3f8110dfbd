#include "ChatsForm.h"
#include "ChatForm.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include <QHBoxLayout>

ChatsForm* chatsForm = nullptr;

namespace {

QIcon OnlineIcon(bool online)
{
    return QIcon(online ? QStringLiteral(":/icons/online_icon") : QStringLiteral(":/icons/offline_icon"));
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
    chatTabControl = new RoomTabWidget(this);
    chatTabControl->setObjectName(QStringLiteral("chatTabControl"));
    chatTabControl->setTabsClosable(true);
    chatTabControl->setMovable(true);
    horizontalLayout->addWidget(chatTabControl);
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
}

ChatForm* ChatsForm::GetChatForm(const QString& user)
{
    ItemPtr item = d.GetType("user")->GetItem(Value(user));
    if (auto* form = item["user_chat_widget"].AsPointer<ChatForm>())
        return form;
    auto* form = new ChatForm(user, chatTabControl, this);
    chatTabControl->AddNamedTab(form, OnlineIcon(item.IsConnected("is_online")), IsolatedText(user));
    if (gp_server)
        gp_server->TrackUser(user);
    return form;
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

void ChatsForm::OnChatTabClosed(int index)
{
    delete chatTabControl->widget(index);
}
