#pragma once
// What a download and an upload thread have in common: the connection's socket
// and the open file they use while running, the exit flag under its own mutex
// that the GUI thread sets, the reason of a failure, and the socket's data
// path.
//
// The bytes of a transfer bypass the QTcpSocket's buffers: once the bytes the
// socket already held have been taken (queued writes pushed out, buffered
// reads handed over first), the thread reads and writes the socket's
// descriptor itself, in large blocks, waiting on it with poll() in short
// slices. The QTcpSocket keeps owning the descriptor and closes it.
#include <QMutex>
#include <QString>
#include <QThread>

class QFile;
class QTcpSocket;

class TransferThread : public QThread {
    Q_OBJECT
public:
    // GUI thread: asks run() to stop; follow with wait().
    void SignalExit();
    bool AskedToExit() const;

    // The reason of the failure, once run() has ended (empty on success).
    QString ErrorText() const { return m_errorText; }

    // Blocks move at most this many bytes.
    static constexpr qint64 kBlockSize = 512 * 1024;
    // Every wait is cut into slices this long so that the exit flag is seen fast.
    static constexpr int kSliceMs = 50;
    // A peer that lets this long pass without progress fails the transfer.
    static constexpr qint64 kStallMs = 30000;
    // Progress is reported at most this often.
    static constexpr qint64 kProgressMs = 500;
    static int BytesPerSecond(qint64 bytes, qint64 ms);

protected:
    TransferThread(QTcpSocket* socket, QFile* file);
    // Gives the socket back to the thread that created this one (the engine's),
    // so that it can close and delete it.
    void HandSocketBack();

    // Pushes out what was queued on the socket before the hand-over, then
    // takes over its descriptor (none when the connection is already gone:
    // the bytes the socket holds are still received, then Receive fails).
    // False, with the reason set, only on an exit request.
    bool TakeOverSocket();
    // Receives 1 to `max` bytes, waiting in slices until some arrive. -1, with
    // the reason set, on an exit request, a closed or broken connection or
    // kStallMs without data; the reason of the last two starts with `failure`.
    qint64 Receive(char* data, qint64 max, const QString& failure);
    // Sends all `length` bytes. False, with the reason set, on an exit request,
    // a broken connection or kStallMs without progress.
    bool Send(const char* data, qint64 length);
    // Waits until the peer closes the connection, dropping whatever it sends.
    // False on an exit request (reason set) or after kStallMs (reason empty).
    bool WaitForPeerClose();
    // Waits for one slice until the socket is ready for `events` (poll's).
    void WaitSlice(short events) const;
    // Sets the reason of an exit request, when one came; true if it did.
    bool ExitRequested();
    // The reason of a failed socket call: `what` and the system's error text.
    void SetSocketError(const QString& what, int error);

    QTcpSocket* m_socket;
    QFile* m_file;
    int m_descriptor = -1;
    QString m_errorText;

private:
    mutable QMutex m_exitMutex;
    bool m_exit = false;
};
