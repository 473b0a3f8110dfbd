#pragma once
// Memory given back to the system after a big removal. The C library keeps
// what is freed for its next allocations, and the pages of a heap where a few
// blocks still live among many freed ones stay with the process: removing a
// queue of 100,000 downloads would leave hundreds of megabytes resident. Once
// a burst of removals from the store has ended (the rows, results and items
// that went with them are freed by then), the free pages are given back
// (malloc_trim), on a thread of its own.
#include "Data.h"
#include <QObject>
#include <QTimer>

class MemoryRelease : public QObject, public DataHandler {
public:
    // Removals that make a burst worth a release, and how long after the last
    // of them it comes.
    static constexpr size_t kBurst = 10000;
    static constexpr int kQuietMs = 2000;

    explicit MemoryRelease(Data* data, QObject* parent = nullptr);

private:
    void OnRemoved(ItemPtr item);
    void OnQuiet();

    QTimer m_quiet;
    size_t m_removed = 0; // since the last release
    size_t m_seen = 0; // when the timer last started
};
