#include "ReadingClock.h"
#include <QTimer>
#include <algorithm>

ReadingClock::ReadingClock(std::function<bool()> needed, QObject* parent)
    : QObject(parent)
    , m_needed(std::move(needed))
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &ReadingClock::Tick);
    m_since.start();
}

qint64 ReadingClock::NowMs() const
{
    return m_counted + std::min(m_since.elapsed(), kMostPerTickMs);
}

void ReadingClock::Run()
{
    if (m_timer->isActive())
        return;
    Tick();
    m_timer->start();
}

void ReadingClock::Tick()
{
    m_counted = NowMs();
    m_since.start();
    if (!m_needed())
        m_timer->stop();
}
