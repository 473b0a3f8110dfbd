#pragma once
// What a download and an upload thread have in common: the connection's socket
// and the open file they use while running, the exit flag under its own mutex
// that the GUI thread sets, and the reason of a failure.
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
    // Waits in slices until the socket has bytes to read. False, with the
    // reason set, on an exit request, a lost connection or kStallMs without
    // data; the reason of the last two starts with `failure`.
    bool WaitForBytes(const QString& failure);

    QTcpSocket* m_socket;
    QFile* m_file;
    QString m_errorText;

private:
    mutable QMutex m_exitMutex;
    bool m_exit = false;
};
