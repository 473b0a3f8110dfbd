#include "NoFollowFolder.h"
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
QByteArray Encoded(const QString& name)
{
    return QFile::encodeName(name);
}

QString LinkRefused(const QString& path, const QString& root)
{
    return QStringLiteral("%1 is a link: links below %2 are not followed.").arg(path, root);
}

bool IsLink(int folder, const QByteArray& name)
{
    struct stat info;
    return ::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}
} // namespace

NoFollowFolder::NoFollowFolder(NoFollowFolder&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
    , m_rootIdentity(other.m_rootIdentity)
    , m_root(std::move(other.m_root))
    , m_path(std::move(other.m_path))
    , m_error(std::move(other.m_error))
{
}

NoFollowFolder& NoFollowFolder::operator=(NoFollowFolder&& other) noexcept
{
    if (this != &other) {
        Close();
        m_descriptor = std::exchange(other.m_descriptor, -1);
        m_rootIdentity = other.m_rootIdentity;
        m_root = std::move(other.m_root);
        m_path = std::move(other.m_path);
        m_error = std::move(other.m_error);
    }
    return *this;
}

NoFollowFolder::~NoFollowFolder()
{
    Close();
}

void NoFollowFolder::Close()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
}

NoFollowFolder NoFollowFolder::Open(const QString& root, const QStringList& components, bool create)
{
    NoFollowFolder folder;
    folder.m_root = QDir::cleanPath(root);
    folder.m_path = folder.m_root;
    const auto fail = [&](const QString& what) {
        const int error = errno;
        folder.m_error = QStringLiteral("Could not %1 the folder %2. Error string: %3")
                             .arg(what, folder.m_path, qt_error_string(error));
        folder.Close();
        errno = error;
        return std::move(folder);
    };
    if (create)
        QDir().mkpath(root);
    folder.m_descriptor = ::open(Encoded(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat rootInfo;
    if (folder.m_descriptor < 0 || ::fstat(folder.m_descriptor, &rootInfo) != 0)
        return fail(QStringLiteral("open"));
    folder.m_rootIdentity = { rootInfo.st_dev, rootInfo.st_ino };
    for (const QString& component : components) {
        const QByteArray name = Encoded(component);
        folder.m_path += QLatin1Char('/') + component;
        if (create && ::mkdirat(folder.m_descriptor, name.constData(), 0777) != 0 && errno != EEXIST)
            return fail(QStringLiteral("create"));
        const int next = ::openat(
            folder.m_descriptor, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int error = errno;
            if ((error == ELOOP || error == ENOTDIR) && IsLink(folder.m_descriptor, name)) {
                folder.m_error = LinkRefused(folder.m_path, folder.m_root);
                folder.Close();
                errno = ELOOP;
                return folder;
            }
            errno = error;
            return fail(create ? QStringLiteral("create") : QStringLiteral("open"));
        }
        ::close(folder.m_descriptor);
        folder.m_descriptor = next;
    }
    return folder;
}

int NoFollowFolder::OpenFile(const QString& name, int flags, QString* error, mode_t mode) const
{
    const QString path = m_path + QLatin1Char('/') + name;
    const QByteArray encoded = Encoded(name);
    // Non-blocking, so that a pipe planted in the file's place can't hold
    // the caller in open().
    const int descriptor
        = ::openat(m_descriptor, encoded.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    struct stat info;
    QString reason;
    if (descriptor < 0) {
        const int why = errno;
        reason = why == ELOOP && IsLink(m_descriptor, encoded)
            ? LinkRefused(path, m_root)
            : QStringLiteral("Could not open %1. Error string: %2").arg(path, qt_error_string(why));
        errno = why;
    } else if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = QStringLiteral("%1 is not a regular file.").arg(path);
    } else {
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
        return descriptor;
    }
    if (descriptor >= 0) {
        ::close(descriptor);
        errno = ENXIO;
    }
    if (error)
        *error = reason;
    return -1;
}

bool NoFollowFolder::Stat(const QString& name, struct stat* info) const
{
    return ::fstatat(m_descriptor, Encoded(name).constData(), info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool NoFollowFolder::RemoveFile(const QString& name) const
{
    return ::unlinkat(m_descriptor, Encoded(name).constData(), 0) == 0 || errno == ENOENT;
}

bool NoFollowFolder::RemoveFolder(const QString& name) const
{
    return ::unlinkat(m_descriptor, Encoded(name).constData(), AT_REMOVEDIR) == 0;
}

bool NoFollowFolder::MoveTo(const QString& name, const NoFollowFolder& target, const QString& to) const
{
    const QByteArray from = Encoded(name);
    const QByteArray into = Encoded(to);
    if (::renameat2(m_descriptor, from.constData(), target.m_descriptor, into.constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace move: a second link, which is
    // never made over an entry, then the first one goes.
    if (::linkat(m_descriptor, from.constData(), target.m_descriptor, into.constData(), 0) != 0)
        return false;
    ::unlinkat(m_descriptor, from.constData(), 0);
    return true;
}

QStringList NoFollowFolder::ComponentsBelow(const QString& root, const QString& path)
{
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    const QString prefix = cleanRoot.endsWith(QLatin1Char('/')) ? cleanRoot : cleanRoot + QLatin1Char('/');
    if (!cleanPath.startsWith(prefix) || cleanPath.size() == prefix.size())
        return QStringList();
    return cleanPath.mid(prefix.size()).split(QLatin1Char('/'));
}
