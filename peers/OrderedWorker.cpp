#include "OrderedWorker.h"
#include <memory>

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

bool OrderedWorker::Start(qsizetype bytes, std::function<Outcome()> work)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_waitingBytes + bytes > m_maxWaitingBytes)
            return false;
        m_waitingBytes += bytes;
    }
    m_pool.start([this, bytes, work = std::move(work)] {
        Outcome outcome = work();
        {
            std::lock_guard lock(m_mutex);
            m_waitingBytes -= bytes;
            m_done.push_back(std::move(outcome));
        }
        QMetaObject::invokeMethod(this, &OrderedWorker::Deliver, Qt::QueuedConnection);
    });
    return true;
}

void OrderedWorker::Finish()
{
    m_pool.waitForDone();
    Deliver();
}

void OrderedWorker::Deliver()
{
    auto outcomes = std::make_shared<std::vector<Outcome>>();
    {
        std::lock_guard lock(m_mutex);
        outcomes->swap(m_done);
    }
    if (outcomes->empty())
        return;
    for (const Outcome& outcome : *outcomes)
        outcome();
    m_pool.start([outcomes = std::move(outcomes)] { outcomes->clear(); });
}
