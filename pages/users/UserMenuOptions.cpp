#include "UserMenuOptions.h"
#include "GiftPrivilegesDialog.h"
#include "UserGroupsDialog.h"
#include "UserInfoForm.h"
#include "UserListForm.h"
#include "UserNoteDialog.h"
#include "UserPageLinks.h"
#include "shell/Kit.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "ItemLogDialog.h"
#include "WidgetFunctions.h"
#include "transfers/TransferQueueManager.h"
#include <QAction>
#include <QMenu>

namespace {

ItemPtr FindUser(const QString& name)
{
    Type* type = d.HasType("user");
    return type ? type->HasItem(Value(name)) : ItemPtr();
}

using Self = UserMenuOptions;

QAction* AddEntry(QMenu* menu, const char* icon, const QString& text, Self* receiver, void (Self::*slot)())
{
    QAction* action = icon ? menu->addAction(QIcon(QString::fromLatin1(icon)), text) : menu->addAction(text);
    QObject::connect(action, &QAction::triggered, receiver, slot);
    return action;
}

// The rooms connected to the single item of a flag type, by name.
ItemList RoomsFlagged(const char* flag)
{
    Type* type = d.HasType(flag);
    if (!type || !type->Count())
        return {};
    ItemSet rooms;
    for (ItemPtr item : type->GetItems())
        rooms.Add(item.GetItems("room"));
    return rooms.SortAlphabetic(true);
}

// A room's name as the title of its submenu: plain, isolated and cut to a
// label's width, as the server may send a name of any length.
QString RoomLabel(const QMenu* menu, const QString& name)
{
    return PlainLabel(ElidedLabel(IsolatedText(name), menu->fontMetrics()));
}

} // namespace

UserMenuOptions::UserMenuOptions(QMenu* menu, QString user, QObject* parent)
    : QObject(parent)
    , m_user(std::move(user))
{
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    const ItemPtr userItem = FindUser(m_user);

    AddEntry(menu, ":/icons/chat_icon", tr("Message user"), this, &Self::OnMessageUser);
    if (userItem.IsConnected("in_user_list")) {
        AddEntry(menu, ":/icons/users_icon", tr("Set user's groups"), this, &Self::OnSetUserGroups);
        AddEntry(menu, ":/icons/remove_user_icon", tr("Remove user from list"), this, &Self::OnRemoveUser);
    } else {
        AddEntry(menu, ":/icons/add_user_icon", tr("Add user to list"), this, &Self::OnAddUser);
    }
    AddEntry(menu, ":/icons/browse_icon", tr("Browse user's files"), this, &Self::OnBrowseUser);
    AddEntry(menu, ":/icons/browse_icon", tr("Upload to user"), this, &Self::OnUploadToUser);
    AddEntry(menu, ":/icons/info_icon", tr("Get User Info"), this, &Self::OnGetUserInfo);
    AddEntry(menu, ":/icons/note_icon",
        userItem.IsConnected("user_note") ? tr("Edit user note") : tr("Add user note"), this,
        &Self::OnUserNote);
    AddEntry(menu, ":/icons/alert_icon",
        userItem.IsConnected("user_online_alert") ? tr("Remove online status alert")
                                                  : tr("Alert when user goes online"),
        this, &Self::OnAddRemoveOnlineAlert);
    if (settings.GetInt("privileges_time_left") > 0)
        AddEntry(menu, ":/icons/gift_icon", tr("Gift Privileges"), this, &Self::OnGiftPrivileges);
    menu->addSeparator();
    if (userItem.IsConnected("unshared"))
        AddEntry(
            menu, ":/icons/browse_icon", tr("Re-share files with user"), this, &Self::OnReshareFilesWithUser);
    else
        AddEntry(
            menu, ":/icons/browse_icon", tr("Unshare files from user"), this, &Self::OnUnshareFilesFromUser);
    if (userItem.IsConnected("is_ignored"))
        AddEntry(menu, ":/icons/chat_icon", tr("Receive chat from user"), this, &Self::OnUnignoreUser);
    else
        AddEntry(menu, ":/icons/chat_icon", tr("Ignore chat from user"), this, &Self::OnIgnoreUser);

    AddPrivateRooms(menu, userItem);

    if (settings.Get("user_level_logging") == QLatin1String("yes")) {
        menu->addSeparator();
        AddEntry(menu, nullptr, tr("See User Log"), this, &Self::OnUserLog);
    }
}

UserMenuOptions::~UserMenuOptions() = default;

void UserMenuOptions::AddPrivateRooms(QMenu* menu, ItemPtr user)
{
    const ItemList owned = RoomsFlagged("is_owner");
    const ItemList operated = RoomsFlagged("is_operator");
    if (owned.empty() && operated.empty())
        return;
    menu->addSeparator();
    QMenu* rooms = menu->addMenu(tr("Private Rooms"));

    // Looked up, never created: a room without a member list has no members.
    auto addMembership = [&](QMenu* sub, ItemPtr members, const QString& room) {
        QAction* action = user.IsConnected(members) && members
            ? AddEntry(sub, nullptr, tr("Remove User's Membership"), this, &Self::OnRemoveUserMembership)
            : AddEntry(sub, nullptr, tr("Give User Membership"), this, &Self::OnAddUserMembership);
        action->setData(room);
    };
    for (ItemPtr room : owned) {
        const QString name = room.AsString();
        QMenu* sub = rooms->addMenu(QIcon(QStringLiteral(":/icons/chat_icon")), RoomLabel(rooms, name));
        QFont font = sub->menuAction()->font();
        font.setBold(true);
        font.setUnderline(true);
        sub->menuAction()->setFont(font);
        const ItemPtr members = room["room_members"];
        const ItemPtr operators = room["room_operators"];
        const bool isMember = members && user.IsConnected(members);
        const bool isOperator = operators && user.IsConnected(operators);
        addMembership(sub, members, name);
        if (isMember && !isOperator) {
            sub->addSeparator();
            AddEntry(sub, nullptr, tr("Make User Operator"), this, &Self::OnAddUserOperatorship)
                ->setData(name);
        }
        if (isOperator) {
            sub->addSeparator();
            AddEntry(sub, nullptr, tr("Remove User's Operator Status"), this, &Self::OnRemoveUserOperatorship)
                ->setData(name);
        }
    }
    for (ItemPtr room : operated) {
        if (room.IsConnected("is_owner"))
            continue;
        const QString name = room.AsString();
        QMenu* sub = rooms->addMenu(RoomLabel(rooms, name));
        addMembership(sub, room["room_members"], name);
    }
}

ItemPtr UserMenuOptions::UserItem() const
{
    return d.GetType("user")->GetItem(Value(m_user));
}

QString UserMenuOptions::RoomOfSender() const
{
    auto* action = qobject_cast<QAction*>(sender());
    return action ? action->data().toString() : QString();
}

void UserMenuOptions::OnMessageUser()
{
    OpenChatWithUser(m_user);
}

void UserMenuOptions::OnSetUserGroups()
{
    (new UserGroupsDialog(m_user, nullptr))->show();
}

void UserMenuOptions::OnAddUser()
{
    UserItem().NewItem("in_user_list");
    if (settings.Get("open_groups_on_user_add") == QLatin1String("yes"))
        OnSetUserGroups();
}

void UserMenuOptions::OnRemoveUser()
{
    // The list entry goes whole (with its group memberships), so that nothing
    // of it stays behind in the data file.
    UserItem()["in_user_list"].Remove();
}

void UserMenuOptions::OnBrowseUser()
{
    OpenShareBrowseOf(m_user);
}

void UserMenuOptions::OnUploadToUser()
{
    OpenUploadBrowseTo(m_user);
}

void UserMenuOptions::OnUserLog()
{
    (new ItemLogDialog(UserItem(), nullptr))->show();
}

void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(m_user);
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(m_user);
}

void UserMenuOptions::OnIgnoreUser()
{
    UserItem().Connect(d.GetType("is_ignored")->GetGlobalNullItem());
}

void UserMenuOptions::OnUnignoreUser()
{
    UserItem().Disconnect("is_ignored");
}

void UserMenuOptions::OnAddUserMembership()
{
    if (gp_server)
        gp_server->AddPrivateRoomMember(RoomOfSender(), m_user);
}

void UserMenuOptions::OnRemoveUserMembership()
{
    if (gp_server)
        gp_server->RemovePrivateRoomMember(RoomOfSender(), m_user);
}

void UserMenuOptions::OnAddUserOperatorship()
{
    if (gp_server)
        gp_server->AddPrivateRoomOperator(RoomOfSender(), m_user);
}

void UserMenuOptions::OnRemoveUserOperatorship()
{
    if (gp_server)
        gp_server->RemovePrivateRoomOperator(RoomOfSender(), m_user);
}

void UserMenuOptions::OnUserNote()
{
    UserNoteDialog::GetDialog(m_user)->show();
}

void UserMenuOptions::OnGetUserInfo()
{
    if (!userListForm)
        return;
    if (QWidget* form = userListForm->GetUserInfoForm(m_user))
        FocusWidgetAndParents(form);
}

void UserMenuOptions::OnGiftPrivileges()
{
    (new GiftPrivilegesDialog(m_user, nullptr))->show();
}

void UserMenuOptions::OnAddRemoveOnlineAlert()
{
    const ItemPtr user = UserItem();
    if (user.IsConnected("user_online_alert")) {
        user.Disconnect("user_online_alert");
        return;
    }
    user.Connect(d.GetType("user_online_alert")->GetGlobalNullItem());
    if (gp_server)
        gp_server->TrackUser(m_user);
}
