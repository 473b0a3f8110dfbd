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
    // The three lines (TurnTaker.h). Of the round, how many at the end had
    // their share in tailPass (in the order they had it).
    std::deque<TurnTaker*> fixed;
    std::deque<TurnTaker*> rested;
    std::deque<TurnTaker*> round;
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

    size_t Waiting() const { return fixed.size() + rested.size() + round.size(); }

    void Add(TurnTaker* taker)
    {
        taker->m_waiting = true;
        const size_t back = Served();
        if (taker->m_fixed && taker->m_fixedPass != pass) {
            fixed.push_back(taker);
        } else if (taker->m_sharePass == pass) {
            round.push_back(taker);
            ++served;
        } else if (taker->m_sharePass == 0 || pass - taker->m_sharePass > kRecentPasses) {
            // Work that comes after a rest (a peer's one request).
            rested.push_back(taker);
        } else {
            round.insert(round.end() - qsizetype(back), taker);
        }
        Schedule();
    }

    void Remove(TurnTaker* taker)
    {
        taker->m_waiting = false;
        for (std::deque<TurnTaker*>* line : { &fixed, &rested }) {
            const auto it = std::find(line->begin(), line->end(), taker);
            if (it != line->end()) {
                line->erase(it);
                return;
            }
        }
        const auto it = std::find(round.begin(), round.end(), taker);
        if (it == round.end())
            return;
        if (size_t(round.end() - it) <= Served())
            --served;
        round.erase(it);
    }

    void Schedule()
    {
        if (running || Waiting() == 0 || !Hooked())
            return;
        if (!timer) {
            timer = new QTimer(QCoreApplication::instance());
            timer->setObjectName(QStringLiteral("turn round"));
            timer->setSingleShot(true);
            timer->setInterval(0);
            QObject::connect(timer, &QTimer::timeout, [] { Get().Run(); });
        }
        if (!timer->isActive())
            timer->start();
    }

    // Runs the front of the line with a share until `until`.
    void Share(std::deque<TurnTaker*>& line, const QDeadlineTimer& until)
    {
        TurnTaker* taker = line.front();
        if (&line == &round && round.size() <= Served())
            --served;
        line.pop_front();
        taker->m_waiting = false;
        taker->m_sharePass = pass;
        if (&line == &fixed)
            taker->m_fixedPass = pass;
        const QDeadlineTimer* outer = std::exchange(shareEnd, &until);
        taker->m_run(); // which may delete it
        shareEnd = outer;
    }

    // A share of what is left until `end` for the front of the line.
    void Share(std::deque<TurnTaker*>& line, const QDeadlineTimer& end, size_t among)
    {
        const qint64 share = end.remainingTimeNSecs() / qint64(std::max<size_t>(among, 1));
        Share(line, In(std::max(kLeastShareNs, share)));
    }

    void Run()
    {
        if (running)
            return;
        running = true;
        QDeadlineTimer passEnd = PassEnd();
        // Work that runs on its own (on a timer) asked lately: half of the
        // pass is left for it.
        if (ownPass != 0 && pass - ownPass <= kRecentPasses)
            passEnd = std::min(passEnd, QDeadlineTimer::addNSecs(end, -qint64(SlicedWork::kTurnMs) * 500000));
        // The fixed parts, each once; one that went on in the round after its
        // part of the last pass has it again first.
        for (auto it = round.begin(); it != round.end();) {
            if ((*it)->m_fixed && (*it)->m_fixedPass != pass) {
                if (size_t(round.end() - it) <= Served())
                    --served;
                fixed.push_back(*it);
                it = round.erase(it);
            } else {
                ++it;
            }
        }
        for (size_t n = fixed.size(); n > 0 && !fixed.empty(); --n)
            Share(fixed, In(qint64(TurnTaker::kFixedPartUs) * 1000));
        // Rested ones, with half of what is left while the round waits (all
        // of it when nobody does), then the round; each line has one share at
        // least, however the budget went.
        const QDeadlineTimer restedEnd = round.empty() ? passEnd : In(passEnd.remainingTimeNSecs() / 2);
        bool restedOnce = true, roundOnce = true;
        for (;;) {
            if (!rested.empty()
                && (restedOnce || !restedEnd.hasExpired() || (round.empty() && !passEnd.hasExpired()))) {
                Share(rested, round.empty() ? passEnd : restedEnd, rested.size());
                restedOnce = false;
            } else if (!round.empty() && (roundOnce || !passEnd.hasExpired())) {
                Share(round, passEnd, round.size());
                roundOnce = false;
            } else {
                break;
            }
        }
        running = false;
        Schedule();
    }
};

TurnTaker::TurnTaker(std::function<void()> run, Part part)
    : m_run(std::move(run))
    , m_fixed(part == Part::Fixed)
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
    if (round.Waiting() > 0) {
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
    return int(TurnRound::Get().Waiting());
}
