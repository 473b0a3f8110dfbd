// The log sink: caps per area, per item and over all items, the `item_log`
// mirror of loggable types, logs going with their items, display text, and
// lines logged from other threads.
#include "Data.h"
#include "Log.h"
#include "LogSink.h"
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory sits in quarantine and everything runs slower: memory and time
// bounds say nothing there.
constexpr bool kMeasured = false;
#else
constexpr bool kMeasured = true;
#endif
// A million lines; a tenth of that under the sanitizers.
constexpr int kFlood = kMeasured ? 1000000 : 100000;

namespace {

// Resident memory of this process in KiB (Linux).
qint64 ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

size_t MirrorCount()
{
    return d.GetType("item_log")->Count();
}

} // namespace

class TestLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        Type* user = d.NewType("user", kEntity, false, true);
        Type* file = d.NewType("file", kEntity, false, true);
        Type* size = d.NewType("file_size", kAttribute, false, true);
        file->RelateToType(size, Many, One);
        user->RelateToType(file, Many, Many);
        LogSink::Instance().RegisterLoggableType("user");
        // A second registration is harmless.
        LogSink::Instance().RegisterLoggableType("user");
    }

    void init()
    {
        LogSink::Instance().SetLimits(LogSink::kAreaCap, LogSink::kItemCap, LogSink::kTotalItemCap);
        LogSink::Instance().Reset();
        d.Clear();
    }

    void millionAreaLinesStayCapped()
    {
        LogSink& sink = LogSink::Instance();
        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("other area"));
        const qint64 before = ResidentKiB();
        QElapsedTimer clock;
        clock.start();
        const QString area = QStringLiteral("Search");
        for (int n = 0; n < kFlood; ++n)
            Log(area, 1 + (n & 1), QStringLiteral("line %1").arg(n));
        const qint64 ms = clock.elapsed();
        const qint64 grown = ResidentKiB() - before;
        qInfo("log.area_line: %lld ns per line, resident growth %lld KiB", ms * 1000000 / kFlood, grown);

        QCOMPARE(sink.AreaLineCount(area), size_t(LogSink::kAreaCap));
        const std::vector<LogLine> lines = sink.AreaLines(area);
        QCOMPARE(lines.front().text, QStringLiteral("line %1").arg(kFlood - LogSink::kAreaCap));
        QCOMPARE(lines.back().text, QStringLiteral("line %1").arg(kFlood - 1));
        QCOMPARE(lines.back().level, 2);
        QVERIFY(lines.front().number < lines.back().number);
        // Each area has its own cap.
        QCOMPARE(sink.AreaLineCount(QStringLiteral("Transfer Queue")), size_t(1));
        QCOMPARE(sink.Areas(), QStringList({ QStringLiteral("Transfer Queue"), area }));
        if (kMeasured)
            QVERIFY2(grown < 32 * 1024, qPrintable(QString::number(grown)));
    }

    void millionItemLinesStayCapped()
    {
        LogSink& sink = LogSink::Instance();
        ItemPtr user = d.GetType("user")->GetItem("alice");
        ItemPtr file = d.GetType("file")->GetItem("a.mp3");
        const size_t itemsBefore = d.ItemCount();
        const qint64 before = ResidentKiB();
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; n < kFlood; ++n) {
            const QString text = QStringLiteral("line %1").arg(n);
            Log(QStringLiteral("Peer Messenger"), 1, text, user);
            Log(QStringLiteral("Shared"), 1, text, file);
        }
        qInfo("log.item_line_pair (one mirrored, one not): %lld ns per pair, resident growth %lld KiB",
            clock.elapsed() * 1000000 / kFlood, ResidentKiB() - before);

        for (ItemPtr item : { user, file }) {
            const std::vector<LogLine> lines = sink.ItemLines(item);
            QCOMPARE(lines.size(), size_t(LogSink::kItemCap));
            QCOMPARE(lines.front().text, QStringLiteral("line %1").arg(kFlood - LogSink::kItemCap));
            QCOMPARE(lines.back().text, QStringLiteral("line %1").arg(kFlood - 1));
        }
        QCOMPARE(sink.TotalItemLines(), size_t(2 * LogSink::kItemCap));
        // Lines dropped by an item's own cap do not pile up in the eviction order.
        QVERIFY(sink.QueueLength() < 2 * sink.TotalItemLines() + 4096 + 1);

        // The loggable user holds the same lines as `item_log` items; the file
        // type is not loggable and gets none.
        ItemSet mirror = user.GetItems("item_log");
        QCOMPARE(mirror.Size(), size_t(LogSink::kItemCap));
        QCOMPARE(mirror.First().AsString(), LogSink::MirrorText(sink.ItemLines(user).front()));
        QCOMPARE(d.ItemCount(), itemsBefore + LogSink::kItemCap);
        QCOMPARE(MirrorCount(), size_t(LogSink::kItemCap));
    }

    void repeatedTextsStayCheap()
    {
        // Many users logging the same words in the same second: the oldest
        // log items keep leaving at the total cap without slowing down.
        LogSink& sink = LogSink::Instance();
        std::vector<ItemPtr> users;
        for (int k = 0; k < 1000; ++k)
            users.push_back(d.GetType("user")->GetItem(QStringLiteral("peer%1").arg(k)));
        QElapsedTimer clock;
        clock.start();
        const int lines = std::max(kFlood / 5, 2 * LogSink::kTotalItemCap);
        for (int n = 0; n < lines; ++n)
            Log(QStringLiteral("Peer Messenger"), 1, QStringLiteral("Connection closed"), users[n % 1000]);
        const qint64 ms = clock.elapsed();
        qInfo("log.mirrored_line_at_total_cap: %lld ns", ms * 1000000 / lines);
        QCOMPARE(sink.TotalItemLines(), size_t(LogSink::kTotalItemCap));
        QCOMPARE(MirrorCount(), size_t(LogSink::kTotalItemCap));
        if (kMeasured)
            QVERIFY2(ms < 20000, qPrintable(QString::number(ms)));
    }

    void totalCapDropsOldestOfAll()
    {
        LogSink& sink = LogSink::Instance();
        sink.SetLimits(100, 30, 200);
        std::vector<ItemPtr> users;
        for (int k = 0; k < 20; ++k)
            users.push_back(d.GetType("user")->GetItem(QStringLiteral("u%1").arg(k)));
        // 20 users, 25 rounds: 500 lines, of which the newest 200 stay.
        for (int round = 0; round < 25; ++round) {
            for (int k = 0; k < 20; ++k)
                Log(QStringLiteral("Server"), 1, QStringLiteral("r%1").arg(round), users[k]);
        }
        QCOMPARE(sink.TotalItemLines(), size_t(200));
        for (ItemPtr u : users) {
            const std::vector<LogLine> lines = sink.ItemLines(u);
            QCOMPARE(lines.size(), size_t(10));
            QCOMPARE(lines.front().text, QStringLiteral("r15"));
            QCOMPARE(u.CountItems("item_log"), size_t(10));
        }
        QCOMPARE(MirrorCount(), size_t(200));

        // One busy user pushes the quiet ones out entirely; their records and
        // mirrors go with their last line.
        for (int n = 0; n < 400; ++n)
            Log(QStringLiteral("Server"), 1, QStringLiteral("busy %1").arg(n), users[0]);
        QCOMPARE(sink.ItemLineCount(users[0]), size_t(30));
        QCOMPARE(sink.TotalItemLines(), size_t(200));
        size_t withLines = 0;
        for (ItemPtr u : users)
            withLines += sink.ItemLineCount(u) ? 1 : 0;
        QCOMPARE(sink.ItemsWithLog(), withLines);
        size_t mirrors = 0;
        for (ItemPtr u : users) {
            QCOMPARE(u.CountItems("item_log"), sink.ItemLineCount(u));
            mirrors += u.CountItems("item_log");
        }
        QCOMPARE(MirrorCount(), mirrors);
    }

    void logGoesWithItsItem()
    {
        LogSink& sink = LogSink::Instance();
        ItemPtr user = d.GetType("user")->GetItem("bob");
        ItemPtr file = d.GetType("file")->GetItem("b.mp3");
        ItemPtr other = d.GetType("user")->GetItem("carol");
        for (int n = 0; n < 3; ++n) {
            Log(QStringLiteral("Search"), 1, QStringLiteral("x"), user);
            Log(QStringLiteral("Search"), 1, QStringLiteral("y"), file);
            Log(QStringLiteral("Search"), 1, QStringLiteral("z"), other);
        }
        QCOMPARE(sink.TotalItemLines(), size_t(9));
        QCOMPARE(MirrorCount(), size_t(6));

        user.Remove();
        file.Remove();
        QCOMPARE(sink.TotalItemLines(), size_t(3));
        QCOMPARE(sink.ItemsWithLog(), size_t(1));
        QCOMPARE(MirrorCount(), size_t(3));
        // A new item never inherits a removed one's log.
        ItemPtr again = d.GetType("user")->GetItem("bob");
        QCOMPARE(sink.ItemLineCount(again), size_t(0));
        QCOMPARE(again.CountItems("item_log"), size_t(0));
        // The area log keeps every line.
        QCOMPARE(sink.AreaLineCount(QStringLiteral("Search")), size_t(9));

        // The sweep keeps a live user's log items; emptying the store drops all.
        d.RemoveDisconnectedItems();
        QCOMPARE(other.CountItems("item_log"), size_t(3));
        d.Clear();
        QCOMPARE(sink.TotalItemLines(), size_t(0));
        QCOMPARE(sink.ItemsWithLog(), size_t(0));
        QCOMPARE(MirrorCount(), size_t(0));
    }

    void handlersMayLogAgain()
    {
        // A store handler that logs while a line's log item is being added
        // leaves the sink and the mirror in step.
        LogSink& sink = LogSink::Instance();
        sink.SetLimits(100, 3, 5);
        ItemPtr user = d.GetType("user")->GetItem("dave");
        struct Guard : DataHandler {
        } guard;
        int depth = 0;
        guard.SubscribeFunction(d.GetType("item_log")->itemAdded, [&](ItemPtr) {
            if (depth > 2)
                return;
            ++depth;
            Log(QStringLiteral("Server"), 2, QStringLiteral("nested"), user);
            --depth;
        });
        for (int n = 0; n < 10; ++n)
            Log(QStringLiteral("Server"), 1, QStringLiteral("outer"), user);
        QCOMPARE(sink.ItemLineCount(user), size_t(3));
        QCOMPARE(user.CountItems("item_log"), size_t(3));
        QVERIFY(sink.TotalItemLines() <= 5);
    }

    void formatIndentsDetails()
    {
        LogLine entry { QDateTime(QDate(2013, 1, 12), QTime(8, 5, 3)).toMSecsSinceEpoch(), 1, 1,
            QStringLiteral("Connecting to bob") };
        LogLine detail { entry.time, 2, 2, QStringLiteral("address 127.0.0.1\nport 2234") };
        QCOMPARE(LogSink::Format(entry), QStringLiteral("2013-01-12 08:05:03  Connecting to bob"));
        const QString spaces(25, QLatin1Char(' '));
        QCOMPARE(LogSink::Format(detail),
            spaces + QStringLiteral("address 127.0.0.1\n") + spaces + QStringLiteral("port 2234"));
    }

    void workerThreadLines()
    {
        // A worker's line reaches the area log on the GUI thread, without its
        // item (workers never touch the store).
        LogSink& sink = LogSink::Instance();
        ItemPtr user = d.GetType("user")->GetItem("frank");
        QThread* worker = QThread::create([user] {
            for (int n = 0; n < 100; ++n)
                Log(QStringLiteral("MP3 Scanning"), 1, QStringLiteral("scan %1").arg(n), user);
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QTRY_COMPARE(sink.AreaLineCount(QStringLiteral("MP3 Scanning")), size_t(100));
        QCOMPARE(sink.AreaLines(QStringLiteral("MP3 Scanning")).back().text, QStringLiteral("scan 99"));
        QCOMPARE(sink.ItemLineCount(user), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
