#pragma once
// A shared file opened to be offered or sent: the very file that the walk
// lists under its shared folder. No symbolic link is followed below the
// shared folder and only a regular file opens, so a file or folder swapped
// for a link after the walk (to a file outside the shares) is never read;
// such a path is not as listed, and its file counts as not shared. The
// shared folder itself is opened as its path leads (a link there is the
// user's choice) and must be the folder its last walk listed: one put in its
// place since is not shared until a rescan walks it.
#include "store/ItemPtr.h"
#include <QString>

class OpenedSharedFile {
public:
    // Opens the shared_file item's file read-only.
    explicit OpenedSharedFile(ItemPtr sharedFile);
    ~OpenedSharedFile();
    OpenedSharedFile(const OpenedSharedFile&) = delete;
    OpenedSharedFile& operator=(const OpenedSharedFile&) = delete;

    // The open descriptor, or -1.
    int Descriptor() const { return m_descriptor; }
    // Hands the descriptor over to the caller, who closes it.
    int Take();
    // False when the path leads to something that the walk would not have
    // listed (a symbolic link on the way, a folder where the file was, no
    // regular file): the file is not shared. True for a file that is simply
    // missing or unreadable.
    bool AsListed() const { return m_asListed; }
    // Why it did not open.
    const QString& Error() const { return m_error; }

private:
    int m_descriptor = -1;
    bool m_asListed = true;
    QString m_error;
};
