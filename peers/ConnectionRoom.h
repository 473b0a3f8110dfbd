#pragma once
// Who is counted where in the messenger's table of peer connections, and
// who makes room: the budget (ConnectionBudget.h), the connections accepted
// from each address, and the order in which connections are closed for a
// newcomer or for bytes waiting beyond the bound on all of them. It decides
// from what it is shown of each connection (a Seat) and touches no socket.
//
// Peers are counted by address: IPv4, the only addresses the network hands
// out (the listener takes nothing else; one mapped into IPv6 counts as the
// IPv4 address it is).
//
// A newcomer (Admit) is weighed in this order: its address first, which may
// hold at most Budget().perAddress (one of its own connections makes room,
// else it is refused, unless some of them are too young to judge: accepted
// less than kEvictGrace seconds of the client's reading ago, and silent or
// busy with their first requests); then the
// accepted connections that have not sent their init, at most
// kMaxPendingConnections; then the whole table. Room is made by closing, in
// this order:
// - the oldest connection that has not sent its init, once it had
//   kEvictGrace seconds of the client's reading (ReadingClock.h: a pause of
//   the client's own is not the peer's; and the messenger reads the inits
//   waiting before it asks);
// - a connection that does not read: bytes wait for it and it has taken none
//   for kNotReadingMs; the one holding most first;
// - the messaging connection idle longest: nothing under way either way (a
//   peer waiting for the share list being built for it is not idle).
// When none of them is there, the newcomer waits (Room::Wait): the listener
// looks again kRetryMs later, as do outgoing attempts.
//
// Past the bound on bytes waiting for all peers together, Overflow names the
// connections to close: those that do not read first, the one holding most
// first; then those that have taken nothing for longest; last the one just
// sent what went past the bound (it had no time to read it), until what they
// hold covers the excess.
#include "ConnectionBudget.h"
#include <QHash>
#include <QHostAddress>
#include <vector>

class ConnectionRoom {
public:
    // How soon a newcomer that found no room looks again, in milliseconds.
    static constexpr int kRetryMs = 100;
    // Bytes that wait this long with none taken mark a peer that does not
    // read, in milliseconds.
    static constexpr qint64 kNotReadingMs = 5000;

    // One connection as the room sees it.
    struct Seat {
        const void* id = nullptr;
        bool outgoing = false;
        QHostAddress address; // its key, for an accepted one
        bool unknown = false; // accepted, and its init has not come
        bool idle = false; // a messaging connection with nothing under way
        qint64 ageMs = 0; // an accepted one: how long the client has read it (ReadingClock.h)
        qint64 lastActivity = 0;
        qint64 waiting = 0; // bytes waiting to be sent to it
        qint64 unsent = 0; // of those, what closing it frees (a shared buffer
                           // only when no other connection sends it)
        qint64 stalledMs = 0; // how long bytes have waited with none taken
    };
    enum class Room { Made, Wait, Refuse };
    struct Admission {
        Room room = Room::Made;
        std::vector<const void*> close; // to close first, in this order
    };

    explicit ConnectionRoom(const ConnectionBudget& budget);
    const ConnectionBudget& Budget() const { return m_budget; }
    static QHostAddress AddressKey(const QHostAddress& address);

    // The accepted connections counted by address (its key).
    void Count(const QHostAddress& key);
    void Uncount(const QHostAddress& key);
    int From(const QHostAddress& key) const { return m_perAddress.value(key); }

    // One more connection fits with nobody closed: `held` in the table,
    // `unknown` of them accepted and not introduced yet.
    bool Fits(qsizetype held, qsizetype unknown, const QHostAddress* address, bool incoming) const;
    // What one more connection takes: an accepted one from `address` (null
    // while its address is not known yet: what may be closed is not closed
    // then), or an outgoing one. The seats in order of creation.
    Admission Admit(const std::vector<Seat>& seats, const QHostAddress* address, bool incoming) const;
    // The connections to close so that `excess` bytes are freed; `spare`
    // (the one just sent a reply, which had no time to read it) last.
    static std::vector<const void*> Overflow(const std::vector<Seat>& seats, qint64 excess, const void* spare);
    static bool NotReading(const Seat& seat) { return seat.waiting > 0 && seat.stalledMs >= kNotReadingMs; }

private:
    // The next to close among the seats (of the address, when given) not
    // closed already; null when none may go. young: one that has not sent
    // its init, or one busy with its first requests, was spared for its age.
    const Seat* Victim(const std::vector<Seat>& seats, const QHostAddress* address, bool unknownOnly,
        const std::vector<const void*>& closed, bool& young) const;

    ConnectionBudget m_budget;
    QHash<QHostAddress, int> m_perAddress;
};
