#include "OpenBelowRoot.h"
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenBelowRoot(const QString& root, const QString& relative, int flags, mode_t mode)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) {
            errno = EINVAL;
            return -1;
        }
    }
    int folder = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (qsizetype k = 0; folder >= 0 && k + 1 < parts.size(); ++k) {
        const int next = ::openat(
            folder, QFile::encodeName(parts[k]).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(folder);
        folder = next;
        errno = error;
    }
    if (folder < 0)
        return -1;
    const int fd = ::openat(folder, QFile::encodeName(parts.last()).constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    const int error = errno;
    ::close(folder);
    errno = error;
    return fd;
}

int OpenRegularBelowRoot(const QString& root, const QString& relative)
{
    const int fd = OpenBelowRoot(root, relative, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat info;
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = ENXIO;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
