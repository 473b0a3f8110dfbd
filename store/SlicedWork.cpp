#include "SlicedWork.h"
#include "TurnTaker.h"

QDeadlineTimer SlicedWork::Turn()
{
    return TurnTaker::Budget();
}

SlicedWork& SlicedWork::Then(std::function<size_t()> count, std::function<void(size_t)> each)
{
    m_steps.push_back({ std::move(count), std::move(each) });
    return *this;
}

SlicedWork& SlicedWork::Then(size_t count, std::function<void(size_t)> each)
{
    return Then([count] { return count; }, std::move(each));
}

SlicedWork& SlicedWork::Then(std::function<void()> once)
{
    return Then(1, [once = std::move(once)](size_t) { once(); });
}

SlicedWork& SlicedWork::EachRun(std::function<void()> refresh)
{
    m_refresh = std::move(refresh);
    return *this;
}

bool SlicedWork::Run(const QDeadlineTimer& until)
{
    if (m_refresh && !Done())
        m_refresh();
    int done = 0;
    bool late = false;
    while (m_step < m_steps.size() && !late) {
        if (!m_counted) {
            m_count = m_steps[m_step].count();
            m_counted = true;
            m_next = 0;
        }
        while (m_next < m_count && !late) {
            m_steps[m_step].each(m_next++);
            late = ++done >= kItemsAtOnce && until.hasExpired();
        }
        if (m_next == m_count) {
            ++m_step;
            m_counted = false;
        }
    }
    return Done();
}
