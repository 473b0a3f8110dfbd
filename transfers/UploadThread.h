#pragma once
// Sends the bytes of one upload on a file connection.
//
// The transfer engine (GUI thread) opens the shared file read-only, gives the
// connected socket no parent and moves it to this thread, then starts it.
// While run() works, only this thread touches the socket and the file; the
// engine owns both and deletes them after the thread has ended.
//
// run() does the uploader's half of the handshake (writes the request number
// as 4 bytes little-endian, reads the 8-byte start offset), sends the file
// from that offset to its end, waits for the downloader to close the
// connection, moves the socket back to the thread that created this object
// and emits exactly one final signal: UploadComplete() or UploadError(reason).
// UploadProgress comes at most every 500 ms, and once more after the last
// block. An offset equal to the file's size sends nothing and completes (a
// 0-byte file, or a downloader that already holds every byte).
//
// The file sent is the one offered: exactly its size is sent, and its stamp
// (size and time of change) is compared with the offered one before the
// first byte and after every block read. A file written to meanwhile fails
// the upload with FileChangedReason() before the block goes out, so the
// downloader never holds a mix of two versions as a whole file.
//
// Throttling: while the shared SpeedLimit has a per-upload limit, the thread
// owes every byte it sends and sleeps until its share of the limit has paid
// for them, first borrowing from the spare-byte pool; time it spent without
// sleeping (slow peer, slow disk) earns allowance that it adds to the pool.
// Blocks are kept to about a tenth of a second of the limit, so the rate is
// smooth even at low limits.
//
// SignalExit() stops it early: every wait and every throttle sleep is sliced
// into short waits that look at the exit flag, so SignalExit() followed by
// wait() returns in well under a second.
#include "FileStamp.h"
#include "TransferThread.h"
#include <QElapsedTimer>
#include <QMutex>
#include <QString>

class QFile;
class QTcpSocket;
class SpeedLimit;

class UploadThread : public TransferThread {
    Q_OBJECT
public:
    // socket: connected; file: open read-only; req: our transfer request
    // number, sent first; speedLimit: the engine's shared limit (nullptr: never
    // throttled); offered: the file as offered to the peer (invalid: the file
    // as it is when the thread starts).
    UploadThread(
        QTcpSocket* socket, QFile* file, int req, SpeedLimit* speedLimit, FileStamp offered = FileStamp());
    // ErrorText() is also empty when the downloader did not close the
    // connection after the last byte.

    // Whether the upload failed because the file changed; read once the
    // thread has finished.
    bool FileChanged() const { return m_fileChanged; }
    static QString FileChangedReason();

signals:
    void UploadError(QString reason);
    void UploadProgress(qint64 offset, int bytesPerSecond);
    void UploadComplete();

protected:
    void run() override;

private:
    bool PerformUpload();
    bool ReadStartOffset(qint64& offset);
    enum ThrottleResult { Paid, LimitChanged, Exit };
    ThrottleResult Throttle(int limit, qint64& owed);
    // False, with the reason set, once the file is no longer as offered.
    bool StillAsOffered();

    int m_req;
    SpeedLimit* m_speedLimit;
    FileStamp m_offered;
    bool m_fileChanged = false;
    QElapsedTimer m_throttle; // since the last payment of owed bytes
};
