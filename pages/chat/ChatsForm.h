#pragma once
// The Chat page: a tab per private conversation and the chat-log viewers
// opened from them. Every private chat tab is made here (GetChatForm).
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QWidget>

class ChatForm;
class QHBoxLayout;
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

    QHBoxLayout* horizontalLayout;
    RoomTabWidget* chatTabControl;

public slots:
    void OnChatTabClosed(int index);

private:
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);
    void SetIcon(ItemPtr user, bool online);
};

extern ChatsForm* chatsForm;
