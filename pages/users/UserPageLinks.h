#pragma once
// What the users pages ask of the other pages (private chat, share browsing),
// kept in one place, and small text helpers shared by the users pages.
#include <QString>

// Opens (or raises) the private chat with the user and brings it to the front.
void OpenChatWithUser(const QString& user);
// Opens (or raises) the tab browsing the user's share.
void OpenShareBrowseOf(const QString& user);
// Opens (or raises) the tab for choosing files to upload to the user.
void OpenUploadBrowseTo(const QString& user);
