#pragma once
// What tells one version of a file from another: its size and the time of its
// last change, in nanoseconds. A file whose stamp is unchanged is taken to hold
// the same bytes; a rewrite, a cut or an append changes the stamp.
#include <QtGlobal>

struct FileStamp {
    qint64 size = -1;
    qint64 modifiedNs = 0;

    // False for the stamp of a file that could not be read.
    bool Valid() const { return size >= 0; }
    bool operator==(const FileStamp&) const = default;

    static FileStamp OfDescriptor(int descriptor);
};
