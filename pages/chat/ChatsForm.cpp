#include "ChatsForm.h"
#include "ChatForm.h"

ChatsForm* chatsForm = nullptr;

ChatsForm::ChatsForm(QWidget* parent)
    : QWidget(parent)
{
    chatsForm = this;
}

ChatsForm::~ChatsForm()
{
    if (chatsForm == this)
        chatsForm = nullptr;
}

ChatForm* ChatsForm::GetChatForm(const QString& user)
{
    QPointer<ChatForm>& form = m_forms[user];
    if (!form)
        form = new ChatForm(this);
    return form;
}
