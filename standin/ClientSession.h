#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

class QTcpSocket;
class WireWriter;

// One client connection: splits the incoming bytes into frames, writes framed
// answers, and carries what the server knows about the logged-in user of this
// connection.
class ClientSession : public QObject {
    Q_OBJECT
public:
    // A frame announcing more than this closes the connection.
    static constexpr quint32 MaxFrame = 1024 * 1024;

    // Where the user stands in the distributed search tree, as it told us.
    struct TreeState {
        bool haveNoParent = true;
        bool acceptChildren = false;
        quint32 level = 0;
        QString root;
        quint32 childDepth = 0;
    };

    ClientSession(QTcpSocket* socket, QObject* parent = nullptr);

    void send(quint32 code, const QByteArray& body = {});
    void send(quint32 code, const WireWriter& body);
    // Writes what is pending, then closes; no more frames are read.
    void close();
    bool isClosing() const { return m_closing; }

    // The peer's IPv4 address as a number (first octet most significant).
    quint32 address() const;

    bool loggedIn() const { return !user.isEmpty(); }

    QString user;
    quint32 status = 2;
    quint32 listenPort = 0;
    quint32 obfuscatedPort = 0;
    bool obfuscation = false;
    QSet<QString> watched;
    TreeState tree;

signals:
    void frameReceived(ClientSession* session, quint32 code, const QByteArray& body);
    void closed(ClientSession* session);

private:
    void onReadyRead();
    void onGone();

    QTcpSocket* m_socket;
    QByteArray m_buffer;
    bool m_closing = false;
    bool m_gone = false;
};
