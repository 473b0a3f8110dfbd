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
// kTurnMs is the one budget of a turn on the GUI thread: every piece of work
// done a slice at a time (frames from the server or a peer, a merge of the
// share index, rows built for a page) stops starting more once a turn has
// run that long, and goes on in a later turn.
#include <QDeadlineTimer>
#include <functional>
#include <vector>

class SlicedWork {
public:
    static constexpr int kItemsAtOnce = 64;
    static constexpr int kTurnMs = 10;

    // The end of a turn begun now.
    static QDeadlineTimer Turn() { return QDeadlineTimer(kTurnMs); }

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
