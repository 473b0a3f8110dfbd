// The shared timers, the delayed invoker and the round of the turn budget.
#include "DelayedInvoker.h"
#include "SlicedWork.h"
#include "TimerManager.h"
#include "TurnTaker.h"
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
    // with more to do at every share (3 ms each) share each pass, in turn
    // across passes (the ones that had nothing come first), and one that goes
    // away while it waits is skipped.
    void takersShareEachPassInTurn()
    {
        std::vector<int> order;
        std::vector<int> perPass(1, 0);
        QTimer heartbeat; // marks the passes
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            if (perPass.back() > 0)
                perPass.push_back(0);
        });
        heartbeat.start(0);
        std::vector<std::unique_ptr<TurnTaker>> takers;
        for (int i = 0; i < 5; ++i)
            takers.push_back(std::make_unique<TurnTaker>([&, i] {
                order.push_back(i);
                ++perPass.back();
                const QDeadlineTimer share = SlicedWork::Turn();
                QVERIFY(share.remainingTime() <= SlicedWork::kTurnMs);
                QDeadlineTimer busy(3, Qt::PreciseTimer);
                while (!busy.hasExpired()) { }
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
        const std::vector<int> first(order.begin(), order.begin() + 8);
        QCOMPARE(first, (std::vector<int> { 0, 1, 2, 3, 4, 0, 1, 2 }));
        for (size_t k = 8; k < order.size(); ++k)
            QCOMPARE(order[k], (std::vector<int> { 4, 0, 1, 2 })[(k - 8) % 4]);
        QVERIFY2(*std::max_element(perPass.begin(), perPass.end()) <= 5, qPrintable(QString::number(perPass[0])));

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

        // Four that never rest (6 ms a share: two fit in a pass, so some
        // always wait from the pass before) and one that wakes after a rest:
        // it goes ahead of them all.
        seq.clear();
        std::vector<std::unique_ptr<TurnTaker>> busy;
        TurnTaker probe([&] { seq += 'p'; });
        for (int i = 0; i < 4; ++i)
            busy.push_back(std::make_unique<TurnTaker>([&, i] {
                seq += QChar('0' + i);
                QDeadlineTimer share(6, Qt::PreciseTimer);
                while (!share.hasExpired()) { }
                if (seq.size() == 9)
                    probe.Wake();
                if (seq.size() < 16)
                    busy[i]->Wake();
            }));
        for (auto& taker : busy)
            taker->Wake();
        QTRY_COMPARE(TurnTaker::WaitingCount(), 0);
        QCOMPARE(seq.indexOf('p'), 9);
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

        // Once it has run, a new request is served again.
        QVERIFY(delayedInvoker->Invoke(&target, "1Sort()", 10));
        QTRY_COMPARE(target.sorts, 2);
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
    }

    void slotMayAskAgain()
    {
        Target target;
        target.askAgain = true;
        delayedInvoker->Invoke(&target, "1Sort()", 10);
        QTRY_COMPARE(target.sorts, 2);
    }

    void destroyedTargetIsSkipped()
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
        delete next;
    }

    void refusedRequests()
    {
        Target target;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no method"));
        QVERIFY(!delayedInvoker->Invoke(&target, "1Missing()", 10));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no method"));
        QVERIFY(!delayedInvoker->Invoke(&target, "1Take(int)", 10));
        QVERIFY(!delayedInvoker->Invoke(nullptr, "1Sort()", 10));
        QCOMPARE(delayedInvoker->PendingCount(), size_t(0));
    }

    void pendingCallsDieWithInvoker()
    {
        Target target;
        delayedInvoker->Invoke(&target, "1Sort()", 10);
        delete delayedInvoker;
        QVERIFY(!delayedInvoker);
        QTest::qWait(60);
        QCOMPARE(target.sorts, 0);
        new DelayedInvoker; // for cleanup()
    }
};

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
