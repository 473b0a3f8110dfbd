#pragma once
// A QTemporaryDir template on a memory file system where there is one, for
// files that would wait on a busy disk (many made and removed, or synced).
#include <QDir>

inline QString MemoryTemp(const QString& name)
{
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    return (memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath()) + '/' + name
        + "-XXXXXX";
}
