#include "SlicedSweep.h"

SlicedSweep::SlicedSweep(Data* data)
    : m_data(data)
{
    m_slices.setSingleShot(true);
    m_slices.setInterval(0);
    QObject::connect(&m_slices, &QTimer::timeout, &m_slices, [this] {
        if (!RunSlice(SlicedWork::Turn()))
            m_slices.start();
    });
}

SlicedSweep::~SlicedSweep()
{
    if (m_running)
        End();
}

bool SlicedSweep::Start()
{
    if (m_running)
        return false;
    Begin();
    m_slices.start();
    return true;
}

void SlicedSweep::Begin()
{
    if (m_running)
        End();
    m_queuedMark = m_data->NewMarkEpoch();
    m_followedMark = m_data->NewMarkEpoch();
    m_firstNew = m_data->NextSerial();
    m_removing = false;
    m_type = 0;
    m_after = 0;
    m_removed = 0;
    m_running = true;
    m_data->SetSweepWatcher(this);
}

bool SlicedSweep::RunSlice(const QDeadlineTimer& until, int least)
{
    // Items may have come and gone since the last slice.
    m_atKnown = false;
    for (int done = 0; m_running;) {
        if (!m_queue.empty()) {
            Item* item = m_queue.back();
            m_queue.pop_back();
            if (m_goneFromQueue.empty() || !m_goneFromQueue.erase(item))
                Follow(item);
        } else if (!NextOfTypes()) {
            End();
            break;
        }
        // The clock is read every few steps: a step is short.
        if (++done >= least && (done - least) % 16 == 0 && until.hasExpired())
            return !m_running;
    }
    return true;
}

bool SlicedSweep::NextOfTypes()
{
    const std::vector<Type*>& types = m_data->Types();
    while (m_type < types.size()) {
        const Type* type = types[m_type];
        if (m_removing || Data::IsRoot(type)) {
            const ChunkedSet& items = type->Items();
            if (!m_atKnown) {
                m_at = items.After(m_after);
                m_atKnown = true;
            }
            // Items made during the cycle come last and stay.
            if (items.Valid(m_at) && items.At(m_at)->serial < m_firstNew) {
                Item* item = items.At(m_at);
                items.Advance(m_at);
                m_after = item->serial;
                if (!m_removing) {
                    Reach(item);
                } else if (!Marked(item)) {
                    // Its handlers may change any type.
                    m_atKnown = false;
                    ++m_removed;
                    m_data->Remove(item);
                }
                return true;
            }
        }
        ++m_type;
        m_after = 0;
        m_atKnown = false;
    }
    if (m_removing)
        return false;
    m_removing = true;
    m_type = 0;
    return true;
}

void SlicedSweep::Reach(Item* item)
{
    if (Marked(item))
        return;
    item->mark = m_queuedMark;
    m_queue.push_back(item);
}

void SlicedSweep::Follow(Item* item)
{
    item->mark = m_followedMark;
    const Type* from = item->type;
    item->connections.ForEach([&](Item* other) {
        if (!Marked(other) && Data::Leads(from, other->type))
            Reach(other);
    });
}

void SlicedSweep::Connected(Item* x, Item* y)
{
    Reach(x);
    Reach(y);
}

void SlicedSweep::Removing(Item* item)
{
    if (item->mark == m_queuedMark)
        m_goneFromQueue.insert(item);
}

void SlicedSweep::End()
{
    m_data->SetSweepWatcher(nullptr);
    Abandon();
}

void SlicedSweep::Abandon()
{
    m_running = false;
    m_slices.stop();
    m_queue.clear();
    m_goneFromQueue.clear();
}
