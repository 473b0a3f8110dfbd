// Rows of the floods benchmark at the door of the peer network, over real
// loopback sockets: a crowd of peers connecting to the window's port, and
// the server asking the window to connect to peers (code 18) many thousand
// times, toward a port that never answers. Each row also gives the memory it
// took: the peak during the row and what is left once the peers are gone,
// both above the resident size at its start.
#pragma once
#include "../ProcessMemory.h"
#include "FloodRun.h"
#include "helper_peers.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include <QFile>
#include <QtEndian>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The largest resident size seen since Start, looked at every 20 ms (the
// kernel's own peak can't be restarted exactly).
class PeakMemory {
public:
    PeakMemory()
    {
        QObject::connect(
            &m_timer, &QTimer::timeout, [this] { m_peak = std::max(m_peak, StatusMiB("VmRSS:")); });
    }
    void Start()
    {
        m_start = m_peak = StatusMiB("VmRSS:");
        m_timer.start(20);
    }
    // The peak and the present size above the start, in MiB.
    double Peak()
    {
        m_timer.stop();
        return m_peak - m_start;
    }
    double Now() const { return StatusMiB("VmRSS:") - m_start; }

private:
    QTimer m_timer;
    double m_start = 0;
    double m_peak = 0;
};

sockaddr_in Loopback(quint16 port)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

bool SendAll(int fd, const QByteArray& bytes)
{
    return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

// Waits for n bytes on a blocking socket (a receive time-out set).
bool ReceiveAll(int fd, char* into, size_t n)
{
    for (size_t got = 0; got < n;) {
        const ssize_t r = ::recv(fd, into + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

// Peers on a thread of their own, with plain sockets: `count` connect to the
// port, the first `introduced` of them send a messaging init and then say
// nothing more, the rest say nothing at all. Then one more peer asks for the
// user's information and waits for the answer.
class Crowd {
public:
    ~Crowd() { Leave(); }
    void Arrive(quint16 port, int count, int introduced)
    {
        m_thread = std::thread([this, port, count, introduced] { Run(port, count, introduced); });
    }
    bool Answered() const { return m_answered; }
    // Every peer closes its socket.
    void Leave()
    {
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_fds)
            ::close(fd);
        m_fds.clear();
    }

private:
    void Run(quint16 port, int count, int introduced)
    {
        const sockaddr_in to = Loopback(port);
        std::vector<pollfd> connecting;
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (fd < 0)
                break;
            m_fds.push_back(fd);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            if (i < introduced)
                connecting.push_back({ fd, POLLOUT, 0 });
        }
        // The introduced ones speak as soon as they are in (SYNs that found
        // the queue full are sent again by the kernel).
        for (int round = 0; !connecting.empty() && round < 600; ++round) {
            ::poll(connecting.data(), connecting.size(), 100);
            std::erase_if(connecting, [](const pollfd& p) {
                if (!(p.revents & (POLLOUT | POLLERR | POLLHUP)))
                    return false;
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (!error)
                    SendAll(p.fd,
                        Framed(PeerInitBody(QStringLiteral("crowd%1").arg(p.fd), QStringLiteral("P"), 0)));
                return true;
            });
        }
        Probe(to);
    }

    void Probe(const sockaddr_in& to)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval wait { 120, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0
            && SendAll(fd,
                Framed(PeerInitBody(QStringLiteral("probe"), QStringLiteral("P"), 0))
                    + Framed(U32(PM_USER_INFO_REQUEST)))) {
            char head[8];
            while (ReceiveAll(fd, head, 8)) {
                const quint32 length = qFromLittleEndian<quint32>(head);
                QByteArray rest(qsizetype(length) - 4, Qt::Uninitialized);
                if (length < 4 || !ReceiveAll(fd, rest.data(), size_t(rest.size())))
                    break;
                if (qFromLittleEndian<quint32>(head + 4) == PM_USER_INFO_REPLY) {
                    m_answered = true;
                    break;
                }
            }
        }
        if (fd >= 0)
            m_fds.push_back(fd);
    }

    std::thread m_thread;
    std::vector<int> m_fds;
    std::atomic<bool> m_answered { false };
};

// The server's code 18 from the user, to connect to the port on loopback.
QByteArray ConnectRequestFrame(const QString& user, quint16 port, quint32 token)
{
    MemStream m;
    m.WriteString(user);
    m.WriteString(QStringLiteral("P"));
    m.WriteUInt32(0x7f000001);
    m.WriteUInt32(port);
    m.WriteUInt32(token);
    m.WriteBool(false);
    m.WriteUInt32(0);
    m.WriteUInt32(0);
    return ServerFrame(SM_CONNECT_TO_PEER, m);
}

// The memory figures of a row: the peak and what is left once `gone` has
// sent the peers away, in MiB above the start.
void AddMemoryFigures(FloodRun& run, const QString& row, PeakMemory* memory, std::function<void()> gone)
{
    run.AddFigure(
        row + QStringLiteral("_peak_memory"), [memory] { return memory->Peak(); }, "MiB");
    run.AddFigure(
        row + QStringLiteral("_memory_after"),
        [memory, gone] {
            gone();
            QTest::qWait(3000);
            return memory->Now();
        },
        "MiB");
}

} // namespace

inline void AddDoorRows(FloodRun& run)
{
    // 5,000 peers at the door: 4,000 introduce themselves and stay, 1,000
    // never say a word; then one more asks for the user's information.
    static Crowd crowd;
    static PeakMemory memory;
    run.Add(
        QStringLiteral("door_5000"),
        [] {
            memory.Start();
            crowd.Arrive(peerMessenger->ListeningPort(), 5000, 4000);
        },
        [] { return crowd.Answered(); }, 300000);
    AddMemoryFigures(run, QStringLiteral("door_5000"), &memory, [] { crowd.Leave(); });

    // 20,000 requests to connect from 2,000 users, as the server's socket
    // hands them on, toward a port that never answers.
    static std::unique_ptr<DeadPort> dead;
    static int requests = 0;
    static QByteArray frames;
    run.Add(
        QStringLiteral("connect_requests_20000"),
        [] {
            memory.Start();
            gp_server->ProcessIncoming(frames);
        },
        [] { return requests >= 20000; }, 120000,
        [] {
            dead = std::make_unique<DeadPort>();
            QObject::connect(gp_server, &Server::ConnectToPeerRequested, [] { ++requests; });
            for (int i = 0; i < 20000; ++i)
                frames += ConnectRequestFrame(
                    QStringLiteral("asker%1").arg(i % 2000), dead->Port(), quint32(i + 1));
        });
    AddMemoryFigures(run, QStringLiteral("connect_requests_20000"), &memory, [] {
        // The attempts expire on the half-minute timer.
        peerMessenger->ExpireStale(QDateTime::currentSecsSinceEpoch() + kRequestTimeout + 1);
        dead.reset();
        frames.clear();
    });
}
