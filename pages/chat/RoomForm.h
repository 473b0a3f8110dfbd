#pragma once
// The tab of one joined room: its chat beside the list of its users.
//
// Users arrive in bursts (5,000 at once when a big room is joined), so rows
// are not made inside the store events: the users are queued and turned into
// rows a slice at a time with the list's sorting switched off, each going in
// at its sorted place. Rows of users who leave go at once, up to a few in a
// turn; beyond that (a crowd leaving) in the next turn, all together, by
// putting the list back without them, so that no removal moves every row
// after it again and again. When everybody goes (a lost connection) the list
// shows nobody at once, and the rows go a slice at a time before any new row
// goes in. The room keeps at most Server::kMaxRoomMembers users, so that no
// turn's work grows beyond that.
#include "ChatLines.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/TurnTaker.h"
#include <QDeadlineTimer>
#include <QHash>
#include <QIcon>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <vector>

class QLineEdit;
class QSplitter;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QRoomUserListItemWidget;
class QUrl;

class RoomForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    explicit RoomForm(const QString& room, QWidget* parent = nullptr);
    ~RoomForm() override;
    void Init();

    void AddStatusMessage(const QString& text);
    void LogChat(const QString& line);
    const QString& Room() const { return m_room; }
    ChatLines& Lines() { return m_lines; }

    QSplitter* splitter;
    QTextBrowser* chatView;
    QLineEdit* chatEdit;
    QTreeWidget* userList;

    // The row of a user (made rows only), or null.
    QRoomUserListItemWidget* Row(const QString& user) const { return m_rows.value(user); }

signals:
    // The server took the room away (a removal, a ban, the room closed, a
    // leave elsewhere); the page deletes itself right after.
    void Left();

public slots:
    void OnRoomChat(QString room, QString user, QString text);
    void OnUserItemClicked(QTreeWidgetItem* item, int column);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void OnRoomEntered(QString room);
    void OnCannotEnterRoom(QString room);
    void OnMembersCut(QString room);
    void OnUserListContextMenuRequested(QPoint position);
    void OnURLClicked(const QUrl& url);
    void OnUserItemDoubleClicked(QTreeWidgetItem* item, int column);

private slots:
    void UpdateRows();

private:
    void OnUserAdded(ItemPtr user);
    void OnUserRemoved(ItemPtr user);
    void OnOperatorAdded(ItemPtr user);
    void OnOperatorRemoved(ItemPtr user);
    void OnLeftRoom(ItemPtr room);
    void OnRoomAutojoinOn(ItemPtr room);
    void OnRoomAutojoinOff(ItemPtr room);
    void OnRoomActivityAlertOn(ItemPtr room);
    void OnRoomActivityAlertOff(ItemPtr room);
    void OnRoomRoleChanged(ItemPtr room);
    void OnUserNoteChanged(ItemPtr user);
    void OnUserNoteRemoved(ItemPtr user);

    void Watch(class PathNode* root, void (RoomForm::*handler)(ItemPtr));
    void SetActionText(const char* id, const QString& text);
    void SetBold(const QString& user, int weight);
    // The user's row, not yet in the list; null when the user has one.
    QTreeWidgetItem* MakeRow(ItemPtr user);
    const QIcon& FlagIcon(const QString& country);
    void SetNoteIcon(ItemPtr user, const QIcon& icon);
    void UpdateUserCount();
    void QueueRowUpdate();
    // Each does a slice of its work until the turn is over.
    void RemoveLeftRows(const QDeadlineTimer& turn);
    void AddPendingRows(const QDeadlineTimer& turn);

    QString m_room;
    ItemPtr m_roomItem;
    ChatLines m_lines;
    bool m_left = false;
    // Entered again after a reconnection, and the server has not answered yet.
    bool m_entering = false;
    QHash<QString, QRoomUserListItemWidget*> m_rows;
    QStringList m_pending; // users waiting for a row, in arrival order
    QSet<QString> m_pendingSet; // the same users, for lookups
    std::vector<QTreeWidgetItem*> m_leftRows; // rows of users who left, still in the list
    int m_removedInTurn = 0; // rows taken out one by one since the last update
    bool m_clearingRows = false; // every row of the list is going
    std::vector<QTreeWidgetItem*> m_doomedRows; // out of the list, to be freed
    QHash<QString, QRoomUserListItemWidget*> m_doomedNames; // of rows that went at once, to be freed
    bool m_flushQueued = false;
    // The rest of the rows' work, a share of a later pass at a time.
    TurnTaker m_nextRows { [this] { UpdateRows(); } };
    QHash<QString, QIcon> m_flags; // by country code
};
