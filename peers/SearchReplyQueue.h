#pragma once
// Search replies from peers: decoded on a worker (OrderedWorker), then stored
// from the event loop a part at a time, so that a reply of a hundred thousand
// results, or hundreds of replies arriving at once, never hold the window for
// long. Each part is a search_results item of its own (the user, free slot,
// speed and queue of the reply, and at most kPartSize of its results in the
// order they came, fewer when their names are long), announced with Stored as
// soon as it is complete; replies and their parts go in the order they came,
// a few parts per share of the event loop's budget, in turn with the
// connections (TurnTaker.h). A search that is gone or stopped
// takes no more parts.
//
// What waits is bounded: the worker refuses replies while more than
// kMaxWaitingBytes of them wait for it, and at most kMaxWaitingResults decoded
// results wait to be stored. The results of a reply past that bound are
// dropped and announced with Dropped, so that the search's tab can say so.
#include "store/OrderedWorker.h"
#include "PeerMessages.h"
#include "store/ItemPtr.h"
#include "store/TurnTaker.h"
#include <QObject>
#include <deque>
#include <memory>

class SearchReplyQueue : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxWaitingBytes = 64 * 1024 * 1024;
    static constexpr size_t kMaxWaitingResults = 1 << 19;
    static constexpr size_t kPartSize = 200;
    // The names a part holds, in bytes: a part takes results until they
    // reach it.
    static constexpr size_t kPartBytes = 64 * 1024;

    explicit SearchReplyQueue(QObject* parent = nullptr);

    // A search-reply message from the user (the code, then the compressed
    // reply).
    void Take(const QString& user, const QByteArray& message);
    // Decodes and stores every reply taken so far, now.
    void Finish();
    // How many decoded results may wait to be stored (kMaxWaitingResults
    // unless set).
    void SetMaxWaitingResults(size_t results) { m_maxWaitingResults = results; }

signals:
    void Stored(ItemPtr results);
    void Dropped(quint32 ticket, QString user, qint64 results);

private:
    struct Reply {
        QString user;
        SearchReply reply;
        size_t next = 0; // the first result not yet stored
    };
    void Enqueue(std::shared_ptr<Reply> reply);
    void Slice();
    // Stores the next part of the first reply waiting.
    void StorePart();

    OrderedWorker m_worker;
    std::deque<std::shared_ptr<Reply>> m_waiting;
    size_t m_waitingResults = 0;
    size_t m_maxWaitingResults = kMaxWaitingResults;
    TurnTaker m_turns { [this] { Slice(); } };
};
