#include "TransferThread.h"
#include <QElapsedTimer>
#include <QTcpSocket>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/socket.h>

namespace {
// Bytes the peer sends where it should send none are read in pieces this
// big and dropped.
constexpr size_t kDropSize = 4096;
}

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

bool TransferThread::ExitRequested()
{
    if (!AskedToExit())
        return false;
    m_errorText = QStringLiteral("Exit requested.");
    return true;
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

void TransferThread::SetSocketError(const QString& what, int error)
{
    QString text;
    if (error == 0 || error == EPIPE || error == ECONNRESET)
        text = QStringLiteral("The remote host closed the connection");
    else if (error == ETIMEDOUT)
        text = QStringLiteral("Socket operation timed out");
    else
        text = qt_error_string(error);
    m_errorText = what + QStringLiteral(" Error string: ") + text;
}

void TransferThread::WaitSlice(short events) const
{
    pollfd entry { m_descriptor, events, 0 };
    ::poll(&entry, 1, kSliceMs);
}

bool TransferThread::TakeOverSocket()
{
    QElapsedTimer stalled;
    stalled.start();
    qint64 pending = m_socket->bytesToWrite();
    while (
        pending > 0 && m_socket->state() == QAbstractSocket::ConnectedState && stalled.elapsed() < kStallMs) {
        if (ExitRequested())
            return false;
        m_socket->waitForBytesWritten(kSliceMs);
        const qint64 now = m_socket->bytesToWrite();
        if (now < pending)
            stalled.restart();
        pending = now;
    }
    // A connection that is already gone leaves no descriptor: the bytes the
    // socket still holds are read, then the next wait fails.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_descriptor = int(m_socket->socketDescriptor());
    return true;
}

qint64 TransferThread::Receive(char* data, qint64 max, const QString& failure)
{
    // What the socket read before the hand-over comes first.
    if (m_socket->bytesAvailable() > 0) {
        const qint64 n = m_socket->read(data, max);
        if (n > 0)
            return n;
    }
    if (m_descriptor < 0) {
        m_errorText = failure + QStringLiteral(" Error string: ") + m_socket->errorString();
        return -1;
    }
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (ExitRequested())
            return -1;
        const ssize_t n = ::recv(m_descriptor, data, size_t(max), 0);
        if (n > 0)
            return n;
        if (n == 0) {
            SetSocketError(failure, 0);
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            SetSocketError(failure, errno);
            return -1;
        }
        if (waited.elapsed() >= kStallMs) {
            SetSocketError(failure, ETIMEDOUT);
            return -1;
        }
        WaitSlice(POLLIN);
    }
}

bool TransferThread::Send(const char* data, qint64 length)
{
    if (m_descriptor < 0) {
        m_errorText = QStringLiteral("Writing to socket failed. Error string: ") + m_socket->errorString();
        return false;
    }
    QElapsedTimer stalled;
    stalled.start();
    while (length > 0) {
        if (ExitRequested())
            return false;
        const ssize_t n = ::send(m_descriptor, data, size_t(length), MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            length -= n;
            stalled.restart();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            SetSocketError(QStringLiteral("Writing to socket failed."), n == 0 ? 0 : errno);
            return false;
        }
        if (stalled.elapsed() >= kStallMs) {
            SetSocketError(QStringLiteral("Waiting for bytes to be written to socket failed."), ETIMEDOUT);
            return false;
        }
        WaitSlice(POLLOUT);
    }
    return true;
}

bool TransferThread::WaitForPeerClose()
{
    if (m_socket->bytesAvailable() > 0)
        m_socket->skip(m_socket->bytesAvailable());
    if (m_descriptor < 0)
        return true;
    char dropped[kDropSize];
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (ExitRequested())
            return false;
        if (waited.elapsed() >= kStallMs) {
            m_errorText.clear();
            return false;
        }
        const ssize_t n = ::recv(m_descriptor, dropped, sizeof dropped, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return true;
        WaitSlice(POLLIN);
    }
}
