#include "MemoryRelease.h"
#include <QThreadPool>
#include <ctime>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
// The time the calling thread has spent running.
qint64 ThreadRunningNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}
} // namespace

MemoryRelease::MemoryRelease(Data* data, QObject* parent, std::function<void()> release)
    : QObject(parent)
    , m_release(std::move(release))
{
    if (!m_release)
        m_release = [] {
#if defined(__GLIBC__)
            QThreadPool::globalInstance()->start([] { malloc_trim(0); });
#endif
        };
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &MemoryRelease::OnQuiet);
    m_look.setInterval(kIdleLookMs);
    connect(&m_look, &QTimer::timeout, this, &MemoryRelease::OnLook);
    Subscribe(data->itemRemoved, &MemoryRelease::OnRemoved);
}

void MemoryRelease::OnRemoved(ItemPtr)
{
    if (++m_removed == kBurst) {
        m_seen = m_removed;
        m_quiet.start();
    }
}

void MemoryRelease::OnQuiet()
{
    // Still removing: the release waits for the end.
    if (m_removed != m_seen) {
        m_seen = m_removed;
        m_quiet.start();
        return;
    }
    m_ranNs = ThreadRunningNs();
    m_look.start();
}

void MemoryRelease::OnLook()
{
    const qint64 ran = ThreadRunningNs();
    const bool idle = ran - m_ranNs <= qint64(kIdleBusyMs) * 1000000;
    m_ranNs = ran;
    if (!idle)
        return;
    // Removals during the wait belong to this release.
    m_removed = 0;
    m_look.stop();
    m_release();
}
