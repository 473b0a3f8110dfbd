// The frame of the floods benchmark: the real main window, offscreen, logged
// in to the stand-in server, and a list of rows run one after another. A row
// feeds its input from outside (server messages as if they came from the
// socket, peer messages as the peer network hands them on) and says when the
// window has shown it; the longest time the event loop stood still from the
// feed until then is printed as floods.<name>_longest_stall.
#pragma once
#include "../ChatBench.h"
#include "gui/GuiTest.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

class FloodRun {
public:
    struct Row {
        QString name;
        // Feeds the input; it may start timers of its own for later parts.
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
        return true;
    }
    gui::Session& Session() { return m_session; }
    MainWindow* Window() { return m_session.Window(); }

    // False when the row does not run.
    bool Add(const QString& name, std::function<void()> feed, std::function<bool()> done, int timeoutMs = 120000,
        std::function<void()> prepare = {})
    {
        if (Wants(name))
            m_rows.push_back({ name, std::move(feed), std::move(done), timeoutMs, {}, "ms", std::move(prepare), {} });
        return Wants(name);
    }
    // Gives the row just added the printing of its other figures.
    void After(std::function<void()> after) { m_rows.back().after = std::move(after); }

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
        std::printf("floods.%s: %.0f %s\n", qPrintable(name), value, unit);
        std::fflush(stdout);
    }

    // Runs the rows in the order added; 0 when every row was shown in time.
    int Exec()
    {
        int failed = 0;
        for (Row& row : m_rows) {
            if (row.prepare)
                row.prepare();
            // Settle what the row before left behind.
            QTest::qWait(300);
            if (row.figure) {
                Print(row.name, row.figure(), row.unit);
                continue;
            }
            StallMeter stalls;
            stalls.Start();
            QTimer::singleShot(0, row.feed);
            const bool shown = gui::WaitFor(row.done, row.timeoutMs);
            // What comes right after the row (repaints, queued slices) counts too.
            QTest::qWait(300);
            stalls.Stop();
            if (!shown) {
                std::fprintf(stderr, "bench_floods: %s was not shown within %d ms\n", qPrintable(row.name),
                    row.timeoutMs);
                ++failed;
                continue;
            }
            Print(row.name + QStringLiteral("_longest_stall"), double(stalls.Longest()), "ms");
            if (row.after)
                row.after();
        }
        return failed ? 1 : 0;
    }

private:
    QTemporaryDir m_runtime;
    gui::Session m_session;
    QStringList m_only;
    std::vector<Row> m_rows;
};

} // namespace
