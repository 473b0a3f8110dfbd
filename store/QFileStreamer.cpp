#include "QFileStreamer.h"

QFileStreamer::QFileStreamer() = default;

QFileStreamer::~QFileStreamer()
{
    // The base destructor must not flush into a file that is gone by then.
    Close();
}

bool QFileStreamer::Open(const QString& path, QIODevice::OpenMode mode)
{
    Close();
    m_file.setFileName(path);
    if (!m_file.open(mode | QIODevice::Unbuffered))
        return false;
    SetDevice(&m_file);
    return true;
}

bool QFileStreamer::Close()
{
    if (!m_file.isOpen())
        return false;
    bool ok = Flush();
    SetDevice(nullptr);
    if (m_file.openMode() & QIODevice::WriteOnly)
        ok = m_file.flush() && ok;
    m_file.close();
    return ok && m_file.error() == QFileDevice::NoError;
}
