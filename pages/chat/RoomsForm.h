#pragma once
// The Rooms page: the room list on the right, on the left a tab per joined
// room with the rooms' chat-log viewers and walls. It carries out the actions
// of the tool-bar sets "room_list" and "room" for every room tab, and the
// half-minute end of quiet conversations (QuietChats) for all of them.
#include "QuietChats.h"
#include "RoomListModel.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <memory>

class QHBoxLayout;
class QLabel;
class QMessageBox;
class RoomForm;
class RoomWallForm;
class QModelIndex;
class QSplitter;
class QTableView;
class TabWidget;

class RoomsForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    explicit RoomsForm(QWidget* parent = nullptr);
    ~RoomsForm() override;
    void Init();
    // Joins (or creates) the room, or says why it can't.
    void EnterRoom(const QString& room, bool isPrivate);

    QHBoxLayout* horizontalLayout;
    QSplitter* roomSplitter;
    TabWidget* roomsTabControl;
    // Under the tabs while text typed in a room (or on its wall) that the
    // user is no longer in waits for the next join of that room.
    QLabel* draftNotice;
    QTableView* roomList;
    RoomListModel* roomModel;

public slots:
    void OnRoomListContextMenuRequested(QPoint position);
    void OnPrivateRoomAddEnabled(bool enabled);
    void OnConnected();
    void OnToolBarActionTriggered(QWidget* widget, QString id);
    void OnEnterRoom();
    void OnRoomTabClosed(int index);
    void OnRoomListItemDoubleClicked(const QModelIndex& index);

private:
    void OnRoomAdded(ItemPtr room);
    void OnRoomUserCountChanged(ItemPtr room);
    void OnBecomingRoomOwner(ItemPtr room);
    void OnBecomingRoomOperator(ItemPtr room);
    void OnBecomingRoomMember(ItemPtr room);
    void OnLosingRoomRole(ItemPtr room);
    void OnEnteredRoom(ConnectionInfo& info);
    void OnRoomLeft(RoomForm* page);
    // A room the user asked for comes to the front.
    void BringTab(RoomForm* page);
    void CloseWall(ItemPtr room);
    void MoveFocusOffPage(QWidget* page);
    void ShowDraftNotice();
    // The server refused to create or enter the room: said in a box that
    // takes no key, one box for the refusals that come while it is open.
    void OnCannotCreateRoom(const QString& room);

    void Watch(const char* child, int relation, void (RoomsForm::*handler)(ItemPtr));
    RoomListModel::Row* Row(ItemPtr room) const;
    void MarkRole(ItemPtr room, int italic, int underline, int weight);
    void OpenChatLog(ItemPtr room);
    // The room's wall, made when there is none.
    RoomWallForm* Wall(ItemPtr room);
    void GiveUpMembership(ItemPtr room);
    void GiveUpOwnership(ItemPtr room);

    QSet<QString> m_asked; // rooms the user asked to join, not yet answered
    QHash<QString, QString> m_drafts; // unsent text by room, for this run
    QHash<QString, QString> m_wallDrafts; // unset tickers by room, likewise
    QPointer<QMessageBox> m_refusedBox;
    QStringList m_refusedRooms; // named in the open box
    int m_moreRefused = 0; // refused while the box is open, beyond those named
    std::unique_ptr<QuietChats> m_quiet;
};

extern RoomsForm* roomsForm;
