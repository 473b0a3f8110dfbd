#pragma once

#include <QFile>
#include <QString>

#include "Stream.h"

// A file opened by path and read or written through the stream encoding: the
// object is itself the Stream over its file.
//
//     QFileStreamer file;
//     if (!file.Open(path, QIODevice::ReadOnly)) ...
//     quint32 count; file.ReadCount(count); ...
//
// The file is opened unbuffered, as Stream already moves it in large blocks.
// For replacing a file safely, use Stream over a QSaveFile instead.
class QFileStreamer : public Stream {
public:
    QFileStreamer();
    ~QFileStreamer() override;

    // Closes any open file first. False when the file cannot be opened.
    bool Open(const QString& path, QIODevice::OpenMode mode);
    // Flushes and closes; false when a write failed (or nothing was open).
    bool Close();
    bool IsOpen() const { return m_file.isOpen(); }

private:
    QFile m_file;
};
