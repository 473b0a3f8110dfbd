#pragma once
// Work for one worker thread, done in the order handed in, whose outcome is
// taken on the owner's thread: each piece of work runs on the worker and
// returns what to do with its outcome, which runs from the owner's event loop,
// pieces in the order they were handed in. The outcome is freed on the worker
// afterwards (a decoded list of a hundred thousand records goes one allocation
// at a time). The work only turns bytes into records: it never touches the
// store.
//
// While more than the given number of bytes wait for the worker, further
// work is refused: a peer sending message after message can't make the
// waiting ones grow without bound.
//
// Work that throws (memory running out, say) ends there, never the process:
// its refusal is called in its place, from the event loop and in its turn,
// with why.
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
    // Waits until all work handed in is done and takes the outcomes now.
    void Finish();

private:
    void Deliver();

    const qsizetype m_maxWaitingBytes;
    QThreadPool m_pool;
    std::mutex m_mutex;
    std::vector<Outcome> m_done; // done, not yet taken
    qsizetype m_waitingBytes = 0;
};
