#pragma once
// Work done a slice at a time on the GUI thread, so that one big message from
// outside never holds the event loop: a list of steps, each a loop over items
// counted when the step is reached. Run() goes on until the deadline has
// passed, but does at least kItemsAtOnce items (so every call makes progress,
// and a small piece of work is done in one call), and says whether all is
// done; the next call goes on where the last one stopped.
//
// Steps see the store as it is when they run: items made in one turn may be
// gone in the next, so steps keep names and look their items up again.
//
// kTurnMs is the one budget of a pass of the event loop on the GUI thread,
// for everything done a slice at a time together (frames from the server and
// from every peer, a merge of the share index, rows built for a page): Turn()
// hands out what is left of it in this pass (at least a sliver, so every
// call makes progress), and work that stops when it has passed goes on in a
// later pass. Work that waits for its share in turn with the connections
// takes a place in the round of TurnTaker.h; see there how it is shared.
#include <QDeadlineTimer>
#include <functional>
#include <vector>

class SlicedWork {
public:
    static constexpr int kItemsAtOnce = 64;
    static constexpr int kTurnMs = 10;
    // The most frames of one connection (the server's, a peer's) handled in
    // one share of a pass.
    static constexpr int kFramesPerTurn = 1000;

    // The end of what the caller may spend of this pass's budget.
    static QDeadlineTimer Turn();

    // A step over the items counted by count() when it is reached; each(i)
    // handles item i.
    SlicedWork& Then(std::function<size_t()> count, std::function<void(size_t)> each);
    SlicedWork& Then(size_t count, std::function<void(size_t)> each);
    // A step of one item.
    SlicedWork& Then(std::function<void()> once);
    // Runs first in every call of Run(), to look up again what the steps use.
    SlicedWork& EachRun(std::function<void()> refresh);

    // True once every step is done.
    bool Run(const QDeadlineTimer& until);
    bool Done() const { return m_step >= m_steps.size(); }

private:
    struct Step {
        std::function<size_t()> count;
        std::function<void(size_t)> each;
    };
    std::function<void()> m_refresh;
    std::vector<Step> m_steps;
    size_t m_step = 0;
    size_t m_next = 0;
    size_t m_count = 0;
    bool m_counted = false;
};
