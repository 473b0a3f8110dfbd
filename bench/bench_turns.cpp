// link: store
// The round of the event loop's turn budget (store/TurnTaker.h) under a
// crowd, on a real event loop, for three seconds each:
//   turns.busy_shares_alone: shares a second of one taker that always has
//     more to do (1 ms a share), alone;
//   turns.busy_shares_among_rested: the same while 300 takers each do
//     0.2 ms and then rest six passes (more work than a pass holds);
//   turns.fixed_part_among_busy: the part of the loop's time that a taker
//     with a fixed part (the server's connection) spends, always having more
//     to do, among 300 takers that always have more to do too (percent);
//   turns.fixed_part_alone: the same alone (percent).
// Usage: bench_turns
#include "store/TurnTaker.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kCrowd = 300;
constexpr int kRunMs = 3000;

void Spin(qint64 ns)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.nsecsElapsed() < ns) { }
}

// Runs the loop for kRunMs with the takers made by `make` (given the count
// of passes so far), then lets them go.
void RunFor(const std::function<void(const int& beat)>& make)
{
    int beat = 0;
    QTimer heartbeat; // counts the passes
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++beat; });
    heartbeat.start(0);
    make(beat);
    QTimer::singleShot(kRunMs, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

// Shares of a busy taker in a second, with or without the rested crowd.
double BusyShares(bool crowded)
{
    int shares = 0;
    std::vector<std::unique_ptr<TurnTaker>> crowd;
    std::vector<int> rested(kCrowd, -6);
    std::unique_ptr<TurnTaker> busy;
    std::unique_ptr<QTimer> waker;
    RunFor([&](const int& beat) {
        busy = std::make_unique<TurnTaker>([&] {
            ++shares;
            Spin(1000000);
            busy->Wake();
        });
        busy->Wake();
        if (!crowded)
            return;
        for (int i = 0; i < kCrowd; ++i)
            crowd.push_back(std::make_unique<TurnTaker>([&, i] {
                rested[size_t(i)] = beat;
                Spin(200000);
            }));
        waker = std::make_unique<QTimer>();
        QObject::connect(waker.get(), &QTimer::timeout, [&] {
            for (int i = 0; i < kCrowd; ++i)
                if (!crowd[size_t(i)]->Waiting() && beat - rested[size_t(i)] >= 6)
                    crowd[size_t(i)]->Wake();
        });
        waker->start(0);
    });
    return shares * 1000.0 / kRunMs;
}

// The part of the time the fixed one spent, in percent.
double FixedPart(bool crowded)
{
    qint64 spent = 0;
    std::vector<std::unique_ptr<TurnTaker>> crowd;
    std::unique_ptr<TurnTaker> fixed;
    RunFor([&](const int&) {
        fixed = std::make_unique<TurnTaker>(
            [&] {
                QElapsedTimer clock;
                clock.start();
                while (TurnTaker::BudgetLeft()) { }
                spent += clock.nsecsElapsed();
                fixed->Wake();
            },
            TurnTaker::Part::Fixed);
        fixed->Wake();
        if (!crowded)
            return;
        for (int i = 0; i < kCrowd; ++i) {
            crowd.push_back(nullptr);
            crowd.back() = std::make_unique<TurnTaker>([&, i] {
                while (TurnTaker::BudgetLeft()) { }
                crowd[size_t(i)]->Wake();
            });
            crowd.back()->Wake();
        }
    });
    return 100.0 * double(spent) / (kRunMs * 1e6);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("turns.busy_shares_alone: %.0f shares/s\n", BusyShares(false));
    std::printf("turns.busy_shares_among_rested: %.0f shares/s\n", BusyShares(true));
    std::printf("turns.fixed_part_alone: %.0f %%\n", FixedPart(false));
    std::printf("turns.fixed_part_among_busy: %.0f %%\n", FixedPart(true));
    return 0;
}
