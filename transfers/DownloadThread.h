#pragma once
// Receives the bytes of one download on a file connection.
//
// The transfer engine (GUI thread) matches the connection, has the partial
// file opened for appending (on its disk worker), writes the 8-byte resume
// offset to the socket, gives the socket no parent and moves it to this
// thread, then starts it. While run()
// works, only this thread touches the socket and the file; the engine owns
// both and deletes them after the thread has ended. Any bytes still waiting in
// the socket's write buffer (the offset) are pushed out first, so the engine
// need not wait for them on the GUI thread.
//
// When the file already held bytes, the peer sends the last of them again
// first (`held`): run() compares them with what the file holds and, should
// they differ (the peer's file is no longer the one the partial file was
// begun with), fails with HeldBytesDiffer() set before writing anything.
//
// run() receives size - offset bytes into the file, never more, writing each
// block as it arrives (bytes received before a failure stay in the file),
// past QFile's buffer so that a failed write gives the system's reason at
// once. At every progress report and after the last byte it checks that the
// partial file is still where it was opened: one removed meanwhile (its
// folder deleted) fails the download with PartialFileRemovedReason(), its
// progress reported as nothing held. Then it closes the socket, moves it
// back to the thread that created this object, closes the file and emits
// exactly one final signal:
// DownloadComplete() or DownloadError(reason). DownloadProgress comes at most
// every 500 ms, and once more when the last byte is in.
//
// SignalExit() stops it early: every wait is sliced into short waits that
// look at the exit flag, so SignalExit() followed by wait() returns in well
// under a second. A peer that sends nothing for 30 s fails the download.
#include "TransferThread.h"
#include <QMutex>
#include <QString>
#include <sys/types.h>
#include <utility>

class QFile;
class QTcpSocket;

class DownloadThread : public TransferThread {
    Q_OBJECT
public:
    // socket: connected, offset - held.size() already written (or queued) to
    // it; file: open for appending, holding offset bytes, the last of them
    // `held`, at path; size: the file's full size.
    DownloadThread(QTcpSocket* socket, QFile* file, const QString& path, qint64 size, qint64 offset,
        QByteArray held = {});

    // Whether the failure was our own: the file could not be written (a full
    // disk, a folder we may not write to). Read once the thread has finished.
    bool FailedLocally() const { return m_failedLocally; }
    static QString PartialFileRemovedReason();
    // Whether the bytes the peer sent again were not those the file held.
    // Read once the thread has finished.
    bool HeldBytesDiffer() const { return m_heldBytesDiffer; }
    // The device and inode of the file this thread wrote.
    std::pair<dev_t, ino_t> WrittenFile() const { return { m_device, m_inode }; }

signals:
    void DownloadError(QString reason);
    void DownloadProgress(qint64 offset, int bytesPerSecond);
    void DownloadComplete();

protected:
    void run() override;

private:
    bool PerformDownload();
    // Receives the held bytes again and compares them; false, with the
    // reason set, on a difference or a failure.
    bool CheckHeldBytes(qint64& received);
    // Writes the whole block to the file, advancing the position; false, with
    // the reason set, when the file can't take it.
    bool WriteToFile(const char* data, qint64 length);
    // Whether the partial file no longer lies at its path: removed or
    // replaced since it was opened.
    bool PartialFileGone() const;

    QByteArray m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    qint64 m_size;
    qint64 m_position;
    QByteArray m_held;
    bool m_failedLocally = false;
    bool m_heldBytesDiffer = false;
};
