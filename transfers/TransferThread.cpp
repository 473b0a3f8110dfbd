#include "TransferThread.h"
#include <QElapsedTimer>
#include <QTcpSocket>
#include <climits>

TransferThread::TransferThread(QTcpSocket* socket, QFile* file)
    : m_socket(socket)
    , m_file(file)
{
}

void TransferThread::SignalExit()
{
    QMutexLocker lock(&m_exitMutex);
    m_exit = true;
}

bool TransferThread::AskedToExit() const
{
    QMutexLocker lock(&m_exitMutex);
    return m_exit;
}

void TransferThread::HandSocketBack()
{
    if (m_socket->thread() == QThread::currentThread())
        m_socket->moveToThread(thread());
}

int TransferThread::BytesPerSecond(qint64 bytes, qint64 ms)
{
    if (ms <= 0)
        return 0;
    return int(qMin<qint64>(INT_MAX, bytes * 1000 / ms));
}

bool TransferThread::WaitForBytes(const QString& failure)
{
    QElapsedTimer waited;
    waited.start();
    while (m_socket->bytesAvailable() == 0) {
        if (AskedToExit()) {
            m_errorText = QStringLiteral("Exit requested.");
            return false;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState || waited.elapsed() >= kStallMs) {
            m_errorText = failure + QStringLiteral(" Error string: ") + m_socket->errorString();
            return false;
        }
        m_socket->waitForReadyRead(kSliceMs);
    }
    return true;
}
