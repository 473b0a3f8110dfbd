#include "OpenedSharedFile.h"
#include "store/ItemSet.h"
#include "store/OpenBelowRoot.h"
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
// The shared folder that the file's folder lies in (the innermost one when
// shared folders nest), without trailing "/"; empty when there is none.
QString RootOf(ItemPtr folder)
{
    const QString path = folder.AsString();
    QString root;
    for (ItemPtr shared : folder.GetItems("shared_folder")) {
        QString candidate = shared.AsString();
        while (candidate.size() > 1 && candidate.endsWith(QLatin1Char('/')))
            candidate.chop(1);
        const QString prefix = candidate.endsWith(QLatin1Char('/')) ? candidate : candidate + QLatin1Char('/');
        if ((path == candidate || path.startsWith(prefix)) && candidate.size() > root.size())
            root = candidate;
    }
    return root;
}
} // namespace

OpenedSharedFile::OpenedSharedFile(ItemPtr sharedFile)
{
    ItemPtr folder = sharedFile["shared_file_folder"];
    const QString root = RootOf(folder);
    if (root.isEmpty()) {
        m_asListed = false;
        m_error = QStringLiteral("it lies in no shared folder");
        return;
    }
    QString relative = folder.AsString().mid(root.size());
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    if (!relative.isEmpty())
        relative += QLatin1Char('/');
    relative += sharedFile["shared_file_name"].AsString();
    m_descriptor = OpenRegularBelowRoot(root, relative);
    if (m_descriptor < 0) {
        const int error = errno;
        m_asListed = error != ELOOP && error != ENOTDIR && error != EINVAL && error != ENXIO;
        m_error = error == ELOOP ? QStringLiteral("a symbolic link stands in its place or its folder's")
            : m_asListed         ? QString::fromLocal8Bit(std::strerror(error))
                                 : QStringLiteral("it is no regular file in the folders that were listed");
    }
}

OpenedSharedFile::~OpenedSharedFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

int OpenedSharedFile::Take()
{
    const int fd = m_descriptor;
    m_descriptor = -1;
    return fd;
}
