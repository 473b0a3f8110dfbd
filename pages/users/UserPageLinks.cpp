#include "UserPageLinks.h"

// The chat and browse pages are built separately; until they are there, these
// entries do nothing.
void OpenChatWithUser(const QString&)
{
}

void OpenShareBrowseOf(const QString&)
{
}

void OpenUploadBrowseTo(const QString&)
{
}
