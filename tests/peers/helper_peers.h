#pragma once
// Test side of the peer network: raw peer sockets that speak the wire format
// by hand, and the stand-in server and headless drivers as child processes.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>
#include <vector>

struct PossibleParent;

// u32 length + body.
QByteArray Framed(const QByteArray& body);
QByteArray PeerInitBody(const QString& user, const QString& type, quint32 token);
QByteArray PierceBody(quint32 token);
QByteArray U32(quint32 v);

// A peer socket driven by the test.
class RawPeer {
public:
    explicit RawPeer(bool obfuscated = false)
        : m_obfuscated(obfuscated)
    {
    }
    bool Connect(quint16 port);
    // Takes an accepted socket's descriptor.
    bool Adopt(qintptr descriptor) { return m_socket.setSocketDescriptor(descriptor); }
    void SendRaw(const QByteArray& bytes);
    // Frames the body (and obfuscates it on an obfuscated connection).
    void SendFrame(const QByteArray& body);
    // The next frame's body, waiting up to ms; false on timeout or close.
    bool ReadFrame(QByteArray& body, int ms = 5000);
    // Raw bytes, exactly n.
    bool ReadRaw(QByteArray& bytes, qint64 n, int ms = 5000);
    bool WaitClosed(int ms = 5000);
    QTcpSocket& Socket() { return m_socket; }

private:
    bool m_obfuscated;
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// A loopback port that never answers: nobody accepts, and its one place in
// the queue is taken, so the kernel drops every further SYN and a connect
// to it hangs.
class DeadPort {
public:
    DeadPort();
    ~DeadPort();
    quint16 Port() const { return m_port; }

private:
    int m_listener = -1;
    int m_fillers[2] = { -1, -1 };
    quint16 m_port = 0;
};

// marrowby-server --port 0 with extra arguments.
class StandinServer {
public:
    ~StandinServer();
    bool Start(const QStringList& args = {});
    quint16 Port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// marrowby-driver in a HOME of its own, logged in as a user.
class DriverProcess {
public:
    ~DriverProcess();
    // Starts and waits for "listening" and "connected" (when a server port is
    // given).
    bool Start(const QString& user, quint16 serverPort, const QStringList& args = {});
    // A program that runs the driver (such as prlimit and its arguments).
    void RunUnder(const QStringList& wrapper) { m_wrapper = wrapper; }
    void Send(const QString& command);
    // The first line not seen before that starts with prefix; empty on timeout.
    QString WaitFor(const QString& prefix, int ms = 10000);
    // Sends "echo <n>" and waits for it: every earlier command has run and its
    // immediate output is in.
    bool Sync(int ms = 10000);
    // Every line printed so far.
    QStringList Lines();
    bool HasLine(const QString& prefix);
    quint16 Port() const { return m_port; }
    quint16 ObfuscatedPort() const { return m_obfuscatedPort; }
    qint64 Pid() const { return m_process.processId(); }
    void Stop();

private:
    void ReadLines();
    QProcess m_process;
    QStringList m_wrapper;
    QTemporaryDir m_home;
    QStringList m_lines;
    int m_seen = 0; // lines already matched by WaitFor
    QList<bool> m_used;
    QByteArray m_partial;
    quint16 m_port = 0;
    quint16 m_obfuscatedPort = 0;
    int m_echo = 0;
};

QString BinPath(const QString& name);
// Logs a raw client in to the stand-in server with a listening port.
bool LoginRaw(QTcpSocket& socket, quint16 serverPort, const QString& user, quint16 listenPort);

// Hands accepted sockets over as descriptors, for RawPeer::Adopt.
class DescriptorServer : public QTcpServer {
public:
    std::vector<qintptr> accepted;

protected:
    void incomingConnection(qintptr descriptor) override { accepted.push_back(descriptor); }
};

// A raw peer standing for a possible parent that the client connects to.
std::unique_ptr<RawPeer> AcceptCandidate(DescriptorServer& server);
// A possible parent on this machine, as the server names it.
PossibleParent Candidate(const QString& user, quint16 port);

// Whether a line of the log area holds the text.
bool Logged(const QString& area, const QString& part);

// The most memory a process (this one when pid is 0) has held resident since
// it started or since ResetPeakResident, in KiB; -1 when unknown (Linux only).
qint64 PeakResidentKiB(qint64 pid = 0);
void ResetPeakResident(qint64 pid = 0);
// What it holds resident now, in KiB; -1 when unknown.
qint64 ResidentKiB(qint64 pid = 0);
