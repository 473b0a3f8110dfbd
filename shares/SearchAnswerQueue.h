#pragma once
// Others' searches waiting for their answers. The server and the distributed
// tree pass them on as fast as they come; they are answered in the order they
// came, one at a time, each a slice per turn of the event loop
// (SlicedWork::Turn()), so that an answer that lists a whole share never holds
// the window. When they come faster than that for long, the oldest beyond
// kMaxWaiting are dropped, so that no answer goes out long after its search,
// and the log says how many (at most once every kDropReportMs while a burst
// lasts).
//
// Clear() drops every search waiting and the answer under way: at a logout,
// what was asked of the user who logged out is answered by nobody.
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>

class SearchAnswerQueue : public QObject {
    Q_OBJECT
public:
    static constexpr size_t kMaxWaiting = 1000;
    static constexpr int kDropReportMs = 1000;
    // How soon an answer waiting for something outside the turns (a worker
    // thread) is looked at again.
    static constexpr int kWaitMs = 5;

    // Goes on with one search's answer until the turn is over; true once it
    // is done. Returning false with time left in the turn means it waits.
    using Work = std::function<bool(const QDeadlineTimer& turn)>;
    // Begins the answer to a search.
    using Answer = std::function<Work(const QString& user, quint32 ticket, const QString& query)>;

    explicit SearchAnswerQueue(Answer answer, QObject* parent = nullptr);

    void Add(const QString& user, quint32 ticket, const QString& query);
    void Clear();

private:
    struct Search {
        QString user;
        quint32 ticket;
        QString query;
    };
    void Slice();
    void ReportDropped();

    Answer m_answer;
    std::deque<Search> m_waiting;
    Work m_current; // the answer under way, if any
    QTimer m_timer;
    qint64 m_dropped = 0; // not said in the log yet
    QDeadlineTimer m_nextReport;
};
