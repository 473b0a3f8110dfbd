#include "UserPageLinks.h"
#include "pages/chat/ChatsForm.h"

void OpenChatWithUser(const QString& user)
{
    if (chatsForm)
        chatsForm->OpenChatForm(user);
}

// The browse page is built separately; until it is there, these entries do
// nothing.

void OpenShareBrowseOf(const QString&)
{
}

void OpenUploadBrowseTo(const QString&)
{
}
