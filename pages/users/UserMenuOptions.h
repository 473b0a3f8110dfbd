#pragma once
// The user context menu: every page that shows a user name builds a QMenu,
// adds its own entries, then lets a UserMenuOptions append the user entries:
//
//     QMenu menu;
//     ... the page's own entries ...
//     UserMenuOptions options(&menu, userName, nullptr);
//     menu.exec(globalPos);
//
// The options object must live until exec returns; the chosen slot runs inside
// exec. The entries reflect the user's state when the menu is built. Building
// the menu never creates items in the store; the slots look the user up again
// and act on the name, so a menu whose row went away meanwhile is still safe.
#include <QObject>
#include <QString>

class QMenu;
class ItemPtr;

class UserMenuOptions : public QObject {
    Q_OBJECT
public:
    UserMenuOptions(QMenu* menu, QString user, QObject* parent = nullptr);
    ~UserMenuOptions() override;

    QString User() const { return m_user; }

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUploadToUser();
    void OnUserLog();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();
    void OnIgnoreUser();
    void OnUnignoreUser();
    void OnAddUserMembership();
    void OnRemoveUserMembership();
    void OnAddUserOperatorship();
    void OnRemoveUserOperatorship();
    void OnUserNote();
    void OnGetUserInfo();
    void OnGiftPrivileges();
    void OnAddRemoveOnlineAlert();

private:
    void AddPrivateRooms(QMenu* menu, ItemPtr user);
    QString RoomOfSender() const;
    ItemPtr UserItem() const; // found or created: the slots act on it

    QString m_user;
};
