#pragma once
// A folder below a root, reached without following any link below the root
// (OpenBelowRoot.h opens single files the same way).
//
// A path checked and then used is only as good as the moment of the check: a
// link planted in the tree in between ("complete/Album -> /elsewhere") sends
// the write where the link points. So the folder is reached from the root by
// opening each component with O_NOFOLLOW relative to the one before (making
// it when asked), and its files are opened, renamed and removed relative to
// that descriptor: what is written is what was checked, at the moment of use.
// The root's own path is the user's choice and is followed as it is.
//
// Names are single components: no "/", ".", "..".
#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <utility>

struct stat;

// A file's or folder's identity on its machine: device and inode.
using FileIdentity = std::pair<dev_t, ino_t>;

class NoFollowFolder {
public:
    NoFollowFolder() = default;
    NoFollowFolder(NoFollowFolder&& other) noexcept;
    NoFollowFolder& operator=(NoFollowFolder&& other) noexcept;
    NoFollowFolder(const NoFollowFolder&) = delete;
    NoFollowFolder& operator=(const NoFollowFolder&) = delete;
    ~NoFollowFolder();

    // The folder root/components[0]/...; with create, missing folders are
    // made. Not open on failure, with errno set (ELOOP for a link, which
    // Linux reports as ENOTDIR) and Error() saying which folder and why (a
    // link or a file where a folder should be says so).
    static NoFollowFolder Open(const QString& root, const QStringList& components, bool create);

    bool IsOpen() const { return m_descriptor >= 0; }
    const QString& Error() const { return m_error; }
    // The folder's path, "/" separators, for messages.
    const QString& Path() const { return m_path; }
    int Descriptor() const { return m_descriptor; }
    // The root folder that the open was begun from, as it was opened (the
    // root's own path is followed).
    const FileIdentity& RootIdentity() const { return m_rootIdentity; }

    // Opens the regular file `name` in the folder (open(2) flags; O_NOFOLLOW,
    // O_NONBLOCK and O_CLOEXEC are added, O_NONBLOCK is taken off again):
    // the descriptor, or -1 with errno and *error set. A link is refused
    // (ELOOP), and so is a folder, a pipe or a device (ENXIO); a pipe in its
    // place does not hold the open.
    int OpenFile(const QString& name, int flags, QString* error, mode_t mode = 0644) const;
    // lstat of the name: false (errno set) when there is nothing of that name.
    bool Stat(const QString& name, struct stat* info) const;
    // Removes the file (never a folder); true when it is gone, also when it
    // was never there.
    bool RemoveFile(const QString& name) const;
    // Removes the subfolder when it is an empty folder (not a link).
    bool RemoveFolder(const QString& name) const;
    // Moves the entry `name` of this folder to `to` in `target`, never over
    // an entry already there: false with errno set (EEXIST when `to` is taken).
    bool MoveTo(const QString& name, const NoFollowFolder& target, const QString& to) const;

    // The components of path below root (both absolute, "/" separators);
    // empty when path is not strictly below root.
    static QStringList ComponentsBelow(const QString& root, const QString& path);

private:
    void Close();

    int m_descriptor = -1;
    FileIdentity m_rootIdentity { 0, 0 };
    QString m_root;
    QString m_path;
    QString m_error;
};
