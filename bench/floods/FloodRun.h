// The frame of the floods benchmark: the real main window, offscreen, logged
// in to the stand-in server, and a list of rows run one after another. A row
// feeds its input from outside (server messages as if they came from the
// socket, peer messages from peers on real loopback connections, Peers()) and
// says when the window has shown it; the longest time the event loop stood
// still from the feed until then is printed as floods.<name>_longest_stall.
// The row's peers then leave. A row marked with Memory() also prints
//   floods.<name>_peak_memory: how far the memory in use rose above where it
//     stood before the row (MiB);
//   floods.<name>_memory_after: how far above it stays a second after the
//     peers are gone, once the allocator has handed back what it keeps for
//     reuse. What a row leaves shown (results in a tab, a share list) stays.
// Every row also prints floods.<name>_page_fault: what a first touch of a
// fresh page of memory cost the machine just before the row (ns, the mean
// over 16 MiB). It is the machine's figure, not the window's: on a virtual
// machine whose host takes idle memory back it varies tenfold and more from
// one minute to the next, and every stall of work that allocates with it.
#pragma once
#include "../ChatBench.h"
#include "LoopbackPeers.h"
#include "StallTrace.h"
#include "gui/GuiTest.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <map>
#include <sys/mman.h>
#include <vector>

namespace {

class FloodRun {
public:
    struct Row {
        QString name;
        // Feeds the input, made before (in prepare or when the row is added):
        // what runs here and after it counts as the window's. It may start
        // timers of its own for later parts.
        std::function<void()> feed;
        // True once the window has shown what was fed.
        std::function<bool()> done;
        int timeoutMs;
        // Set for a figure of its own: measured after the rows before it and
        // printed as floods.<name>, in place of the feed and the stall.
        std::function<double()> figure;
        const char* unit = "ms";
        // Runs before the row's clock starts: what the feed needs that is not
        // part of the row.
        std::function<void()> prepare;
        // Prints the row's other figures (memory, counts) after its stall.
        std::function<void()> after;
        // Prints the memory figures of the frame.
        bool memory = false;
    };

    // Only the rows named on the command line run; all of them without names.
    FloodRun(int argc, char** argv)
    {
        for (int i = 1; i < argc; ++i)
            m_only << QString::fromLocal8Bit(argv[i]);
    }

    // The stand-in server and the window, logged in; false when they could not start.
    bool Start()
    {
        // The stand-in server and the drivers lie beside this program; the
        // window's one-instance lock goes in a runtime folder of its own.
        if (qEnvironmentVariableIsEmpty("MARROWBY_BIN"))
            qputenv("MARROWBY_BIN", QCoreApplication::applicationDirPath().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        if (!m_session.Prepare() || !m_session.StartWindow(QStringLiteral("floodee"))) {
            std::fprintf(stderr, "bench_floods: the window did not log in\n");
            return false;
        }
        QObject::connect(peerMessenger, &PeerMessenger::MessageReceived,
            [this](const QString& user, quint32, qint64) { ++m_received[user]; });
        return true;
    }
    gui::Session& Session() { return m_session; }
    MainWindow* Window() { return m_session.Window(); }
    // The peers of the row running; they leave when it has been shown.
    LoopbackPeers& Peers() { return m_peers; }
    // Messages the window has received from the user over peer connections.
    int Received(const QString& user) const
    {
        const auto it = m_received.find(user);
        return it == m_received.end() ? 0 : it->second;
    }

    // False when the row does not run.
    bool Add(const QString& name, std::function<void()> feed, std::function<bool()> done,
        int timeoutMs = 120000, std::function<void()> prepare = {})
    {
        if (Wants(name))
            m_rows.push_back(
                { name, std::move(feed), std::move(done), timeoutMs, {}, "ms", std::move(prepare), {} });
        return Wants(name);
    }
    // Gives the row just added the printing of its other figures.
    void After(std::function<void()> after) { m_rows.back().after = std::move(after); }
    // Has the row of this name, if it runs, print its memory figures.
    void Memory(const QString& name)
    {
        if (Wants(name))
            m_rows.back().memory = true;
    }

    // Whether a row of this name runs (to skip the preparation of one that does not).
    bool Wants(const QString& name) const { return m_only.isEmpty() || m_only.contains(name); }

    // A figure that is not a stall (the time of one action, say), in milliseconds
    // unless another unit is given.
    void AddFigure(const QString& name, std::function<double()> measure, const char* unit = "ms")
    {
        if (Wants(name))
            m_rows.push_back({ name, {}, {}, 0, std::move(measure), unit, {}, {} });
    }

    static void Print(const QString& name, double value, const char* unit)
    {
        std::printf("floods.%s: %ld %s\n", qPrintable(name), std::lround(value), unit);
        std::fflush(stdout);
    }

    // Runs the rows in the order added; 0 when every row was shown in time.
    int Exec()
    {
        int failed = 0;
        for (Row& row : m_rows) {
            if (row.prepare)
                row.prepare();
            const double pageFault = PageFaultNs();
            // Settle what the row before left behind.
            QTest::qWait(300);
            if (row.figure) {
                Print(row.name, row.figure(), row.unit);
                continue;
            }
            const double before = row.memory ? MemoryInUse("VmRSS") : 0;
            ResetPeakMemory();
            StallMeter stalls;
            // Posted to an object named for it, for the trace to tell it.
            QObject feeder;
            feeder.setObjectName(QStringLiteral("feed"));
            TracingApplication::Mark(row.name, "start");
            stalls.Start();
            QTimer::singleShot(0, &feeder, row.feed);
            const bool shown = Turn(row.done, row.timeoutMs);
            // What comes right after the row (repaints, queued slices) counts too.
            Turn([] { return false; }, 300);
            stalls.Stop();
            TracingApplication::Mark(row.name, "end");
            const double peak = MemoryInUse("VmHWM");
            m_peers.Close();
            if (!shown) {
                std::fprintf(stderr, "bench_floods: %s was not shown within %d ms\n", qPrintable(row.name),
                    row.timeoutMs);
                ++failed;
                continue;
            }
            Print(row.name + QStringLiteral("_longest_stall"), double(stalls.Longest()), "ms");
            Print(row.name + QStringLiteral("_page_fault"), pageFault, "ns");
            if (row.after)
                row.after();
            if (row.memory) {
                Turn([] { return false; }, 1000);
                Print(row.name + QStringLiteral("_peak_memory"), std::max(0.0, peak - before), "MiB");
                Print(row.name + QStringLiteral("_memory_after"), MemoryInUse("VmRSS") - before, "MiB");
            }
        }
        return failed ? 1 : 0;
    }

private:
    // Turns the event loop until done() holds or the time is up; true when it
    // holds. (The test library's waits sleep between turns, which the
    // heartbeat would count as the window's.)
    static bool Turn(const std::function<bool()>& done, int timeoutMs)
    {
        QEventLoop loop;
        QTimer look;
        look.setObjectName(QStringLiteral("row shown?"));
        bool held = false;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (done()) {
                held = true;
                look.stop();
                loop.quit();
            }
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        look.start(5);
        loop.exec();
        return held || done();
    }

    // A figure of /proc/self/status in MiB; for the resident size, after the
    // allocator has handed back what it keeps for reuse.
    static double MemoryInUse(const char* field)
    {
        if (qstrcmp(field, "VmRSS") == 0)
            malloc_trim(0);
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray key = QByteArray(field) + ':';
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(key))
                return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
        return 0;
    }
    // The peak figure (VmHWM) starts again from the resident size.
    // The mean time of a first touch of a fresh page, over 16 MiB mapped anew.
    static double PageFaultNs()
    {
        constexpr size_t kBytes = 16u << 20;
        constexpr size_t kPage = 4096;
        void* map = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return 0;
        auto* bytes = static_cast<volatile char*>(map);
        QElapsedTimer clock;
        clock.start();
        for (size_t at = 0; at < kBytes; at += kPage)
            bytes[at] = 1;
        const double ns = double(clock.nsecsElapsed()) / double(kBytes / kPage);
        munmap(map, kBytes);
        return ns;
    }

    static void ResetPeakMemory()
    {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (refs.open(QIODevice::WriteOnly))
            refs.write("5");
    }

    QTemporaryDir m_runtime;
    gui::Session m_session;
    QStringList m_only;
    std::vector<Row> m_rows;
    LoopbackPeers m_peers;
    std::map<QString, int> m_received;
};

} // namespace
