#include "FolderReplyQueue.h"
#include "store/Log.h"
#include "store/SlicedWork.h"

FolderReplyQueue::FolderReplyQueue(Begin begin, Refuse refuse, QObject* parent)
    : QObject(parent)
    , m_begin(std::move(begin))
    , m_refuse(std::move(refuse))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FolderReplyQueue::Slice);
}

void FolderReplyQueue::Add(Request request)
{
    if (Waiting() >= kMaxWaiting) {
        ++m_refused;
        if (m_nextReport.hasExpired()) {
            Log(QStringLiteral("Shared"), 1,
                QStringLiteral("Gave no reply to %1 folder requests: more than %2 were waiting")
                    .arg(m_refused)
                    .arg(kMaxWaiting));
            m_refused = 0;
            m_nextReport.setRemainingTime(kRefusalReportMs);
        }
        m_refuse(request.connection);
        return;
    }
    m_waiting.push_back(std::move(request));
    if (!m_timer.isActive())
        m_timer.start(0);
}

void FolderReplyQueue::Cancel(quint64 connection)
{
    std::erase_if(m_waiting, [connection](const Request& r) { return r.connection == connection; });
    if (m_current && m_currentConnection == connection)
        m_current = nullptr;
}

void FolderReplyQueue::RefuseAll()
{
    std::deque<Request> waiting = std::move(m_waiting);
    m_waiting.clear();
    if (m_current)
        m_refuse(m_currentConnection);
    m_current = nullptr;
    for (const Request& request : waiting)
        m_refuse(request.connection);
}

void FolderReplyQueue::Slice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    bool waits = false;
    while (!turn.hasExpired() && (m_current || !m_waiting.empty())) {
        if (!m_current) {
            const Request request = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_currentConnection = request.connection;
            m_current = m_begin(request);
        }
        // The work may cancel itself while it runs: it runs from a copy.
        const Work work = m_current;
        if (!work(turn)) {
            waits = !turn.hasExpired();
            break;
        }
        m_current = nullptr;
    }
    if (m_current || !m_waiting.empty())
        m_timer.start(waits ? kWaitMs : 0);
}
