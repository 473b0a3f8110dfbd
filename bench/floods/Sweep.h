// The row of the floods benchmark on the store's sweep every five minutes:
// after the other rows have filled the store, the five-minute timer fires
// once; shown five seconds later, by when the sweep is long done.
#pragma once
#include "FloodRun.h"
#include "store/Data.h"
#include "store/TimerManager.h"
#include <QElapsedTimer>
#include <QTimer>
#include <memory>

inline void AddSweepRow(FloodRun& run)
{
    auto fired = std::make_shared<QElapsedTimer>();
    run.Add(
        QStringLiteral("five_minute_sweep"),
        [fired] {
            QTimer* timer = timerManager->FiveMinuteTimer();
            const int interval = timer->interval();
            auto once = std::make_shared<QMetaObject::Connection>();
            *once = QObject::connect(timer, &QTimer::timeout, timer, [=] {
                QObject::disconnect(*once);
                timer->setInterval(interval);
                std::printf("floods.five_minute_sweep_items: %zu\n", d.ItemCount());
                fired->start();
            });
            timer->start(1);
        },
        [fired] { return fired->isValid() && fired->elapsed() >= 5000; }, 60000);
}
