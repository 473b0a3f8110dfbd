#pragma once
// Imports the user list ("hotlist.cfg") of the older client: a 32-bit
// little-endian count, then that many names, each a 32-bit little-endian byte
// count followed by the bytes. Counts and lengths above 131072 are refused.
// The import is all or nothing: the whole list is read before any user is put
// on the user list, so a refused or truncated file changes nothing.
#include <QIODevice>
#include <QString>

class ConfigurationImporter {
public:
    // Gives every user named in the file an in_user_list flag (the user item is
    // created when missing). False, adding no user, when the file cannot be
    // opened, a limit is exceeded or the file ends early.
    static bool ImportUserList(const QString& path);
    // The same from a device open for reading.
    static bool ImportUserList(QIODevice& device);
};
