#include "ClientSession.h"

#include "WireWriter.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

ClientSession::ClientSession(QTcpSocket* socket, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSession::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSession::onGone);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            onGone();
    });
}

void ClientSession::send(quint32 code, const QByteArray& body)
{
    if (m_gone || m_closing || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    char head[8];
    qToLittleEndian(quint32(body.size() + 4), head);
    qToLittleEndian(code, head + 4);
    m_socket->write(head, 8);
    m_socket->write(body);
}

void ClientSession::send(quint32 code, const WireWriter& body)
{
    send(code, body.data());
}

void ClientSession::close()
{
    if (m_closing || m_gone)
        return;
    m_closing = true;
    m_socket->disconnectFromHost();
}

quint32 ClientSession::address() const
{
    bool ok = false;
    const quint32 v4 = m_socket->peerAddress().toIPv4Address(&ok);
    return ok ? v4 : 0;
}

void ClientSession::onReadyRead()
{
    if (m_closing || m_gone) {
        m_socket->readAll();
        return;
    }
    m_buffer.append(m_socket->readAll());
    while (!m_closing && !m_gone && m_buffer.size() >= 4) {
        const quint32 length = qFromLittleEndian<quint32>(m_buffer.constData());
        if (length > MaxFrame) {
            // Nothing sane announces this much: stop listening to this client.
            m_buffer.clear();
            m_closing = true;
            m_socket->abort();
            onGone();
            return;
        }
        if (quint64(m_buffer.size()) < 4 + quint64(length))
            return;
        const QByteArray frame = m_buffer.mid(4, length);
        m_buffer.remove(0, 4 + length);
        if (length < 4)
            continue; // no room for a code: nothing to act on
        const quint32 code = qFromLittleEndian<quint32>(frame.constData());
        emit frameReceived(this, code, frame.mid(4));
    }
}

void ClientSession::onGone()
{
    if (m_gone)
        return;
    m_gone = true;
    emit closed(this);
}
