#include "DownloadThread.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

DownloadThread::DownloadThread(
    QTcpSocket* socket, QFile* file, const QString& path, qint64 size, qint64 offset, QByteArray held)
    : TransferThread(socket, file)
    , m_path(QFile::encodeName(path))
    , m_size(size)
    , m_position(offset)
    , m_held(std::move(held))
{
    struct stat opened;
    if (::fstat(file->handle(), &opened) == 0) {
        m_device = opened.st_dev;
        m_inode = opened.st_ino;
    }
}

bool DownloadThread::CheckHeldBytes(qint64& received)
{
    char buffer[8192];
    for (qint64 checked = 0; checked < m_held.size();) {
        const qint64 got = Receive(buffer, qMin<qint64>(sizeof buffer, m_held.size() - checked),
            QStringLiteral("Waiting for data to read failed."));
        if (got < 0)
            return false;
        if (std::memcmp(buffer, m_held.constData() + checked, size_t(got)) != 0) {
            m_heldBytesDiffer = true;
            m_errorText = QStringLiteral(
                "The file differs from the one its partial file was begun with: the bytes before "
                "the partial file's end are not the same. It is downloaded again from the start.");
            return false;
        }
        checked += got;
        received += got;
    }
    return true;
}

QString DownloadThread::PartialFileRemovedReason()
{
    return QStringLiteral("The partial file was removed during the download.");
}

bool DownloadThread::WriteToFile(const char* data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(m_file->handle(), data, size_t(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failedLocally = true;
            m_errorText = QStringLiteral("Writing to file failed. Error string: ")
                + qt_error_string(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        length -= n;
        m_position += n;
    }
    return true;
}

bool DownloadThread::PartialFileGone() const
{
    struct stat open;
    struct stat named;
    if (::fstat(m_file->handle(), &open) != 0)
        return false;
    if (open.st_nlink == 0)
        return true;
    if (::lstat(m_path.constData(), &named) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    return named.st_ino != open.st_ino || named.st_dev != open.st_dev;
}

void DownloadThread::run()
{
    const bool ok = PerformDownload();
    HandSocketBack();
    m_file->close();
    if (ok)
        emit DownloadComplete();
    else
        emit DownloadError(m_errorText);
}

bool DownloadThread::PerformDownload()
{
    if (m_size < 0 || m_position < 0 || m_position > m_size || m_held.size() > m_position) {
        m_errorText
            = QStringLiteral("Won't resume from offset %1 in file of size %2").arg(m_position).arg(m_size);
        return false;
    }
    // The engine writes the resume offset on the GUI thread and cannot wait
    // there for it to leave; it goes out here.
    if (!TakeOverSocket())
        return false;

    QElapsedTimer clock;
    clock.start();
    qint64 lastReport = 0;
    qint64 received = 0;
    if (!CheckHeldBytes(received))
        return false;
    const qint64 bufferSize = qMin(kBlockSize, m_size - m_position);
    std::unique_ptr<char[]> buffer;
    if (bufferSize > 0)
        buffer.reset(new char[size_t(bufferSize)]);

    for (;;) {
        if (m_position < m_size) {
            // Never more than the file still lacks: extra bytes from the peer
            // are not ours to write.
            const qint64 got = Receive(buffer.get(), qMin(bufferSize, m_size - m_position),
                QStringLiteral("Waiting for data to read failed."));
            if (got < 0)
                return false;
            const qint64 before = m_position;
            const bool written = WriteToFile(buffer.get(), got);
            received += m_position - before;
            if (!written)
                return false;
        }
        const qint64 now = clock.elapsed();
        const bool done = m_position >= m_size;
        if (done || now - lastReport >= kProgressMs) {
            if (PartialFileGone()) {
                // What it held is lost with it: no bar may show it whole.
                m_failedLocally = true;
                m_errorText = PartialFileRemovedReason();
                emit DownloadProgress(0, 0);
                return false;
            }
            emit DownloadProgress(m_position, BytesPerSecond(received, now));
            lastReport = now;
        }
        if (done) {
            m_socket->close();
            return true;
        }
    }
}
