// The rows of the floods benchmark on the shared timers, after the other rows
// have filled the store (and left 100,000 queued uploads, a room page, chat
// tabs): each fires its timer once and is shown five seconds later, by when
// what the timer started is long done.
//   half_minute_timers: every half-minute handler (the upload list's tidy,
//     the queue's and the connections' checks, the chat pages'), with the
//     tidy of finished uploads on and the users of the queued ones gone
//     offline a minute before (so it reads when for each, and keeps them),
//     and the chat views' clock five minutes on (so every conversation of
//     the chat tabs ends, as in a long run);
//   five_minute_sweep: the store's sweep (also prints the store's items).
#pragma once
#include "FloodRun.h"
#include "pages/chat/ChatLines.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>

// Fires the timer once now (then back to its interval); fired() starts then.
inline void FireOnce(QTimer* timer, std::function<void()> fired)
{
    const int interval = timer->interval();
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QObject::disconnect(*once);
        timer->setInterval(interval);
        fired();
    });
    timer->start(1);
}

inline void AddSweepRow(FloodRun& run)
{
    auto halfMinute = std::make_shared<QElapsedTimer>();
    const bool halfMinuteRow = run.Add(
        QStringLiteral("half_minute_timers"),
        [halfMinute] { FireOnce(timerManager->HalfMinuteTimer(), [=] { halfMinute->start(); }); },
        [halfMinute] { return halfMinute->isValid() && halfMinute->elapsed() >= 5000; }, 60000,
        [] {
            settings.SetYes("clear_complete_aborted_uploads", true);
            const QString minuteAgo = QDateTime::currentDateTime().addSecs(-60).toString(Qt::TextDate);
            const ItemPtr change = d.GetType("last_online_status_change")->GetItem(Value(minuteAgo));
            for (ItemPtr entry : d.GetType("upload_entry")->GetItems()) {
                ItemPtr user = entry["user"];
                user.Disconnect("is_online");
                user.Connect(change);
            }
            ChatLines::SetClock([] { return QDateTime::currentDateTime().addSecs(301); });
        });
    if (halfMinuteRow)
        run.After([] { ChatLines::SetClock(nullptr); });
    auto fired = std::make_shared<QElapsedTimer>();
    run.Add(
        QStringLiteral("five_minute_sweep"),
        [fired] {
            FireOnce(timerManager->FiveMinuteTimer(), [=] {
                std::printf("floods.five_minute_sweep_items: %zu\n", d.ItemCount());
                fired->start();
            });
        },
        [fired] { return fired->isValid() && fired->elapsed() >= 5000; }, 60000);
}
