// What this process holds in memory, from /proc/self.
#pragma once
#include <QByteArray>
#include <QFile>

namespace {

// A line of /proc/self/status ("VmRSS:", "VmHWM:") in MiB, or -1.
inline double StatusMiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Starts VmHWM again from the present VmRSS; false where the kernel does not allow it.
inline bool RestartPeakResident()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace
