#include "UserPageLinks.h"
#include "pages/browse/SharesForm.h"
#include "pages/chat/ChatsForm.h"

void OpenChatWithUser(const QString& user)
{
    if (chatsForm)
        chatsForm->OpenChatForm(user);
}

void OpenShareBrowseOf(const QString& user)
{
    if (sharesForm)
        sharesForm->OpenShareBrowse(user);
}

void OpenUploadBrowseTo(const QString& user)
{
    if (sharesForm)
        sharesForm->OpenUploadBrowse(user);
}
