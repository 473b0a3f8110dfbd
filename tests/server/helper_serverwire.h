#pragma once
// Test side of the central-server protocol: a fake server that the client
// connects to (to check exact bytes both ways), a raw client for the stand-in
// server (to play other users), and the stand-in server process itself.
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <optional>

// Frame bodies are written with the stand-in server's writer, independently
// of the client's streams.
#include "standin/WireWriter.h"

struct WireFrame {
    quint32 code = 0;
    QByteArray body;
};

// Whole frames from a stream of bytes.
class FrameBuffer {
public:
    void Append(const QByteArray& bytes) { m_bytes.append(bytes); }
    std::optional<WireFrame> Take();

private:
    QByteArray m_bytes;
};

QByteArray EncodeFrame(quint32 code, const QByteArray& body);

// A server on 127.0.0.1 that the client under test connects to.
class FakeCentralServer {
public:
    FakeCentralServer();
    quint16 Port() const { return m_server.serverPort(); }
    QString Address() const;
    // Waits for the next client connection; the previous one is dropped.
    bool WaitClient(int ms = 3000);
    bool HasClient() const { return m_client && m_client->state() == QAbstractSocket::ConnectedState; }
    // The next frame from the client, or nothing within the time.
    std::optional<WireFrame> Next(int ms = 3000);
    // Frames until none arrives for quietMs.
    QList<WireFrame> Drain(int quietMs = 200);
    // True when no frame arrives within the time.
    bool Quiet(int ms = 200) { return !Next(ms).has_value(); }
    void Send(quint32 code, const QByteArray& body = {});
    void Send(quint32 code, const WireWriter& body) { Send(code, body.data()); }
    void SendRaw(const QByteArray& bytes);
    // Answers the login frame (waited for) with success.
    bool AcceptLogin();
    void DropClient();

private:
    QTcpServer m_server;
    QTcpSocket* m_client = nullptr;
    FrameBuffer m_buffer;
};

// The stand-in server process, killed when this goes.
class StandinServerProcess {
public:
    ~StandinServerProcess();
    bool Start(const QStringList& args = {}, quint16 port = 0);
    void Kill();
    quint16 Port() const { return m_port; }
    QString Address() const;

private:
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
};

// A raw connection to the stand-in server, playing another user.
class RawUser {
public:
    bool Login(quint16 port, const QByteArray& user, const QByteArray& password = "pw");
    void Send(quint32 code, const WireWriter& body = {});
    std::optional<QByteArray> WaitFor(quint32 code, int ms = 3000);
    void Close() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
    FrameBuffer m_buffer;
    QList<WireFrame> m_frames;
};
