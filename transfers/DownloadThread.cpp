#include "DownloadThread.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <climits>
#include <memory>

DownloadThread::DownloadThread(QTcpSocket* socket, QFile* file, qint64 size, qint64 offset)
    : TransferThread(socket, file)
    , m_size(size)
    , m_position(offset)
{
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
    if (m_size < 0 || m_position < 0 || m_position > m_size) {
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
            const qint64 written = m_file->write(buffer.get(), got);
            if (written > 0)
                m_position += written;
            received += qMax<qint64>(written, 0);
            if (written != got || !m_file->flush()) {
                m_failedLocally = true;
                m_errorText
                    = QStringLiteral("Writing to file failed. Error string: ") + m_file->errorString();
                return false;
            }
        }
        const qint64 now = clock.elapsed();
        const bool done = m_position >= m_size;
        if (done || now - lastReport >= kProgressMs) {
            emit DownloadProgress(m_position, BytesPerSecond(received, now));
            lastReport = now;
        }
        if (done) {
            m_socket->close();
            return true;
        }
    }
}
