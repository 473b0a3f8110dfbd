#pragma once
// One worker thread that does work in the order handed in, its outcomes taken
// on the owner's thread: each piece of work runs on the worker and returns
// what to do with its outcome, which runs from the owner's event loop, pieces
// in the order they were handed in. The outcome is freed on the worker
// afterwards (a decoded list of a hundred thousand records goes one allocation
// at a time). The work never touches the store: it turns bytes into records
// (search replies, share lists, packed replies) or, as the download engine's
// disk worker, does the file steps that the GUI thread must not wait for.
//
// While more than the given number of bytes wait for the worker, further
// work is refused: a peer sending message after message can't make the
// waiting ones grow without bound.
//
// Work that throws (memory running out, say) ends there, never the process:
// its refusal is called in its place, from the event loop and in its turn,
// with why.
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <mutex>
#include <vector>

class OrderedWorker : public QObject {
public:
    using Outcome = std::function<void()>;
    using Refusal = std::function<void(const QString& why)>;

    explicit OrderedWorker(qsizetype maxWaitingBytes, QObject* parent = nullptr);
    // Drops the work not yet begun and waits for the piece being done.
    ~OrderedWorker() override;

    // Runs work (holding that many bytes) on the worker; the outcome it
    // returns, or the refusal when it throws, follows from the event loop.
    // False, and nothing runs, when the work is refused.
    bool Start(qsizetype bytes, std::function<Outcome()> work, Refusal refused);
    // Waits until all work handed in is done, work that the outcomes hand in
    // included, and takes the outcomes now; at most until the deadline. True
    // when nothing is left.
    bool Finish(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

private:
    void Deliver();

    const qsizetype m_maxWaitingBytes;
    QThreadPool m_pool;
    std::mutex m_mutex;
    std::vector<Outcome> m_done; // done, not yet taken
    qsizetype m_waitingBytes = 0;
    qsizetype m_unfinished = 0; // handed in, outcome not taken yet
};
