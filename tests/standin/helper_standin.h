#pragma once

// Test side of the stand-in server: starts the real process and talks to it
// over raw loopback sockets with a small codec of its own.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <memory>
#include <optional>

// Builds a message body.
class Body {
public:
    Body& u8(quint8 v);
    Body& u32(quint32 v);
    Body& boolean(bool v) { return u8(v ? 1 : 0); }
    Body& str(const QString& s);
    Body& raw(const QByteArray& b)
    {
        bytes.append(b);
        return *this;
    }
    QByteArray bytes;
};

// Reads the fields of a received body; QVERIFY(f.ok()) after reading.
class Fields {
public:
    explicit Fields(const QByteArray& b)
        : m_bytes(b)
    {
    }
    quint8 u8();
    quint16 u16();
    quint32 u32();
    quint64 u64();
    bool boolean() { return u8() != 0; }
    QString str();
    QStringList strList();
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos == m_bytes.size(); }

private:
    bool need(qsizetype n);
    QByteArray m_bytes;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

struct Frame {
    quint32 code;
    QByteArray body;
};

// The server process, killed when this goes.
class StandinProcess {
public:
    ~StandinProcess();
    // Starts marrowby-server with --port 0 and the extra arguments; false when
    // it did not announce its port in time.
    bool start(const QStringList& args = {});
    quint16 port() const { return m_port; }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// One raw client connection.
class RawClient {
public:
    bool connectTo(quint16 port);
    void send(quint32 code, const QByteArray& body = {});
    void send(quint32 code, const Body& body) { send(code, body.bytes); }
    void sendRaw(const QByteArray& bytes);
    // Takes the first received frame of that code, waiting up to the time-out.
    std::optional<QByteArray> waitFor(quint32 code, int timeoutMs = 3000);
    // True when no frame of that code arrives within the time.
    bool nothing(quint32 code, int ms = 300);
    bool waitClosed(int timeoutMs = 3000);
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Codes of the frames received and not yet taken, in order.
    QList<quint32> pendingCodes();
    void clear();

    // Sends a login and returns the answer body; empty when none came.
    QByteArray login(const QString& user, const QString& password, quint32 version = 157);

private:
    void pump();
    QTcpSocket m_socket;
    QByteArray m_buffer;
    QList<Frame> m_frames;
};

// A client that connected and logged in successfully, or null.
std::unique_ptr<RawClient> loggedIn(quint16 port, const QString& user, const QString& password = "pw");
