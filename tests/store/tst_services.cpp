// The shared timers, the delayed invoker and the round of the turn budget.
#include "Data.h"
#include "DelayedInvoker.h"
#include "MemoryRelease.h"
#include "SlicedWork.h"
#include "TimerManager.h"
#include "TurnTaker.h"
#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QTimer>
#include <QtTest>

namespace {

class Target : public QObject {
    Q_OBJECT
public:
    int sorts = 0;
    int refreshes = 0;
    bool askAgain = false;

public slots:
    void Sort()
    {
        ++sorts;
        if (askAgain) {
            askAgain = false;
            delayedInvoker->Invoke(this, "1Sort()", 20);
        }
    }
    void Refresh() { ++refreshes; }
    void Take(int) { }
};

} // namespace

class TestServices : public QObject {
    Q_OBJECT
private slots:
    void timersStartedInOrder()
    {
        QVERIFY(!timerManager);
        auto* manager = new TimerManager;
        QCOMPARE(timerManager, manager);
        QList<QTimer*> timers { manager->HalfMinuteTimer(), manager->FiveMinuteTimer(),
            manager->HourTimer() };
        QCOMPARE(timers[0]->interval(), 30000);
        QCOMPARE(timers[1]->interval(), 300000);
        QCOMPARE(timers[2]->interval(), 3600000);
        for (QTimer* t : timers) {
            QVERIFY(t->isActive());
            QVERIFY(!t->isSingleShot());
        }
        // Made in that order.
        QList<QTimer*> made = manager->findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(made, timers);
        QPointer<QTimer> first = timers[0];
        delete manager;
        QVERIFY(!timerManager);
        QVERIFY(first.isNull());
    }

    // Work waiting for its share of the one budget of a pass: five takers
    // with more to do at every share (3 ms each) share each pass, the ones
    // that had nothing first, then in turn, and one that goes away while it
    // waits is skipped.
    void takersShareEachPass()
    {
        const auto spin = [](int us) {
            const QDeadlineTimer until
                = QDeadlineTimer::addNSecs(QDeadlineTimer::current(Qt::PreciseTimer), us * 1000);
            while (!until.hasExpired()) { }
        };
        // The passes as the round counts them, and who had a share in each.
        std::vector<QString> passes(1);
        QObject counting;
        for (auto signal : { &QAbstractEventDispatcher::aboutToBlock, &QAbstractEventDispatcher::awake })
            connect(QAbstractEventDispatcher::instance(), signal, &counting, [&] {
                if (!passes.back().isEmpty())
                    passes.emplace_back();
            });
        std::vector<int> order;
        std::vector<std::unique_ptr<TurnTaker>> takers;
        for (int i = 0; i < 5; ++i)
            takers.push_back(std::make_unique<TurnTaker>([&, i] {
                order.push_back(i);
                passes.back() += 't';
                const QDeadlineTimer share = SlicedWork::Turn();
                QVERIFY(share.remainingTime() <= SlicedWork::kTurnMs);
                spin(3000);
                if (order.size() == 7)
                    takers[3].reset();
                if (order.size() < 40)
                    takers[i]->Wake();
            }));
        for (auto& taker : takers)
            taker->Wake();
        QCOMPARE(TurnTaker::WaitingCount(), 5);
        QTRY_COMPARE(TurnTaker::WaitingCount(), 0);
        QCOMPARE(order.size(), size_t(43)); // the last three had their places
        for (size_t k = 12; k < order.size(); ++k)
            QCOMPARE(order[k], order[k - 4]);
        for (const QString& pass : passes)
            QVERIFY2(pass.size() <= 5, qPrintable(pass));

        // Nobody waiting: the work is done at once. One that had its share
        // in this pass waits behind one that wakes later in it.
        QString seq;
        TurnTaker a([&] {
            seq += 'a';
            if (seq.size() == 1)
                a.Wake();
        });
        TurnTaker b([&] { seq += 'b'; });
        a.RunOrWake();
        QCOMPARE(seq, QStringLiteral("a"));
        b.RunOrWake();
        QTRY_COMPARE(seq, QStringLiteral("aba"));

        // A crowd of 300 takers that each do 0.2 ms and then rest six passes
        // (more than a pass's budget in all), one that always has more to
        // do, and one with a fixed part (the server's) that always has more
        // too: in every pass the fixed one goes first, then the crowd that
        // woke after its rest, in the order it woke, and the busy one still
        // has its share.
        passes.assign(1, QString());
        int beat = 0;
        std::vector<int> rested(300, -6), crowdOrder, wokeOrder;
        std::vector<std::unique_ptr<TurnTaker>> crowd;
        for (int i = 0; i < 300; ++i)
            crowd.push_back(std::make_unique<TurnTaker>([&, i] {
                passes.back() += 'c';
                crowdOrder.push_back(i);
                rested[size_t(i)] = beat;
                spin(200);
            }));
        TurnTaker busy([&] {
            passes.back() += 'b';
            spin(1000);
            busy.Wake();
        });
        TurnTaker fixed(
            [&] {
                passes.back() += 'f';
                spin(500);
                fixed.Wake();
            },
            TurnTaker::Part::Fixed);
        QTimer heartbeat; // wakes those that rested
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            ++beat;
            for (int i = 0; i < 300; ++i)
                if (!crowd[size_t(i)]->Waiting() && beat - rested[size_t(i)] >= 6) {
                    crowd[size_t(i)]->Wake();
                    wokeOrder.push_back(i);
                }
        });
        heartbeat.start(0);
        busy.Wake();
        fixed.Wake();
        QTRY_VERIFY_WITH_TIMEOUT(passes.size() >= 60, 60000);
        passes.pop_back(); // under way
        for (size_t k = 2; k < passes.size(); ++k)
            QVERIFY2(passes[k].startsWith('f') && passes[k].lastIndexOf('c') < passes[k].indexOf('b'),
                qPrintable(passes[k]));
        QVERIFY(crowdOrder.size() >= 60);
        wokeOrder.resize(crowdOrder.size());
        QCOMPARE(crowdOrder, wokeOrder);
    }

    // A burst of removals gives memory back once it has ended and the thread
    // is idle, not while it is busy.
    void memoryGoesBackWhenTheThreadIsIdle()
    {
        Data data;
        Type* row = data.NewType("row", kEntity);
        int released = 0;
        MemoryRelease release(&data, nullptr, [&] { ++released; });
        for (int i = 0; i < int(MemoryRelease::kBurst); ++i)
            row->NewItem(Value(i)).Remove();
        QTimer busy; // 4 ms of work in every pass
        connect(&busy, &QTimer::timeout, [] {
            const QDeadlineTimer until(4);
            while (!until.hasExpired()) { }
        });
        busy.start(0);
        QTest::qWait(MemoryRelease::kQuietMs + 4 * MemoryRelease::kIdleLookMs);
        QCOMPARE(released, 0);
        busy.stop();
        QTRY_COMPARE(released, 1);
        QTest::qWait(2 * MemoryRelease::kQuietMs);
        QCOMPARE(released, 1);
    }

    void init() { new DelayedInvoker; }
    void cleanup() { delete delayedInvoker; }

    void burstGivesOneCall()
    {
        Target target;
        QVERIFY(delayedInvoker->Invoke(&target, "1Sort()", 60));
        for (int n = 0; n < 10; ++n)
            QVERIFY(!delayedInvoker->Invoke(&target, "1Sort()", 60));
        // The same call by its bare signature is the same request.
        QVERIFY(!delayedInvoker->Invoke(&target, "Sort( )", 60));
        QTest::qWait(20);
        QCOMPARE(target.sorts, 0);
        QTRY_COMPARE(target.sorts, 1);
        QTest::qWait(150);
        QCOMPARE(target.sorts, 1);
        QCOMPARE(delayedInvoker->PendingCount(), size_t(0));

        // Once it has run, a new request is served again, even from the slot.
        target.askAgain = true;
        QVERIFY(delayedInvoker->Invoke(&target, "1Sort()", 10));
        QTRY_COMPARE(target.sorts, 3);
    }

    void separateTargetsAndSlots()
    {
        Target a, b;
        QVERIFY(delayedInvoker->Invoke(&a, "1Sort()", 20));
        QVERIFY(delayedInvoker->Invoke(&b, "1Sort()", 20));
        QVERIFY(delayedInvoker->Invoke(&a, "1Refresh()", 20));
        QCOMPARE(delayedInvoker->PendingCount(), size_t(3));
        QTRY_COMPARE(delayedInvoker->PendingCount(), size_t(0));
        QCOMPARE(a.sorts, 1);
        QCOMPARE(b.sorts, 1);
        QCOMPARE(a.refreshes, 1);
        QCOMPARE(b.refreshes, 0);

        // No such slot, one with arguments, or no target.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no method"));
        QVERIFY(!delayedInvoker->Invoke(&a, "1Missing()", 10));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no method"));
        QVERIFY(!delayedInvoker->Invoke(&a, "1Take(int)", 10));
        QVERIFY(!delayedInvoker->Invoke(nullptr, "1Sort()", 10));
        QCOMPARE(delayedInvoker->PendingCount(), size_t(0));
    }

    void destroyedTargetOrInvokerCallsNothing()
    {
        auto* doomed = new Target;
        Target survivor;
        delayedInvoker->Invoke(doomed, "1Sort()", 30);
        delayedInvoker->Invoke(&survivor, "1Sort()", 30);
        delete doomed;
        QCOMPARE(delayedInvoker->PendingCount(), size_t(1));
        QTRY_COMPARE(survivor.sorts, 1);

        // A new object in the same place is not taken for the old one.
        auto* first = new Target;
        delayedInvoker->Invoke(first, "1Sort()", 1000);
        delete first;
        auto* next = new Target;
        QVERIFY(delayedInvoker->Invoke(next, "1Sort()", 10));
        QTRY_COMPARE(next->sorts, 1);

        // Pending calls die with the invoker.
        QVERIFY(delayedInvoker->Invoke(next, "1Sort()", 10));
        delete delayedInvoker;
        QVERIFY(!delayedInvoker);
        QTest::qWait(60);
        QCOMPARE(next->sorts, 1);
        delete next;
        new DelayedInvoker; // for cleanup()
    }
};

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
