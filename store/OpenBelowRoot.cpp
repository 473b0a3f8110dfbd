#include "OpenBelowRoot.h"
#include "NoFollowFolder.h"
#include <QStringList>
#include <cerrno>
#include <fcntl.h>

namespace {
// The folders of the relative path, its last component taken off into name;
// false (EINVAL) for an empty, "." or ".." component.
bool Split(const QString& relative, QStringList& folders, QString& name)
{
    folders = relative.split(QLatin1Char('/'));
    for (const QString& part : std::as_const(folders)) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) {
            errno = EINVAL;
            return false;
        }
    }
    name = folders.takeLast();
    return true;
}
} // namespace

int OpenRegularBelowRoot(const QString& root, const QString& relative)
{
    QStringList folders;
    QString name;
    if (!Split(relative, folders, name))
        return -1;
    const NoFollowFolder folder = NoFollowFolder::Open(root, folders, false);
    return folder.IsOpen() ? folder.OpenFile(name, O_RDONLY | O_NOCTTY, nullptr) : -1;
}
