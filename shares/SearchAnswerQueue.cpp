#include "SearchAnswerQueue.h"
#include "store/Log.h"
#include "store/SlicedWork.h"

SearchAnswerQueue::SearchAnswerQueue(Answer answer, QObject* parent)
    : QObject(parent)
    , m_answer(std::move(answer))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &SearchAnswerQueue::Slice);
}

void SearchAnswerQueue::Add(const QString& user, quint32 ticket, const QString& query)
{
    if (m_waiting.size() >= kMaxWaiting) {
        m_waiting.pop_front();
        ++m_dropped;
    }
    m_waiting.push_back({ user, ticket, query });
    if (!m_timer.isActive())
        m_timer.start();
}

void SearchAnswerQueue::Slice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    // An answer may come back here (a search added meanwhile): each is taken
    // out before it is answered.
    while (!m_waiting.empty() && !turn.hasExpired()) {
        const Search search = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_answer(search.user, search.ticket, search.query);
    }
    if (m_dropped && (m_waiting.empty() || m_nextReport.hasExpired()))
        ReportDropped();
    if (!m_waiting.empty())
        m_timer.start();
}

void SearchAnswerQueue::ReportDropped()
{
    Log(QStringLiteral("Search"), 1,
        QStringLiteral("Dropped %1 searches of other users unanswered: they came faster than they could be "
                       "answered")
            .arg(m_dropped));
    m_dropped = 0;
    m_nextReport.setRemainingTime(1000);
}
