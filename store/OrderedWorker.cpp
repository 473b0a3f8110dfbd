#include "OrderedWorker.h"
#include <climits>
#include <memory>
#include <new>

OrderedWorker::OrderedWorker(qsizetype maxWaitingBytes, QObject* parent)
    : QObject(parent)
    , m_maxWaitingBytes(maxWaitingBytes)
{
    m_pool.setMaxThreadCount(1);
}

OrderedWorker::~OrderedWorker()
{
    m_pool.clear();
    m_pool.waitForDone();
}

namespace {

// Runs the work; what it threw becomes its refusal.
OrderedWorker::Outcome Run(
    const std::function<OrderedWorker::Outcome()>& work, const OrderedWorker::Refusal& refused)
{
    QString why;
    try {
        return work();
    } catch (const std::bad_alloc&) {
        why = QStringLiteral("there was not enough memory to read it");
    } catch (const std::exception& e) {
        why = QStringLiteral("it could not be read (%1)").arg(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        why = QStringLiteral("it could not be read");
    }
    return [refused, why] { refused(why); };
}

} // namespace

bool OrderedWorker::Start(qsizetype bytes, std::function<Outcome()> work, Refusal refused)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_waitingBytes + bytes > m_maxWaitingBytes)
            return false;
        m_waitingBytes += bytes;
        ++m_unfinished;
    }
    m_pool.start([this, bytes, work = std::move(work), refused = std::move(refused)] {
        Outcome outcome = Run(work, refused);
        {
            std::lock_guard lock(m_mutex);
            m_waitingBytes -= bytes;
            m_done.push_back(std::move(outcome));
        }
        QMetaObject::invokeMethod(this, &OrderedWorker::Deliver, Qt::QueuedConnection);
    });
    return true;
}

bool OrderedWorker::Finish(QDeadlineTimer deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        const bool done = m_pool.waitForDone(left < 0 ? -1 : int(qMin<qint64>(left, INT_MAX)));
        Deliver();
        std::lock_guard lock(m_mutex);
        if (m_unfinished == 0)
            return true;
        if (!done || deadline.hasExpired())
            return false;
    }
}

void OrderedWorker::Deliver()
{
    auto outcomes = std::make_shared<std::vector<Outcome>>();
    {
        std::lock_guard lock(m_mutex);
        outcomes->swap(m_done);
        m_unfinished -= outcomes->size();
    }
    if (outcomes->empty())
        return;
    for (const Outcome& outcome : *outcomes)
        outcome();
    m_pool.start([outcomes = std::move(outcomes)] { outcomes->clear(); });
}
