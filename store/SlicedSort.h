#pragma once
// A stable sort done a slice at a time, so that 100,000 items are put in
// order without holding the event loop: runs of kRun items are sorted at
// once, then merged in pairs an item at a time until one run is left. A pair
// already in order is copied rather than merged, so items that come in order
// cost a copy per level and one comparison per pair.
#include <QDeadlineTimer>
#include <algorithm>
#include <vector>

template <class T, class Less>
class SlicedSort {
public:
    static constexpr size_t kRun = 256;
    static constexpr size_t kItemsAtOnce = 256;

    SlicedSort(std::vector<T> items, Less less)
        : m_items(std::move(items))
        , m_less(std::move(less))
    {
    }

    // Goes on until the deadline has passed, a run or kItemsAtOnce items at
    // least (so a run's worth is put in order in one call), and says whether
    // the items are in order; the next call goes on where this one stopped.
    bool Run(const QDeadlineTimer& until)
    {
        const size_t n = m_items.size();
        while (m_width == 0) {
            if (m_next >= n) {
                m_width = kRun;
                m_next = 0;
                break;
            }
            const size_t end = std::min(n, m_next + kRun);
            std::stable_sort(m_items.begin() + m_next, m_items.begin() + end, m_less);
            m_next = end;
            if (m_next < n && until.hasExpired())
                return false;
        }
        size_t moved = 0;
        while (m_width < n) {
            if (!m_merging) {
                if (m_next >= n) {
                    // A level done: its runs are twice as long.
                    m_items.swap(m_merged);
                    m_width *= 2;
                    m_next = 0;
                    continue;
                }
                m_merged.resize(n);
                m_left = m_next;
                m_leftEnd = std::min(n, m_next + m_width);
                m_right = m_leftEnd;
                m_rightEnd = std::min(n, m_leftEnd + m_width);
                m_out = m_next;
                m_next = m_rightEnd;
                m_merging = m_right < m_rightEnd && m_less(m_items[m_right], m_items[m_right - 1]);
            }
            // Equal items keep their order: the left one goes first.
            while (m_merging && m_left < m_leftEnd && m_right < m_rightEnd) {
                if (m_less(m_items[m_right], m_items[m_left]))
                    m_merged[m_out++] = m_items[m_right++];
                else
                    m_merged[m_out++] = m_items[m_left++];
                if (++moved % kItemsAtOnce == 0 && until.hasExpired())
                    return false;
            }
            m_out = std::copy(m_items.begin() + m_left, m_items.begin() + m_leftEnd, m_merged.begin() + m_out)
                - m_merged.begin();
            std::copy(m_items.begin() + m_right, m_items.begin() + m_rightEnd, m_merged.begin() + m_out);
            moved += m_rightEnd - m_left;
            m_left = m_leftEnd;
            m_right = m_rightEnd;
            m_merging = false;
            if (m_next < n && moved >= kItemsAtOnce && until.hasExpired())
                return false;
        }
        return true;
    }

    // The items, in order once Run() has said so.
    const std::vector<T>& Items() const { return m_items; }

private:
    std::vector<T> m_items;
    std::vector<T> m_merged;
    Less m_less;
    size_t m_width = 0; // the length of the runs in order; 0 while the first are sorted
    size_t m_next = 0; // where the next run, or pair of runs, begins
    // The pair of runs being merged: the next item of each, their ends, and
    // the next place in the merged items.
    size_t m_left = 0;
    size_t m_leftEnd = 0;
    size_t m_right = 0;
    size_t m_rightEnd = 0;
    size_t m_out = 0;
    bool m_merging = false;
};
