#include "TimerManager.h"
#include <QTimer>

TimerManager* timerManager = nullptr;

namespace {

QTimer* StartTimer(QObject* parent, int intervalMs)
{
    QTimer* timer = new QTimer(parent);
    timer->setInterval(intervalMs);
    timer->start();
    return timer;
}

} // namespace

TimerManager::TimerManager(QObject* parent)
    : QObject(parent)
    , m_halfMinute(StartTimer(this, 30000))
    , m_fiveMinutes(StartTimer(this, 300000))
    , m_hour(StartTimer(this, 3600000))
{
    timerManager = this;
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}
