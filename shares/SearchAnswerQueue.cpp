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
        m_timer.start(0);
}

void SearchAnswerQueue::Clear()
{
    if (!m_waiting.empty() || m_current)
        Log(QStringLiteral("Search"), 2,
            QStringLiteral("Dropped %1 searches of other users unanswered at the logout")
                .arg(m_waiting.size() + (m_current ? 1 : 0)));
    m_waiting.clear();
    m_current = nullptr;
    m_timer.stop();
}

void SearchAnswerQueue::Slice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    bool waits = false;
    while (!turn.hasExpired() && (m_current || !m_waiting.empty())) {
        if (!m_current) {
            const Search search = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_current = m_answer(search.user, search.ticket, search.query);
        }
        // The work may clear the queue while it runs: it runs from a copy.
        const Work work = m_current;
        if (!work(turn)) {
            waits = !turn.hasExpired();
            break;
        }
        m_current = nullptr;
    }
    if (m_dropped && (m_waiting.empty() || m_nextReport.hasExpired()))
        ReportDropped();
    if (m_current || !m_waiting.empty())
        m_timer.start(waits ? kWaitMs : 0);
}

void SearchAnswerQueue::ReportDropped()
{
    Log(QStringLiteral("Search"), 1,
        QStringLiteral("Dropped %1 searches of other users unanswered: they came faster than they could be "
                       "answered")
            .arg(m_dropped));
    m_dropped = 0;
    m_nextReport.setRemainingTime(kDropReportMs);
}
