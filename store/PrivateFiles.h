#pragma once
// What is the user's alone (the data file with the password, the logs of
// conversations): files 0600 in folders 0700, whatever the user's mask
// would let others read.
#include <QString>

namespace PrivateFiles {
// Makes the folder and its missing parents 0700; true when it is there.
bool MakeFolder(const QString& folder);
// Takes the group's and others' permissions off an existing file or folder
// (one left by an older version); true when it has none now.
bool KeepToOwner(const QString& path);
// Opens the file for appending, made 0600 when new and tightened when
// looser; -1 with errno set when it can't be opened.
int OpenForAppend(const QString& path);
} // namespace PrivateFiles
