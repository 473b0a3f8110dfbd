#pragma once
// The three shared repeating timers: every half minute, every five minutes and
// every hour. They start when the manager is made; others connect to their
// timeout() signals.
#include <QObject>

class QTimer;

class TimerManager : public QObject {
    Q_OBJECT
public:
    // Creates and starts the timers in the order 30000, 300000, 3600000 ms and
    // sets the global timerManager.
    explicit TimerManager(QObject* parent = nullptr);
    ~TimerManager() override;

    QTimer* HalfMinuteTimer() const { return m_halfMinute; }
    QTimer* FiveMinuteTimer() const { return m_fiveMinutes; }
    QTimer* HourTimer() const { return m_hour; }

private:
    QTimer* m_halfMinute;
    QTimer* m_fiveMinutes;
    QTimer* m_hour;
};

extern TimerManager* timerManager;
