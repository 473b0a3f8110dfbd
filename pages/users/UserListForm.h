#pragma once
// The Users page: the own user list with files, speed, groups and notes, the
// Unshared, Ignored and Online Alerts lists, and the user-information tabs.
// Every list mirrors flags on the user items; rows follow the store through
// watched paths and are found again through one row item per list
// ("user_list_node" and so on, valued with the row's address).
//
// The page also answers peers' user-information requests, raises an event when
// a user with an online alert comes online, refreshes the listed users'
// statistics at each login, and re-orders the upload queue (coalesced) when a
// group's priority or a user's groups change.
#include "UserInfoReply.h"
#include "store/DataLoadedEventHandler.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/PathNode.h"
#include "shell/TabWidget.h"
#include <QPointer>
#include <QWidget>

class QIcon;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class UserInfoForm;
class UserListItemWidget;
class UserListOrder;

class UserListForm : public QWidget, public DataHandler, public DataLoadedEventHandler {
    Q_OBJECT
public:
    explicit UserListForm(QWidget* parent = nullptr);
    ~UserListForm() override;

    // Start-up, before the data file is read: the online-alert type, the data
    // saver and the server's login signal.
    void Init();
    void DataLoaded() override;

    void UpdateUserGroupsDisplay(const QString& user);
    // The online or offline icon that rows show (one shared icon each).
    static const QIcon& StatusIcon(bool online);
    // The user's information tab, opened (and its request sent) when there is
    // none. It is not brought to the front.
    UserInfoForm* GetUserInfoForm(const QString& user);

    QTabWidget* Tabs() const { return m_tabs; }
    QTabWidget* UserInfoTabs() const { return m_userInfoTabs; }
    QTreeWidget* UserList() const { return m_userList; }
    QTreeWidget* UnsharedList() const { return m_unsharedList; }
    QTreeWidget* IgnoredList() const { return m_ignoredList; }
    QTreeWidget* OnlineAlertList() const { return m_onlineAlertList; }
    QWidget* UserListTab() const { return m_userListTab; }

public slots:
    void OnConnected();
    void OnActionBarTriggered(QWidget* widget, QString action);
    void OnUserListContextMenuRequested(const QPoint& pos);
    void OnUnsharedListContextMenuRequested(const QPoint& pos);
    void OnIgnoredListContextMenuRequested(const QPoint& pos);
    void OnOnlineAlertListContextMenuRequested(const QPoint& pos);
    void OnUserItemDoubleClicked(QTreeWidgetItem* item, int column);
    void OnUserInfoTabCloseRequested(int index);
    void OnUserInfoRequested(QString user);

private slots:
    void ReorderUploads();

private:
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);
    void OnUserAddedToList(ItemPtr user);
    void OnUserRemovedFromList(ItemPtr user);
    void OnUserUnshared(ItemPtr user);
    void OnUserReshared(ItemPtr user);
    void OnUserIgnored(ItemPtr user);
    void OnUserUnignored(ItemPtr user);
    void OnUserNoteChanged(ItemPtr user);
    void OnUserNoteRemoved(ItemPtr user);
    void OnUserOnlineAlertAdded(ItemPtr user);
    void OnUserOnlineAlertRemoved(ItemPtr user);
    void OnUserGroupAdded(ItemPtr user);
    void OnUserGroupRemoved(ItemPtr user);
    void OnUserSharedFileCount(ItemPtr user);
    void OnUserAverageSpeed(ItemPtr user);
    void OnGroupingChanged(ItemPtr);

    void BuildWidgets();
    void FillUserList();
    void FillList(QTreeWidget* list, const char* flag, const char* nodeType, bool note);
    void Watch(const char* flag, PathNodeRelation relation, void (UserListForm::*handler)(ItemPtr));
    void RegisterWatches();
    void AddActions();
    UserListItemWidget* NewUserListRow(ItemPtr user);
    QTreeWidgetItem* NewRow(QTreeWidget* list, ItemPtr user, const char* nodeType, bool note);
    void SetNote(QTreeWidgetItem* row, int column, ItemPtr note);
    void ShowUserMenu(QTreeWidget* list, const QPoint& pos);
    void DeleteSelected(QTreeWidget* list);

    QTabWidget* m_tabs;
    QWidget* m_userListTab;
    TabWidget* m_userInfoTabs;
    QTreeWidget* m_userList;
    QTreeWidget* m_unsharedList;
    QTreeWidget* m_ignoredList;
    QTreeWidget* m_onlineAlertList;
    UserListOrder* m_order;
    QTimer* m_reorderTimer;
    UserInfoReply m_reply;
    bool m_loaded = false;
};

extern UserListForm* userListForm;
