#pragma once
// Others' searches waiting for their answers. The server and the distributed
// tree pass them on as fast as they come; they are answered a turn's budget
// (SlicedWork::kTurnMs) at a time, in the order they came. When they come
// faster than that for long, the oldest beyond kMaxWaiting are dropped, so
// that no answer goes out long after its search, and the log says how many
// (at most once a second while a burst lasts).
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
    using Answer = std::function<void(const QString& user, quint32 ticket, const QString& query)>;

    explicit SearchAnswerQueue(Answer answer, QObject* parent = nullptr);

    void Add(const QString& user, quint32 ticket, const QString& query);

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
    QTimer m_timer;
    qint64 m_dropped = 0; // not said in the log yet
    QDeadlineTimer m_nextReport;
};
