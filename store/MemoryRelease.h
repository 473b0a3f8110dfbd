#pragma once
// Memory given back to the system after a big removal. The C library keeps
// what is freed for its next allocations, and the pages of a heap where a few
// blocks still live among many freed ones stay with the process: removing a
// queue of 100,000 downloads would leave hundreds of megabytes resident. Once
// a burst of removals from the store has ended (the rows, results and items
// that went with them are freed by then), the free pages are given back
// (malloc_trim), on a thread of its own.
//
// The release walks the whole heap holding the allocator's lock, which the
// GUI thread needs for its next allocation: on a heap of a gigabyte that is
// tens of milliseconds. So it waits for a moment when the thread is idle
// (little time running); under a constant load the freed memory is reused
// instead.
#include "Data.h"
#include <QObject>
#include <QTimer>
#include <functional>

class MemoryRelease : public QObject, public DataHandler {
public:
    // Removals that make a burst worth a release, and how long after the last
    // of them it comes.
    static constexpr size_t kBurst = 10000;
    static constexpr int kQuietMs = 2000;
    // The thread counts as idle when, over a look of kIdleLookMs, it ran for
    // at most kIdleBusyMs.
    static constexpr int kIdleLookMs = 250;
    static constexpr int kIdleBusyMs = 25;

    // `release` gives the memory back; by default malloc_trim on a pool thread.
    explicit MemoryRelease(Data* data, QObject* parent = nullptr, std::function<void()> release = {});

private:
    void OnRemoved(ItemPtr item);
    void OnQuiet();
    void OnLook();

    std::function<void()> m_release;
    QTimer m_quiet;
    QTimer m_look;
    size_t m_removed = 0; // since the last release
    size_t m_seen = 0; // when the timer last started
    qint64 m_ranNs = 0; // the thread's time running at the last look
};
