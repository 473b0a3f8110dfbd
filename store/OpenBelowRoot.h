#pragma once
// Opening a file below a root folder without following a symbolic link put
// in its way: the root is opened as given (a link in the root's own path is
// the user's choice), every folder of the relative path after it is opened
// with O_NOFOLLOW | O_DIRECTORY from the one above, and the last component
// with O_NOFOLLOW, so the file opened is the one found by walking the real
// folders under the root at this moment, whatever links were planted since.
#include <QString>

// The descriptor of the regular file root/relative opened read-only, or -1
// with errno set: ELOOP when a component is a symbolic link, ENOTDIR when a
// folder is not one, EINVAL for an empty, "." or ".." component, ENXIO for
// anything but a regular file (a folder, a pipe, a device; a pipe in its
// place does not hold the open). relative separates its components with "/".
int OpenRegularBelowRoot(const QString& root, const QString& relative);
