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

protected:
    TransferThread(QTcpSocket* socket, QFile* file);
    // Gives the socket back to the thread that created this one (the engine's),
    // so that it can close and delete it.
    void HandSocketBack();

    QTcpSocket* m_socket;
    QFile* m_file;
    QString m_errorText;

private:
    mutable QMutex m_exitMutex;
    bool m_exit = false;
};
