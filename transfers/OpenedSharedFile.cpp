#include "OpenedSharedFile.h"
#include "shares/SharedFoldersManager.h"
#include "store/ItemSet.h"
#include "store/NoFollowFolder.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    QStringList components = folder.AsString().mid(root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    components << sharedFile["shared_file_name"].AsString();
    for (const QString& part : std::as_const(components)) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")
            || part.contains(u'/')) {
            m_asListed = false;
            m_error = QStringLiteral("its name is not a file's name in the folders that were listed");
            return;
        }
    }
    const QString name = components.takeLast();
    // The shared folder's own path may lead elsewhere by now (a link put in
    // its place): that folder was never walked.
    const std::optional<FileIdentity> walked
        = sharedFoldersManager ? sharedFoldersManager->WalkedRoot(root) : std::nullopt;
    const NoFollowFolder below = NoFollowFolder::Open(root, components, false);
    if (below.IsOpen() && walked && below.RootIdentity() != *walked) {
        m_asListed = false;
        m_error = QStringLiteral("its shared folder %1 is no longer the folder that was listed").arg(root);
        return;
    }
    m_descriptor = below.IsOpen() ? below.OpenFile(name, O_RDONLY | O_NOCTTY, nullptr) : -1;
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
