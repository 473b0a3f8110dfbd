// Peers of the floods benchmark: real connections on the loopback interface,
// run on a thread of their own so that what they cost is not counted as the
// window's. Each peer connects to the window's listening port from an address
// of its own (127.0.0.2 on), says who it is (a messaging connection), sends its
// messages at once, and then reads and drops whatever the window sends it,
// until Close().
#pragma once
#include "helper_peers.h"
#include "peers/PeerMessenger.h"
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

namespace {

class LoopbackPeers {
public:
    LoopbackPeers()
    {
        m_worker.moveToThread(&m_thread);
        m_thread.start();
    }
    ~LoopbackPeers()
    {
        Close();
        m_thread.quit();
        m_thread.wait();
    }

    // A peer of the user that sends these messages (each a code and its
    // fields). They are framed on the peers' thread: the copying is no work
    // of the window's.
    void Add(const QString& user, std::vector<QByteArray> messages)
    {
        const quint16 port = peerMessenger->ListeningPort();
        const QHostAddress from(quint32(0x7F000002 + m_peers++));
        QMetaObject::invokeMethod(&m_worker, [this, user, messages = std::move(messages), port, from] {
            QByteArray bytes = Framed(PeerInitBody(user, QStringLiteral("P"), 0));
            for (const QByteArray& message : messages)
                bytes += Framed(message);
            auto* socket = new QTcpSocket(&m_worker);
            m_sockets.push_back(socket);
            auto sent = std::make_shared<bool>(false);
            const auto written = [this, socket, sent] {
                if (!*sent && socket->bytesToWrite() == 0) {
                    *sent = true;
                    ++m_sent;
                }
            };
            QObject::connect(socket, &QTcpSocket::connected, [socket, bytes, written] {
                socket->write(bytes);
                written();
            });
            QObject::connect(socket, &QTcpSocket::bytesWritten, written);
            QObject::connect(socket, &QTcpSocket::readyRead, [socket] { socket->readAll(); });
            socket->bind(from);
            socket->connectToHost(QHostAddress::LocalHost, port);
        });
    }

    // Every peer has written all its messages.
    bool AllSent() const { return m_sent >= m_peers; }

    // Closes every peer's connection; they are gone once this returns.
    void Close()
    {
        QMetaObject::invokeMethod(
            &m_worker, [this] { Drop(); }, Qt::BlockingQueuedConnection);
        m_peers = 0;
    }
    // The same without waiting: the peers added after it come after them.
    void CloseLater()
    {
        QMetaObject::invokeMethod(&m_worker, [this] { Drop(); });
        m_peers = 0;
    }

private:
    // On the thread: every peer's connection closed.
    void Drop()
    {
        for (QTcpSocket* socket : m_sockets) {
            socket->abort();
            delete socket;
        }
        m_sockets.clear();
        m_sent = 0;
    }

    QThread m_thread;
    QObject m_worker;
    std::vector<QTcpSocket*> m_sockets; // used on the thread only
    int m_peers = 0;
    std::atomic<int> m_sent = 0;
};

} // namespace
