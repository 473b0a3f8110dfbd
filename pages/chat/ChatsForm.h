#pragma once
// The Chat page: a tab per private conversation and the chat-log viewers
// opened from them. Every private chat tab is made here (GetChatForm).
//
// The page holds at most kMaxTabs tabs: a row of thousands (a crowd of
// strangers writing at once) would cost the window a large share of a second
// at every tab added and at every showing of the page. A message of a user
// without a tab while the row is full waits, logged as it comes, and gets its
// tab, with the time it came, when a tab closes; a notice over the tabs says
// how many users wait. What waits is bounded too (kMaxWaitingLines lines,
// kMaxWaitingChars characters): past it, the oldest waiting lines are dropped,
// and the notice says how many.
//
// The page hears the shared half-minute timer and the tool bar's actions once
// for all its tabs: the end of quiet conversations (QuietChats) and an action
// go only to the tabs they concern, so their cost does not grow with the tabs.
#include "QuietChats.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QDateTime>
#include <QHash>
#include <QWidget>
#include <deque>
#include <memory>

class ChatForm;
class QHBoxLayout;
class QLabel;
class RoomTabWidget;

class ChatsForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    explicit ChatsForm(QWidget* parent = nullptr);
    ~ChatsForm() override;
    void Init();

    // The user's chat tab, made when there is none; never null. Neither
    // selects the tab nor moves the focus.
    ChatForm* GetChatForm(const QString& user);
    // The same, then brought to the front with the focus in its input line.
    void OpenChatForm(const QString& user);
    // A private message of the user: shown in the user's tab, made when the
    // row has room; otherwise it waits for a tab.
    void Receive(const QString& user, const QString& text);
    // Whether messages of the user wait for a tab.
    bool Waits(const QString& user) const;

    static constexpr int kMaxTabs = 200;
    static constexpr size_t kMaxWaitingLines = 10000;
    static constexpr qsizetype kMaxWaitingChars = 1 << 20;

    QHBoxLayout* horizontalLayout;
    QLabel* waitingNotice;
    RoomTabWidget* chatTabControl;

public slots:
    void OnChatTabClosed(int index);
    // Hands the action to the chat tab it names, if any.
    void OnActionTriggered(QWidget* widget, QString id);

private:
    struct Waiting {
        QString user;
        QString text;
        QDateTime when;
    };
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);
    void SetIcon(ItemPtr user, bool online);
    // Shows the user's waiting lines in the tab just made for the user.
    void TakeWaiting(ChatForm* form);
    // Tabs for the users who wait first, while the row has room.
    void OpenWaiting();
    void ShowWaiting();
    // Takes the line's count out of the sums.
    void Forget(const Waiting& line);

    std::deque<Waiting> m_waiting;
    QHash<QString, int> m_waitingUsers; // lines waiting, by user
    qsizetype m_waitingChars = 0;
    qint64 m_dropped = 0; // waiting lines dropped since nothing waited
    std::unique_ptr<QuietChats> m_quiet;
};

extern ChatsForm* chatsForm;
