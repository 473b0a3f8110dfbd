#include "TurnTaker.h"
#include "SlicedWork.h"
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <deque>

namespace {

constexpr qint64 kLeastShareNs = qint64(TurnTaker::kLeastShareUs) * 1000;

QDeadlineTimer In(qint64 nsecs)
{
    return QDeadlineTimer::addNSecs(QDeadlineTimer::current(Qt::PreciseTimer), nsecs);
}

} // namespace

// The passes of the loop and the round; made once and never destroyed, so
// a taker that lives in a static object may leave it at any time.
struct TurnRound {
    QPointer<QAbstractEventDispatcher> hooked;
    quint64 pass = 1; // counted by the dispatcher's signals
    quint64 budgetPass = 0; // the pass whose budget `end` is
    QDeadlineTimer end;
    const QDeadlineTimer* shareEnd = nullptr; // during a share
    std::deque<TurnTaker*> waiting;
    // Of those waiting, how many at the end had their share in tailPass.
    size_t served = 0;
    quint64 tailPass = 0;
    bool scheduled = false;
    bool running = false;

    static TurnRound& Get()
    {
        static TurnRound* round = new TurnRound;
        return *round;
    }

    // Hooks the loop of the GUI thread; false elsewhere or without one.
    bool Hooked()
    {
        const QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
            return false;
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        if (!dispatcher)
            return false;
        if (dispatcher != hooked) {
            hooked = dispatcher;
            const auto next = [] { ++Get().pass; };
            QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, next);
            QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, next);
        }
        return true;
    }

    QDeadlineTimer PassEnd()
    {
        if (budgetPass != pass) {
            budgetPass = pass;
            end = In(qint64(SlicedWork::kTurnMs) * 1000000);
        }
        return end;
    }

    size_t Served()
    {
        if (tailPass != pass) {
            tailPass = pass;
            served = 0;
        }
        return served;
    }

    void Add(TurnTaker* taker)
    {
        taker->m_waiting = true;
        // Behind those that had nothing yet in this pass; those that had
        // their share wait at the end, in the order they had it.
        if (taker->m_sharePass == pass) {
            waiting.push_back(taker);
            Served();
            ++served;
        } else {
            waiting.insert(waiting.end() - qsizetype(Served()), taker);
        }
        Schedule();
    }

    void Remove(TurnTaker* taker)
    {
        const auto it = std::find(waiting.begin(), waiting.end(), taker);
        if (it == waiting.end())
            return;
        if (size_t(waiting.end() - it) <= Served())
            --served;
        waiting.erase(it);
        taker->m_waiting = false;
    }

    void Schedule()
    {
        if (scheduled || running || waiting.empty() || !Hooked())
            return;
        scheduled = true;
        QTimer::singleShot(0, [] { Get().Run(); });
    }

    void Run()
    {
        scheduled = false;
        if (running)
            return;
        running = true;
        const QDeadlineTimer passEnd = PassEnd();
        // One share at least in every pass, however the budget went.
        for (bool first = true; !waiting.empty() && (first || !passEnd.hasExpired()); first = false) {
            TurnTaker* taker = waiting.front();
            if (waiting.size() <= Served())
                --served;
            waiting.pop_front();
            taker->m_waiting = false;
            taker->m_sharePass = pass;
            const qint64 share = passEnd.remainingTimeNSecs() / qint64(waiting.size() + 1);
            const QDeadlineTimer until = In(std::max(kLeastShareNs, share));
            shareEnd = &until;
            taker->m_run(); // which may delete it
            shareEnd = nullptr;
        }
        running = false;
        Schedule();
    }
};

TurnTaker::TurnTaker(std::function<void()> run)
    : m_run(std::move(run))
{
}

TurnTaker::~TurnTaker()
{
    TurnRound::Get().Remove(this);
}

void TurnTaker::Wake()
{
    if (!m_waiting)
        TurnRound::Get().Add(this);
}

void TurnTaker::RunOrWake()
{
    if (m_waiting)
        return;
    TurnRound& round = TurnRound::Get();
    if (round.waiting.empty()) {
        m_sharePass = round.pass;
        m_run();
    } else
        round.Add(this);
}

void TurnTaker::Stop()
{
    TurnRound::Get().Remove(this);
}

QDeadlineTimer TurnTaker::Budget()
{
    TurnRound& round = TurnRound::Get();
    if (!round.Hooked())
        return QDeadlineTimer(SlicedWork::kTurnMs, Qt::PreciseTimer);
    if (round.shareEnd)
        return *round.shareEnd;
    const QDeadlineTimer least = In(kLeastShareNs);
    const QDeadlineTimer end = round.PassEnd();
    return end < least ? least : end;
}

int TurnTaker::WaitingCount()
{
    return int(TurnRound::Get().waiting.size());
}
