#include "ConnectionRoom.h"
#include "PeerCodes.h"
#include <algorithm>

ConnectionRoom::ConnectionRoom(const ConnectionBudget& budget)
    : m_budget(budget)
{
}

QHostAddress ConnectionRoom::AddressKey(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

void ConnectionRoom::Count(const QHostAddress& key)
{
    ++m_perAddress[key];
}

void ConnectionRoom::Uncount(const QHostAddress& key)
{
    auto it = m_perAddress.find(key);
    if (it != m_perAddress.end() && --it.value() <= 0)
        m_perAddress.erase(it);
}

bool ConnectionRoom::Fits(qsizetype held, qsizetype unknown, const QHostAddress* address, bool incoming) const
{
    if (!incoming)
        return held < m_budget.total;
    return held < m_budget.total && unknown < kMaxPendingConnections
        && (!address || From(*address) < m_budget.perAddress);
}

ConnectionRoom::Admission ConnectionRoom::Admit(
    const std::vector<Seat>& seats, const QHostAddress* address, bool incoming) const
{
    Admission admission;
    std::vector<const void*>& close = admission.close;
    bool young = false;
    const auto victim = [&](const QHostAddress* of, bool unknownOnly) {
        const Seat* seat = Victim(seats, of, unknownOnly, close, young);
        if (seat)
            close.push_back(seat->id);
        return seat != nullptr;
    };
    if (incoming && address) {
        // Back to the address's budget, if young ones were let in over it.
        for (int held = From(*address); held >= m_budget.perAddress; --held) {
            if (victim(address, false))
                continue;
            // Young ones that have not spoken are few (kMaxPendingConnections
            // in all): a burst of real peers behind one address is let in;
            // an address whose connections are all busy gets no more.
            if (!young) {
                admission.room = Room::Refuse;
                admission.close.clear();
                return admission;
            }
            break;
        }
    }
    const auto open = [&](bool unknownOnly) {
        return std::count_if(seats.begin(), seats.end(), [&](const Seat& s) {
            return (!unknownOnly || s.unknown) && std::find(close.begin(), close.end(), s.id) == close.end();
        });
    };
    if (incoming && open(true) >= kMaxPendingConnections && !victim(nullptr, true))
        admission.room = Room::Wait;
    for (qsizetype held = open(false); admission.room == Room::Made && held >= m_budget.total; --held) {
        if (!victim(nullptr, false))
            admission.room = Room::Wait;
    }
    if (admission.room == Room::Wait)
        admission.close.clear();
    return admission;
}

const ConnectionRoom::Seat* ConnectionRoom::Victim(const std::vector<Seat>& seats, const QHostAddress* address,
    bool unknownOnly, const std::vector<const void*>& closed, bool& young) const
{
    const Seat* hog = nullptr;
    const Seat* idlest = nullptr;
    // In order of creation: the first unknown one is the oldest.
    for (const Seat& seat : seats) {
        if ((address && (seat.outgoing || seat.address != *address))
            || std::find(closed.begin(), closed.end(), seat.id) != closed.end())
            continue;
        const bool old = seat.outgoing || seat.ageMs >= kEvictGrace * 1000;
        if (seat.unknown) {
            if (old)
                return &seat;
            young = true;
            continue;
        }
        if (unknownOnly)
            continue;
        young |= !old && !seat.idle;
        if (NotReading(seat) && (!hog || seat.unsent > hog->unsent))
            hog = &seat;
        if (seat.idle && (!idlest || seat.lastActivity < idlest->lastActivity))
            idlest = &seat;
    }
    return hog ? hog : idlest;
}

std::vector<const void*> ConnectionRoom::Overflow(const std::vector<Seat>& seats, qint64 excess, const void* spare)
{
    std::vector<const Seat*> holders;
    for (const Seat& seat : seats)
        if (seat.unsent > 0)
            holders.push_back(&seat);
    std::stable_sort(holders.begin(), holders.end(), [spare](const Seat* a, const Seat* b) {
        if ((a->id == spare) != (b->id == spare))
            return b->id == spare;
        if (NotReading(*a) != NotReading(*b))
            return NotReading(*a);
        if (NotReading(*a) || a->stalledMs == b->stalledMs)
            return a->unsent > b->unsent;
        return a->stalledMs > b->stalledMs;
    });
    std::vector<const void*> close;
    for (const Seat* seat : holders) {
        if (excess <= 0)
            break;
        close.push_back(seat->id);
        excess -= seat->unsent;
    }
    return close;
}
