#include "PrivateFiles.h"
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFiles {

bool MakeFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !MakeFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

bool KeepToOwner(const QString& path)
{
    struct stat info;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &info) != 0)
        return false;
    return (info.st_mode & 077) == 0 || ::chmod(native.constData(), info.st_mode & 07700) == 0;
}

int OpenForAppend(const QString& path)
{
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    struct stat info;
    if (fd >= 0 && ::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0)
        ::fchmod(fd, info.st_mode & 07700);
    return fd;
}

} // namespace PrivateFiles
