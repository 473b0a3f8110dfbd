// Transfer thread figures over loopback: one UploadThread feeding one
// DownloadThread, a plain blocking socket copy of the same file for
// comparison, and how closely a throttled upload keeps to its limit.
// Usage: bench_transfer_threads [MiB] [seconds]
//   MiB: size of the file copied (default 1024, at most 4096); seconds: length of the
//   throttled run at 1,000 KB/s (default 10, at least 2).
#include "ScratchFolder.h"
#include "transfers/DownloadThread.h"
#include "transfers/SpeedLimit.h"
#include "transfers/UploadThread.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
void Print(const char* name, double value, const char* unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

struct Link {
    QTcpServer server;
    std::unique_ptr<QTcpSocket> up;
    std::unique_ptr<QTcpSocket> down;
    Link()
    {
        server.listen(QHostAddress::LocalHost, 0);
        up = std::make_unique<QTcpSocket>();
        up->connectToHost(QHostAddress::LocalHost, server.serverPort());
        up->waitForConnected(5000);
        server.waitForNewConnection(5000);
        down.reset(server.nextPendingConnection());
        down->setParent(nullptr);
    }
};

bool WriteFile(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint64 state = 0x9E3779B97F4A7C15ull;
    for (qint64 done = 0; done < bytes; done += block.size()) {
        for (int i = 0; i < block.size(); i += 8) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            qToLittleEndian<quint64>(state, block.data() + i);
        }
        const qint64 n = qMin<qint64>(block.size(), bytes - done);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    return true;
}

struct Progress {
    QMutex mutex;
    std::vector<std::pair<qint64, qint64>> points; // (ns, offset)
};

// One upload thread to one download thread; returns seconds, or -1.
double ThreadCopy(const QString& source, const QString& target, SpeedLimit* limit, Progress* progress,
    int stopAfterMs, const QElapsedTimer& clock)
{
    QFile::remove(target);
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Append))
        return -1;
    const qint64 size = in.size();
    Link link;
    QElapsedTimer timer;
    timer.start();
    UploadThread up(link.up.get(), &in, 1, limit);
    link.up->moveToThread(&up);
    up.start();
    char number[4];
    qint64 have = 0;
    while (have < 4 && link.down->waitForReadyRead(5000))
        have += link.down->read(number + have, 4 - have);
    char offset[8] = {};
    link.down->write(offset, 8);
    DownloadThread down(link.down.get(), &out, out.fileName(), size, 0);
    if (progress)
        QObject::connect(
            &down, &DownloadThread::DownloadProgress, &down,
            [progress, &clock](qint64 at, int) {
                QMutexLocker lock(&progress->mutex);
                progress->points.emplace_back(clock.nsecsElapsed(), at);
            },
            Qt::DirectConnection);
    link.down->moveToThread(&down);
    down.start();
    if (stopAfterMs > 0 && !down.wait(stopAfterMs)) {
        down.SignalExit();
        up.SignalExit();
    }
    down.wait();
    up.wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (stopAfterMs > 0)
        return seconds;
    return !down.ErrorText().isEmpty() || QFileInfo(target).size() != size ? -1 : seconds;
}

// The same copy with plain blocking reads and writes on the two ends.
double RawCopy(const QString& source, const QString& target)
{
    QFile::remove(target);
    Link link;
    const int sendFd = int(link.up->socketDescriptor());
    const int receiveFd = int(link.down->socketDescriptor());
    for (int fd : { sendFd, receiveFd })
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int in = ::open(source.toLocal8Bit().constData(), O_RDONLY);
    const int out = ::open(target.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const qint64 size = QFileInfo(source).size();
    constexpr size_t kBlock = 512 * 1024;
    QElapsedTimer timer;
    timer.start();
    std::thread sender([&] {
        std::vector<char> buffer(kBlock);
        ssize_t n;
        while ((n = ::read(in, buffer.data(), kBlock)) > 0)
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::write(sendFd, buffer.data() + done, size_t(n - done));
                if (w <= 0)
                    return;
                done += w;
            }
    });
    std::vector<char> buffer(kBlock);
    qint64 received = 0;
    while (received < size) {
        const ssize_t n = ::read(receiveFd, buffer.data(), kBlock);
        if (n <= 0 || ::write(out, buffer.data(), size_t(n)) != n)
            break;
        received += n;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    sender.join();
    ::close(in);
    ::close(out);
    return received == size ? seconds : -1;
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? qBound(qint64(1), qint64(std::atoll(argv[1])), qint64(4096)) : 1024;
    const int limitSeconds = argc > 2 ? qBound(2, std::atoi(argv[2]), 600) : 10;
    ScratchFolder dir("transfer_threads");
    const QString source = dir.filePath("source.bin");
    const QString target = dir.filePath("target.bin");
    if (!WriteFile(source, mib << 20)) {
        std::fprintf(stderr, "cannot write %lld MiB in %s\n", mib, qPrintable(dir.path()));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();

    // Best of two alternating runs each, so that neither one pays alone for a
    // cold cache or a burst of disk writeback.
    double threads = 1e99, raw = 1e99;
    for (int round = 0; round < 2; ++round) {
        const double t = ThreadCopy(source, target, nullptr, nullptr, 0, clock);
        const double r = RawCopy(source, target);
        if (t < 0 || r < 0) {
            std::fprintf(stderr, "copy failed\n");
            return 1;
        }
        threads = std::min(threads, t);
        raw = std::min(raw, r);
    }
    Print("transfer.threads_loopback", double(mib) / threads, "MiB/s");
    Print("transfer.raw_socket", double(mib) / raw, "MiB/s");
    Print("transfer.threads_vs_raw", 100.0 * raw / threads, "%");
    QFile::remove(target);

    // Throttled: 1,000 KB/s for the given time; the rate is taken from the
    // download's progress reports (bytes in the file against the time).
    constexpr int kLimit = 1000;
    SpeedLimit limit;
    limit.SetLimit(kLimit, 1);
    const QString slowSource = dir.filePath("slow.bin");
    WriteFile(slowSource, qint64(kLimit) * 1024 * (limitSeconds + 2));
    Progress progress;
    ThreadCopy(slowSource, target, &limit, &progress, limitSeconds * 1000, clock);
    if (progress.points.size() < 2) {
        std::fprintf(stderr, "throttled run reported no progress\n");
        return 1;
    }
    const auto& first = progress.points.front();
    const auto& last = progress.points.back();
    const double rate = double(last.second - first.second) / ((last.first - first.first) / 1e9);
    std::fprintf(stderr, "(throttled: %.0f bytes/s over %.2f s)\n", rate, (last.first - first.first) / 1e9);
    Print("transfer.limit_error", 100.0 * std::fabs(rate / (kLimit * 1024.0) - 1), "%");
    return 0;
}
