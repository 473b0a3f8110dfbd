// The shared upload speed limit: how a limit is split between uploads, what
// "no limit" leaves behind, the spare-byte pool's borrowing and its cap, and
// the fields staying consistent while many threads feed and borrow at once.
#include "transfers/SpeedLimit.h"
#include <QTest>
#include <QThread>
#include <atomic>
#include <limits>
#include <vector>

class TestSpeedLimit : public QObject {
    Q_OBJECT
private slots:
    void splitsTheLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("active");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("perUpload");
        QTest::newRow("100 over 3") << 100 << 3 << 100 << 33;
        QTest::newRow("2 over 3 is at least 1") << 2 << 3 << 2 << 1;
        QTest::newRow("100 with none active") << 100 << 0 << 100 << 100;
        QTest::newRow("0 is no limit") << 0 << 2 << 0 << 0;
        QTest::newRow("negative is no limit") << -5 << 1 << 0 << 0;
    }
    void splitsTheLimit()
    {
        QFETCH(int, limit);
        QFETCH(int, active);
        QFETCH(int, total);
        QFETCH(int, perUpload);
        SpeedLimit speed;
        speed.SetLimit(limit, active);
        QCOMPARE(speed.TotalLimit(), total);
        QCOMPARE(speed.PerUploadLimit(), perUpload);
    }

    void poolBorrowingAndReset()
    {
        SpeedLimit speed;
        QCOMPARE(speed.TotalLimit(), 0);
        QCOMPARE(speed.SpareBytes(), 0);
        speed.SetLimit(100, 1); // pool capped at 102400 bytes
        speed.AddSpare(5000);
        speed.AddSpare(0);
        speed.AddSpare(-300);
        QCOMPARE(speed.SpareBytes(), 5000);
        // Less than the pool: all paid from it.
        QCOMPARE(speed.BorrowSpare(1200), 0);
        QCOMPARE(speed.SpareBytes(), 3800);
        // More than the pool: the pool is emptied and the rest is still owed.
        QCOMPARE(speed.BorrowSpare(5000), 1200);
        QCOMPARE(speed.SpareBytes(), 0);
        QCOMPARE(speed.BorrowSpare(700), 700);

        // No limit keeps the pool; a new limit empties it.
        speed.AddSpare(900);
        speed.SetNoLimit();
        QCOMPARE(speed.PerUploadLimit(), 0);
        QCOMPARE(speed.SpareBytes(), 900);
        speed.SetLimit(0, 1);
        QCOMPARE(speed.SpareBytes(), 900);
        speed.SetLimit(50, 2);
        QCOMPARE(speed.SpareBytes(), 0);
    }

    // Allowance that piles up while uploads were held back must not let them
    // burst far past the limit later: the pool holds one second of it at most.
    void poolIsCappedAtOneSecond()
    {
        SpeedLimit speed;
        speed.SetLimit(10, 4);
        for (int i = 0; i < 100; ++i)
            speed.AddSpare(1 << 20);
        QCOMPARE(speed.SpareBytes(), 10 * 1024);
        speed.AddSpare(std::numeric_limits<qint64>::max());
        QCOMPARE(speed.SpareBytes(), 10 * 1024);
        // Without a limit there is nothing to save up.
        SpeedLimit none;
        none.AddSpare(1 << 20);
        QCOMPARE(none.SpareBytes(), 0);
    }

    void consistentUnderConcurrentUse()
    {
        SpeedLimit speed;
        speed.SetLimit(1000, 4);
        std::atomic<bool> stop { false };
        std::atomic<bool> bad { false };
        std::vector<QThread*> threads;
        for (int t = 0; t < 4; ++t) {
            threads.push_back(QThread::create([&] {
                while (!stop) {
                    if (speed.PerUploadLimit() < 0 || speed.TotalLimit() < 0)
                        bad = true;
                    const qint64 left = speed.BorrowSpare(3000);
                    if (left < 0 || left > 3000)
                        bad = true;
                    speed.AddSpare(2500);
                    const qint64 pool = speed.SpareBytes();
                    if (pool < 0 || pool > 2000 * 1024)
                        bad = true;
                }
            }));
            threads.back()->start();
        }
        for (int i = 0; i < 2000; ++i) {
            if (i % 3 == 0)
                speed.SetNoLimit();
            else
                speed.SetLimit(i % 2000 + 1, i % 5);
        }
        stop = true;
        for (QThread* t : threads) {
            QVERIFY(t->wait(10000));
            delete t;
        }
        QVERIFY(!bad);
    }
};

QTEST_GUILESS_MAIN(TestSpeedLimit)
#include "tst_speedlimit.moc"
