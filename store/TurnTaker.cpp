#include "TurnTaker.h"
#include "SlicedWork.h"
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <utility>

namespace {

constexpr qint64 kLeastShareNs = qint64(TurnTaker::kLeastShareUs) * 1000;
// Passes are counted twice over (both of the dispatcher's signals): a few
// passes back.
constexpr quint64 kRecentPasses = 4;

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
    quint64 ownPass = 0; // when work running on its own last asked for a budget
    std::deque<TurnTaker*> waiting;
    // Of those waiting, how many at the front had no share lately (they came
    // in the order they woke), and how many at the end had their share in
    // tailPass (in the order they had it).
    size_t fresh = 0;
    size_t served = 0;
    quint64 tailPass = 0;
    // A timer, not a posted call: the loop sends posted calls twice in one
    // of its passes, timers once.
    QPointer<QTimer> timer;
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

    // What is left of the pass, at least a sliver; a fresh budget where no
    // loop is hooked.
    QDeadlineTimer Left()
    {
        if (!Hooked())
            return In(qint64(SlicedWork::kTurnMs) * 1000000);
        const QDeadlineTimer least = In(kLeastShareNs);
        const QDeadlineTimer passEnd = PassEnd();
        return passEnd < least ? least : passEnd;
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
        const size_t back = Served();
        if (taker->m_sharePass == pass) {
            waiting.push_back(taker);
            ++served;
        } else if (taker->m_sharePass == 0 || pass - taker->m_sharePass > kRecentPasses) {
            // Work that comes after a rest (a peer's one request) goes first.
            waiting.insert(waiting.begin() + qsizetype(fresh++), taker);
        } else {
            waiting.insert(waiting.end() - qsizetype(back), taker);
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
        else if (size_t(it - waiting.begin()) < fresh)
            --fresh;
        waiting.erase(it);
        taker->m_waiting = false;
    }

    void Schedule()
    {
        if (running || waiting.empty() || !Hooked())
            return;
        if (!timer) {
            timer = new QTimer(QCoreApplication::instance());
            timer->setSingleShot(true);
            timer->setInterval(0);
            QObject::connect(timer, &QTimer::timeout, [] { Get().Run(); });
        }
        if (!timer->isActive())
            timer->start();
    }

    void Run()
    {
        if (running)
            return;
        running = true;
        QDeadlineTimer passEnd = PassEnd();
        // Work that runs on its own (on a timer) asked lately: half of the
        // pass is left for it.
        if (pass - ownPass <= kRecentPasses)
            passEnd = std::min(passEnd, QDeadlineTimer::addNSecs(end, -qint64(SlicedWork::kTurnMs) * 500000));
        // One share at least in every pass, however the budget went.
        for (bool first = true; !waiting.empty() && (first || !passEnd.hasExpired()); first = false) {
            TurnTaker* taker = waiting.front();
            if (waiting.size() <= Served())
                --served;
            else if (fresh > 0)
                --fresh;
            waiting.pop_front();
            taker->m_waiting = false;
            taker->m_sharePass = pass;
            const qint64 share = passEnd.remainingTimeNSecs() / qint64(waiting.size() + 1);
            const QDeadlineTimer until = In(std::max(kLeastShareNs, share));
            const QDeadlineTimer* outer = std::exchange(shareEnd, &until);
            taker->m_run(); // which may delete it
            shareEnd = outer;
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
    if (!round.waiting.empty()) {
        round.Add(this);
        return;
    }
    // A share of its own: what is left of the pass (or of the share it is
    // called from).
    m_sharePass = round.pass;
    const QDeadlineTimer* outer = round.shareEnd;
    const QDeadlineTimer until = outer ? *outer : round.Left();
    round.shareEnd = &until;
    m_run(); // which may delete it
    round.shareEnd = outer;
}

void TurnTaker::Stop()
{
    TurnRound::Get().Remove(this);
}

QDeadlineTimer TurnTaker::Budget()
{
    TurnRound& round = TurnRound::Get();
    if (round.shareEnd)
        return *round.shareEnd;
    round.ownPass = round.pass;
    return round.Left();
}

bool TurnTaker::BudgetLeft()
{
    TurnRound& round = TurnRound::Get();
    if (round.shareEnd)
        return !round.shareEnd->hasExpired();
    return !round.Hooked() || !round.PassEnd().hasExpired();
}

int TurnTaker::WaitingCount()
{
    return int(TurnRound::Get().waiting.size());
}
