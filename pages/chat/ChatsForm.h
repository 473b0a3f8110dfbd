#pragma once
// Stand-in for the page until it is built: the class and the calls the main
// window makes, nothing more.
#include <QWidget>
#include <QMap>
#include <QPointer>
class ChatForm;
class ChatsForm : public QWidget {
    Q_OBJECT
public:
    explicit ChatsForm(QWidget* parent = nullptr);
    ~ChatsForm() override;
    void Init() { }
    // The user's private-chat tab, created when missing.
    ChatForm* GetChatForm(const QString& user);

private:
    QMap<QString, QPointer<ChatForm>> m_forms;
};

extern ChatsForm* chatsForm;
