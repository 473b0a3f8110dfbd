#pragma once
// Where a test's temporary folder goes when its files would wait on a busy
// disk (trees of many files made and removed, a data file synced on the way
// out): a memory file system where there is one. A template for QTemporaryDir.
#include <QDir>
#include <QFileInfo>

inline QString MemoryTemp(const QString& name)
{
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    return (memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath()) + '/' + name
        + "-XXXXXX";
}
