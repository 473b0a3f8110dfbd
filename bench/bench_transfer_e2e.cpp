// One file moved between two headless clients on loopback (with the stand-in
// server), against a plain socket copy of the same file (read the file, send
// it over one loopback TCP connection, write it to a new file) measured in the
// same run.
//
// Usage: bench_transfer_e2e [MiB] [rounds]   (defaults 1024 and 2)
// Each figure is the best of its rounds: the two kinds of copy alternate, so
// a busy moment of the machine hurts neither more than the other.
// Prints:
//   transfer.loopback_1g: N MiB/s
//   transfer.raw_socket_1g: N MiB/s
#include "ScratchFolder.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

QString Bin(const QString& name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool WriteFile(const QString& path, qint64 size)
{
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(5);
    random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 n = 0; n * block.size() < size; ++n) {
        reinterpret_cast<quint64*>(block.data())[0] = quint64(n);
        if (file.write(block.constData(), qMin<qint64>(block.size(), size - n * block.size())) < 0)
            return false;
    }
    return true;
}

QByteArray Digest(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result();
}

// File -> one loopback TCP connection -> file; seconds taken.
double RawCopy(const QString& source, const QString& target)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    QElapsedTimer clock;
    clock.start();
    std::thread receiver([&] {
        const int in = ::accept(listener, nullptr, nullptr);
        QFile out(target);
        out.open(QIODevice::WriteOnly);
        std::vector<char> buffer(256 * 1024);
        ssize_t n;
        while ((n = ::recv(in, buffer.data(), buffer.size(), 0)) > 0)
            out.write(buffer.data(), n);
        out.close();
        ::close(in);
    });
    const int outSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(outSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    QFile in(source);
    in.open(QIODevice::ReadOnly);
    std::vector<char> buffer(256 * 1024);
    qint64 n;
    while ((n = in.read(buffer.data(), qint64(buffer.size()))) > 0) {
        for (qint64 sent = 0; sent < n;) {
            const ssize_t k = ::send(outSocket, buffer.data() + sent, size_t(n - sent), 0);
            if (k <= 0)
                break;
            sent += k;
        }
    }
    ::shutdown(outSocket, SHUT_WR);
    receiver.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    ::close(outSocket);
    ::close(listener);
    return seconds;
}

// A headless client whose output lines are searched for prefixes.
struct Client {
    QProcess process;
    Client(const QString& user, const QString& home, const QString& server)
    {
        QDir().mkpath(home);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("MARROWBY_SERVER", server);
        process.setProcessEnvironment(env);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(Bin("marrowby-driver"), { "--user", user, "--port", "0", "--obfuscated-port", "0" });
    }
    ~Client()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    void Send(const QString& line)
    {
        process.write(line.toUtf8() + '\n');
        process.waitForBytesWritten(5000);
    }
    bool WaitFor(const QString& prefix, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            while (process.canReadLine()) {
                if (QString::fromUtf8(process.readLine()).startsWith(prefix))
                    return true;
            }
            process.waitForReadyRead(10);
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const qint64 size = qMax<qint64>(1, mib) * 1024 * 1024;
    const int rounds = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 2;
    ScratchFolder temp("transfer_e2e");
    const QString share = temp.path() + "/share/bench";
    QDir().mkpath(share);
    const QString source = share + "/payload.bin";
    if (!WriteFile(source, size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
        return 1;
    }

    QProcess server;
    server.start(Bin("marrowby-server"), { "--port", "0" });
    if (!server.waitForStarted(10000) || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "marrowby-server did not start\n");
        return 1;
    }
    const QString port = QString::fromUtf8(server.readLine()).trimmed().section(' ', -1);
    const QString address = "127.0.0.1:" + port;
    double clientSeconds = 1e300;
    double rawSeconds = 1e300;
    {
        Client alice("bench-alice", temp.path() + "/alice", address);
        Client bob("bench-bob", temp.path() + "/bob", address);
        if (!alice.WaitFor("connected", 20000) || !bob.WaitFor("connected", 20000)) {
            std::fprintf(stderr, "the clients did not log in\n");
            return 1;
        }
        alice.Send("share-folder " + temp.path() + "/share");
        alice.Send("wait-shares");
        if (!alice.WaitFor("shares-ready", 60000))
            return 1;
        const QString remote = QString(source).replace('/', '\\');
        const QString received = temp.path() + "/bob/Marrowby Downloads/complete/bench/payload.bin";
        for (int round = 0; round < rounds; ++round) {
            rawSeconds = qMin(rawSeconds, RawCopy(source, temp.path() + "/raw.bin"));
            QFile::remove(temp.path() + "/raw.bin");

            QElapsedTimer clock;
            clock.start();
            bob.Send(QStringLiteral("download bench-alice %1 %2").arg(size).arg(remote));
            if (!bob.WaitFor("download-status bench-alice complete", 600000)) {
                std::fprintf(stderr, "the download did not complete\n");
                return 1;
            }
            clientSeconds = qMin(clientSeconds, clock.nsecsElapsed() / 1e9);
            if (Digest(received) != Digest(source)) {
                std::fprintf(stderr, "the received file differs\n");
                return 1;
            }
            // Ready for the next round: no finished file, no download entry.
            QFile::remove(received);
            bob.Send("remove-download bench-alice " + remote);
        }
    }
    server.kill();
    server.waitForFinished(5000);

    const double mibs = double(size) / (1024.0 * 1024.0);
    std::printf("transfer.loopback_1g: %.1f MiB/s\n", mibs / clientSeconds);
    std::printf("transfer.raw_socket_1g: %.1f MiB/s\n", mibs / rawSeconds);
    return 0;
}
