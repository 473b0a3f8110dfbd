#include "TimerManager.h"
#include <QTimer>

TimerManager* timerManager = nullptr;

namespace {

// Named for what it is, so a trace of the event loop can tell them apart.
QTimer* StartTimer(QObject* parent, int intervalMs, const char* name)
{
    QTimer* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(intervalMs);
    timer->start();
    return timer;
}

} // namespace

TimerManager::TimerManager(QObject* parent)
    : QObject(parent)
    , m_halfMinute(StartTimer(this, 30000, "half-minute timer"))
    , m_fiveMinutes(StartTimer(this, 300000, "five-minute timer"))
    , m_hour(StartTimer(this, 3600000, "hour timer"))
{
    timerManager = this;
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}
