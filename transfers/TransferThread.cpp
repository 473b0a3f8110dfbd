#include "TransferThread.h"
#include <QTcpSocket>

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
