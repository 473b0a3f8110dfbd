// Rows of the floods benchmark for what many peers cost together, over real
// loopback sockets from peers on threads of their own:
//   many_peers_flood: 300 peers from four addresses stream queue requests
//     while one more asks for the user's information every 200 ms; shown
//     when it has had 25 answers. Also prints
//     many_peers_flood_answer_median and _answer_longest (ms from its ask to
//     the answer);
//   total_unsent: 384 peers from four addresses (a full table) ask twice
//     each for the user's information, the picture an image of 8 MiB, and
//     read nothing; then a peer from a fifth address asks; shown when it is
//     answered. Also prints total_unsent_answer (ms from its ask);
//   reading_peer_folders: one peer asks 3,000 times for a shared folder of
//     4,000 files, reading every answer as it comes; shown when all have
//     come (never if the peer is cut off).
// Each also prints its peak and after memory (FloodRun.h).
#pragma once
#include "../ScratchFolder.h"
#include "Door.h"
#include "FloodRun.h"
#include "helper_peers.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "store/Settings.h"
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kStreamingPeers = 300;
constexpr int kProbeAnswers = 25;
constexpr int kPictureAskers = 384;
constexpr int kFolderAsks = 3000;
constexpr int kFolderFiles = 4000;

// A socket from the loopback address 127.0.0.<host> to the window's port,
// not blocking; -1 when it can't be made.
int LoopbackSocket(int host, bool deaf)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (deaf) {
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    sockaddr_in from {};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000000u | quint32(host));
    ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    return fd;
}

// Peers on a thread of their own: each connects from one of a few loopback
// addresses, introduces itself as a messaging peer, and sends its run of
// frames `runs` times (0: until it leaves), topping the system's buffer up as
// it is taken; what comes back is read and counted by frame, or, for deaf
// peers, left unread in the smallest buffer the system allows.
class SocketCrowd {
public:
    struct Plan {
        quint16 port = 0;
        int count = 0;
        int addresses = 4; // 127.0.0.2 on
        QString prefix;
        QByteArray run;
        qint64 runs = 0;
        bool deaf = false;
        int everyMs = 0; // a run at most this often (0: as fast as it is taken)
    };
    // A crowd of `count` users named <prefix><n> at the window's port,
    // sending `run` `runs` times.
    static Plan At(const QString& prefix, int count, QByteArray run, qint64 runs)
    {
        Plan plan;
        plan.port = peerMessenger->ListeningPort();
        plan.count = count;
        plan.prefix = prefix;
        plan.run = std::move(run);
        plan.runs = runs;
        return plan;
    }
    ~SocketCrowd() { Leave(); }
    void Arrive(const Plan& plan)
    {
        m_stop = false;
        m_thread = std::thread([this, plan] { Run(plan); });
    }
    void Leave()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Every peer closes its connection soon, without waiting for it.
    void Close() { m_stop = true; }
    qint64 FramesIn() const { return m_framesIn; }
    // Every peer has connected and sent all it had to send.
    bool AllSent() const { return m_allSent; }

private:
    struct Peer {
        int fd = -1;
        bool up = false;
        QByteArray out;
        qsizetype sent = 0;
        qint64 runsLeft = 0;
        char head[4];
        int headBytes = 0;
        qint64 skip = 0; // of the frame being read
        qint64 nextRun = 0; // ms of the crowd's clock
    };

    void Run(const Plan& plan)
    {
        std::vector<Peer> peers(size_t(plan.count));
        const sockaddr_in to = Loopback(plan.port);
        for (int i = 0; i < plan.count; ++i) {
            Peer& p = peers[size_t(i)];
            p.fd = LoopbackSocket(2 + i % plan.addresses, plan.deaf);
            ::connect(p.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            p.out
                = Framed(PeerInitBody(QStringLiteral("%1%2").arg(plan.prefix).arg(i), QStringLiteral("P"), 0))
                + plan.run;
            p.runsLeft = plan.runs == 0 ? -1 : plan.runs - 1;
            p.nextRun = plan.everyMs;
        }
        std::vector<pollfd> polled(peers.size());
        char buffer[64 * 1024];
        QElapsedTimer clock;
        clock.start();
        const auto due = [&](const Peer& p) { return p.runsLeft != 0 && clock.elapsed() >= p.nextRun; };
        while (!m_stop) {
            bool sending = false;
            for (size_t i = 0; i < peers.size(); ++i) {
                const Peer& p = peers[i];
                const bool more = p.sent < p.out.size() || due(p);
                sending |= p.sent < p.out.size() || p.runsLeft != 0;
                polled[i] = { p.fd, short((more || !p.up ? POLLOUT : 0) | (plan.deaf ? 0 : POLLIN)), 0 };
            }
            m_allSent = !sending;
            ::poll(polled.data(), polled.size(), 20);
            for (size_t i = 0; i < peers.size(); ++i) {
                Peer& p = peers[i];
                const short events = polled[i].revents;
                if (events & POLLOUT) {
                    p.up = true;
                    if (p.sent == p.out.size() && due(p)) {
                        p.out = plan.run;
                        p.sent = 0;
                        p.nextRun = clock.elapsed() + plan.everyMs;
                        if (p.runsLeft > 0)
                            --p.runsLeft;
                    }
                    const ssize_t n = ::send(
                        p.fd, p.out.constData() + p.sent, size_t(p.out.size() - p.sent), MSG_NOSIGNAL);
                    if (n > 0)
                        p.sent += n;
                }
                if (events & POLLIN)
                    Count(p, buffer, sizeof buffer);
                if (events & (POLLHUP | POLLERR)) {
                    p.runsLeft = 0;
                    p.sent = p.out.size();
                }
            }
        }
        for (Peer& p : peers)
            ::close(p.fd);
    }

    // Reads what came and counts its frames, keeping none of them.
    void Count(Peer& p, char* buffer, size_t size)
    {
        const ssize_t n = ::recv(p.fd, buffer, size, 0);
        for (ssize_t at = 0; at < n;) {
            if (p.skip > 0) {
                const qint64 step = std::min<qint64>(p.skip, n - at);
                p.skip -= step;
                at += step;
                if (p.skip == 0)
                    ++m_framesIn;
                continue;
            }
            p.head[p.headBytes++] = buffer[at++];
            if (p.headBytes == 4) {
                p.headBytes = 0;
                p.skip = qFromLittleEndian<quint32>(p.head);
                if (p.skip == 0)
                    ++m_framesIn;
            }
        }
    }

    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<qint64> m_framesIn { 0 };
    std::atomic<bool> m_allSent { false };
};

// A peer on a thread of its own, from 127.0.0.<host>, that asks for the
// user's information every `everyMs` (at once when 0) until it has had
// `answers` answers, and times each from its ask to the answer.
class Asker {
public:
    ~Asker() { Leave(); }
    void Ask(quint16 port, int host, int answers, int everyMs)
    {
        m_thread = std::thread([=, this] { Run(port, host, answers, everyMs); });
    }
    void Leave()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int Answers() const { return m_answers; }
    // The times taken, in ms, sorted.
    std::vector<double> Times()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<double> times = m_times;
        std::sort(times.begin(), times.end());
        return times;
    }

private:
    void Run(quint16 port, int host, int answers, int everyMs)
    {
        m_fd = LoopbackSocket(host, false);
        const int flags = ::fcntl(m_fd, F_GETFL);
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
        timeval wait { 120, 0 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const sockaddr_in to = Loopback(port);
        if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0
            || !SendAll(
                m_fd, Framed(PeerInitBody(QStringLiteral("asker%1").arg(host), QStringLiteral("P"), 0))))
            return;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < answers; ++i) {
            const qint64 due = qint64(i) * everyMs;
            if (clock.elapsed() < due)
                std::this_thread::sleep_for(std::chrono::milliseconds(due - clock.elapsed()));
            QElapsedTimer asked;
            asked.start();
            if (!SendAll(m_fd, Framed(U32(PM_USER_INFO_REQUEST))) || !AwaitAnswer())
                return;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_times.push_back(double(asked.nsecsElapsed()) / 1e6);
            }
            ++m_answers;
        }
    }

    bool AwaitAnswer()
    {
        char head[8];
        while (ReceiveAll(m_fd, head, 8)) {
            const quint32 length = qFromLittleEndian<quint32>(head);
            if (length < 4)
                return false;
            QByteArray rest(qsizetype(length) - 4, Qt::Uninitialized);
            if (!rest.isEmpty() && !ReceiveAll(m_fd, rest.data(), size_t(rest.size())))
                return false;
            if (qFromLittleEndian<quint32>(head + 4) == PM_USER_INFO_REPLY)
                return true;
        }
        return false;
    }

    std::thread m_thread;
    int m_fd = -1;
    std::atomic<int> m_answers { 0 };
    std::mutex m_mutex;
    std::vector<double> m_times;
};

// A public shared folder of `files` files whose names compress little, in a
// scratch folder of that name; its path once walked.
QString ShareFolderOfFiles(const char* scratch, int files)
{
    ScratchFolder* folder = new ScratchFolder(scratch); // as long as the program runs
    const QString path = folder->path() + QStringLiteral("/big folder");
    QDir().mkpath(path);
    for (int i = 0; i < files; ++i) {
        QFile file(path + QStringLiteral("/%1.flac").arg(QRandomGenerator::global()->generate64(), 16, 16));
        file.open(QIODevice::WriteOnly);
    }
    sharedFoldersManager->AddSharedFolder(path) += d.GetType("shared_public")->NewItem();
    gui::WaitFor([] { return !sharedFoldersManager->IsScanning(); }, 120000);
    return path;
}

// `count` asks for the folder's contents, numbered from 0.
QByteArray FolderAsks(const QString& folder, int count)
{
    QByteArray asks;
    for (int i = 0; i < count; ++i) {
        MemStream ask = EncodeCodeOnly(PM_GET_SHARED_FILES_IN_FOLDER);
        ask.WriteUInt32(quint32(i));
        ask.WriteString(folder);
        asks += Framed(ask.GetBuffer());
    }
    return asks;
}

// A row in which a crowd comes (as the plan made before the row's clock
// says) and, a second later, one more peer from 127.0.0.<host> asks for the
// user's information every 200 ms; shown when it has had kProbeAnswers
// answers. Also prints <row>_answer_median and _answer_longest.
inline void AddProbedCrowdRow(FloodRun& run, const QString& row, std::function<SocketCrowd::Plan()> plan,
    int host, std::function<void()> prepare = {})
{
    auto crowd = std::make_shared<SocketCrowd>();
    auto asker = std::make_shared<Asker>();
    auto planned = std::make_shared<SocketCrowd::Plan>();
    const bool runs = run.Add(
        row,
        [=] {
            crowd->Arrive(*planned);
            QTimer::singleShot(
                1000, [=] { asker->Ask(peerMessenger->ListeningPort(), host, kProbeAnswers, 200); });
        },
        [=] { return asker->Answers() >= kProbeAnswers; }, 120000,
        [=] {
            if (prepare)
                prepare();
            *planned = plan();
        });
    run.Memory(row);
    if (runs)
        run.After([=] {
            const std::vector<double> times = asker->Times();
            FloodRun::Print(row + QStringLiteral("_answer_median"), times[times.size() / 2], "ms");
            FloodRun::Print(row + QStringLiteral("_answer_longest"), times.back(), "ms");
            asker->Leave();
            crowd->Leave();
        });
}

inline void AddManyPeersFloodRow(FloodRun& run)
{
    AddProbedCrowdRow(
        run, QStringLiteral("many_peers_flood"),
        [] {
            const QByteArray ask
                = Framed(EncodePathMessage(PM_QUEUE_UPLOAD, QStringLiteral("no\\such.mp3")).GetBuffer());
            return SocketCrowd::At(QStringLiteral("streamer"), kStreamingPeers, ask.repeated(256), 0);
        },
        10);
}

// An image file of a little under 8 MiB: a bitmap whose header says what it
// holds.
bool WriteBigPicture(const QString& path)
{
    const qint32 width = 1024, height = 2047;
    const quint32 pixels = quint32(width * height * 4);
    MemStream bmp;
    bmp.WriteBuffer("BM", 2);
    bmp.WriteUInt32(54 + pixels);
    bmp.WriteUInt32(0);
    bmp.WriteUInt32(54);
    bmp.WriteUInt32(40);
    bmp.WriteInt32(width);
    bmp.WriteInt32(height);
    bmp.WriteUInt16(1);
    bmp.WriteUInt16(32);
    bmp.WriteUInt32(0);
    bmp.WriteUInt32(pixels);
    bmp.WriteUInt32(2835);
    bmp.WriteUInt32(2835);
    bmp.WriteUInt32(0);
    bmp.WriteUInt32(0);
    QByteArray bytes = bmp.GetBuffer();
    bytes.append(QByteArray(qsizetype(pixels), '\x40'));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline void AddTotalUnsentRow(FloodRun& run)
{
    const QString row = QStringLiteral("total_unsent");
    auto crowd = std::make_shared<SocketCrowd>();
    auto asker = std::make_shared<Asker>();
    auto plan = std::make_shared<SocketCrowd::Plan>();
    const bool runs = run.Add(
        row,
        [=] {
            crowd->Arrive(*plan);
            auto* later = new QTimer;
            QObject::connect(later, &QTimer::timeout, [=] {
                if (!crowd->AllSent())
                    return;
                later->deleteLater();
                asker->Ask(peerMessenger->ListeningPort(), 20, 1, 0);
            });
            later->start(20);
        },
        [=] { return asker->Answers() == 1; }, 120000,
        [=] {
            *plan = SocketCrowd::At(
                QStringLiteral("gazer"), kPictureAskers, Framed(U32(PM_USER_INFO_REQUEST)).repeated(2), 1);
            plan->deaf = true;
            static ScratchFolder folder("unsent");
            const QString picture = folder.path() + QStringLiteral("/me.bmp");
            if (!WriteBigPicture(picture))
                std::fprintf(stderr, "bench_floods: the picture could not be written\n");
            settings.Set("user_picture_file", Value(picture));
        });
    run.Memory(row);
    if (runs)
        run.After([=] {
            FloodRun::Print(row + QStringLiteral("_answer"), asker->Times().front(), "ms");
            asker->Leave();
            crowd->Leave();
            settings.Set("user_picture_file", "");
        });
}

inline void AddReadingPeerRow(FloodRun& run)
{
    const QString row = QStringLiteral("reading_peer_folders");
    auto crowd = std::make_shared<SocketCrowd>();
    auto plan = std::make_shared<SocketCrowd::Plan>();
    const bool runs = run.Add(
        row, [=] { crowd->Arrive(*plan); }, [=] { return crowd->FramesIn() >= kFolderAsks; }, 120000,
        [=] {
            const QString shared = ShareFolderOfFiles("folders", kFolderFiles);
            *plan = SocketCrowd::At(QStringLiteral("browser"), 1, FolderAsks(shared, kFolderAsks), 1);
        });
    run.Memory(row);
    if (runs)
        run.After([=] { crowd->Leave(); });
}

inline void AddTotalsRows(FloodRun& run)
{
    AddManyPeersFloodRow(run);
    AddTotalUnsentRow(run);
    AddReadingPeerRow(run);
}

} // namespace
