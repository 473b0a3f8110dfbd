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
// results wait to be stored. So is what a search keeps: at most
// kMaxResultsPerSearch results, those stored and those on their way (a reply
// with none counts as one). The head of each reply (its ticket and number of
// results) is read as it arrives, inflating its first bytes only, so that a
// reply to a search that is gone, stopped or full costs no decoding. Results
// past either bound are left out and announced with Dropped, summed per
// search and user over a quarter of a second, so that the search's tab can
// say so.
#include "store/OrderedWorker.h"
#include "PeerMessages.h"
#include "store/ItemPtr.h"
#include "store/TurnTaker.h"
#include <QObject>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>

class SearchReplyQueue : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxWaitingBytes = 64 * 1024 * 1024;
    static constexpr size_t kMaxWaitingResults = 1 << 19;
    static constexpr size_t kMaxResultsPerSearch = 25000;
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
    // How many results a search keeps (kMaxResultsPerSearch unless set).
    void SetMaxResultsPerSearch(size_t results) { m_maxPerSearch = results; }

signals:
    void Stored(ItemPtr results);
    // searchFull: left out because the search has all it keeps (else because
    // too many were waiting to be stored).
    void Dropped(quint32 ticket, QString user, qint64 results, bool searchFull);

private:
    struct Reply {
        QString user;
        SearchReply reply;
        size_t next = 0; // the first result not yet stored
        size_t unread = 0; // results past the search's room, not kept at all
    };
    // What a live search holds: results kept (stored or waiting to be) and
    // claimed by replies being decoded. serial: of its search_request item.
    struct Search {
        quint64 serial = 0;
        size_t kept = 0;
        size_t claimed = 0;
    };
    // The search of the ticket, when it is live (neither gone nor stopped).
    Search* Live(quint32 ticket);
    size_t Room(const Search& search) const;
    void Unclaim(quint32 ticket, quint64 serial, size_t results);
    void LeaveOut(quint32 ticket, const QString& user, qint64 results, bool searchFull);
    void ReportLeftOut();
    void Enqueue(std::shared_ptr<Reply> reply);
    void Slice();
    // Stores the next part of the first reply waiting.
    void StorePart();

    OrderedWorker m_worker;
    std::deque<std::shared_ptr<Reply>> m_waiting;
    size_t m_waitingResults = 0;
    size_t m_maxWaitingResults = kMaxWaitingResults;
    size_t m_maxPerSearch = kMaxResultsPerSearch;
    std::unordered_map<quint32, Search> m_searches; // by ticket
    size_t m_sweepAt = 16; // searches gone are forgotten past this many
    std::map<std::tuple<quint32, QString, bool>, qint64> m_leftOut; // not reported yet
    QTimer m_report;
    TurnTaker m_turns { [this] { Slice(); } };
};
