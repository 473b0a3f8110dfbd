#include "MemoryRelease.h"
#include <QThreadPool>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

MemoryRelease::MemoryRelease(Data* data, QObject* parent)
    : QObject(parent)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &MemoryRelease::OnQuiet);
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
    m_removed = 0;
#if defined(__GLIBC__)
    QThreadPool::globalInstance()->start([] { malloc_trim(0); });
#endif
}
