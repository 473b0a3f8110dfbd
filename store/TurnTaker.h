#pragma once
// The one budget of a pass of the GUI thread's event loop, and the round in
// which the work waiting for it takes its shares.
//
// A pass is what the event loop does between two looks for new events (the
// dispatcher's aboutToBlock and awake). Its budget, SlicedWork::kTurnMs,
// starts with the first piece of work that asks for it (Budget()) and is
// shared by everything done a slice at a time in that pass: frames from the
// server and from every peer, and every sliced piece of work. Budget() hands
// out what is left of it, never less than kLeastShareUs, so every caller
// makes some progress even in a pass that others have used up.
//
// Work that waits for its share (a connection with frames waiting, say)
// takes a place in the round with Wake(). Once a pass, the round hands each
// one in turn a share of what is left (what is left divided by those
// waiting), until the budget is spent; one with more to do wakes again and
// goes to the end. The ones that got nothing in a pass come first in the
// next, before those that had their share. Outside a share, Budget() is
// what is left of the pass; during one, the end of that share.
//
// Three lines wait, served in this order in every pass:
// - takers with a fixed part (the server's connection): kFixedPartUs each,
//   whatever the crowd, once a pass; more to do after it, and they wait in
//   the round like the others;
// - rested ones: work that comes after a rest of a few passes (a peer's one
//   request among streaming peers) goes ahead of the round, in the order it
//   came, but only for half of what is left of the pass while the round
//   waits;
// - the round, with the rest of the pass.
// Each line gets at least one share in every pass, and a newcomer never goes
// ahead of one in its line that waits for a share, so however many rested
// ones arrive, every taker waiting has its share within as many passes as
// there are takers ahead of it in its line (in practice a pass or two:
// shares are small).
// Work that runs on its own (a slice on a timer of its own) and asked for a
// budget in the last few passes is left half of each pass by the round.
//
// The GUI thread only; on another thread (or with no event loop) Budget()
// is a fresh budget at each call.
#include <QDeadlineTimer>
#include <QtGlobal>
#include <functional>

class TurnTaker {
public:
    // What a caller gets at least, even from a spent budget.
    static constexpr int kLeastShareUs = 100;

    // The share of a pass that a taker with a fixed part has first.
    static constexpr int kFixedPartUs = 2500;
    enum class Part { InTurn, Fixed };

    // Runs `run` when its turn comes; run() may Wake() again.
    explicit TurnTaker(std::function<void()> run, Part part = Part::InTurn);
    ~TurnTaker();
    TurnTaker(const TurnTaker&) = delete;
    TurnTaker& operator=(const TurnTaker&) = delete;

    // Takes a place in the round, unless it has one.
    void Wake();
    // Runs now when nobody waits in the round (work that comes to an idle
    // loop is done at once), else wakes.
    void RunOrWake();
    // Leaves the round.
    void Stop();
    bool Waiting() const { return m_waiting; }

    // The end of what the caller may spend now (see above).
    static QDeadlineTimer Budget();
    // Some of the budget of this pass (or of the share under way) is left.
    static bool BudgetLeft();
    // How many take part in the round now (for tests and benchmarks).
    static int WaitingCount();

private:
    friend struct TurnRound;
    std::function<void()> m_run;
    bool m_fixed = false;
    bool m_waiting = false;
    quint64 m_fixedPass = 0; // the pass of its last fixed part
    quint64 m_sharePass = 0; // the pass of its last share (0: none yet)
};
