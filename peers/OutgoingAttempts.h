#pragma once
// The queue of outgoing sockets to open: at most kMaxConnecting connect at
// once, in the order they were asked for, the user's own before those the
// server asked for (code 18), so a flood of requests from others never holds
// up the user's own; the rest wait their turn. Of those the server asks for,
// at most kMaxBrokeredPerUser for one user and kMaxWaitingConnects in all
// wait or connect; any more are refused. An attempt that has waited
// kRequestTimeout seconds is given up (Expire). It keeps no socket: the
// messenger opens one for each attempt StartNext hands out, and says when
// that socket has Settled.
//
// Connecting() is the number of sockets really connecting: an attempt counts
// from the moment its socket exists (StartNext) until that very socket has
// Settled (came up, failed, timed out or was closed), and one settled the
// other way while it waited opens no socket and is not counted at all.
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <vector>

class OutgoingAttempts {
public:
    // One socket to open: one way of our own attempt (the request's token),
    // or one the server asked for (brokered).
    struct Attempt {
        quint32 token = 0;
        QString user;
        QString type;
        quint32 ip = 0;
        quint16 port = 0;
        bool obfuscated = false;
        bool brokered = false;
        qint64 queued = 0; // seconds since the epoch
    };

    // Why a connection the server asks for on behalf of the user would be
    // refused; empty when it may wait its turn.
    QString Refusal(const QString& user) const;
    void Queue(Attempt attempt);
    // An attempt waits and fewer than kMaxConnecting sockets are connecting.
    bool Ready() const;
    // Takes the waiting attempts in turn and hands each to open, until one
    // gets a socket: open returns that socket's serial (never 0), counted as
    // connecting from now, or 0 for an attempt that was settled the other way
    // while it waited, which is dropped. Only when Ready.
    void StartNext(const std::function<quint64(const Attempt&)>& open);
    // The socket of that serial came up, failed or was closed; a serial not
    // (or no longer) connecting changes nothing.
    void Settled(quint64 serial);
    // The attempts that waited too long, taken out of the queue.
    std::vector<Attempt> Expire(qint64 now);

    int Connecting() const { return int(m_connecting.size()); }
    int Waiting() const { return int(m_waiting.size()); }

private:
    void Release(const Attempt& attempt);

    std::deque<Attempt> m_waiting;
    std::map<quint64, Attempt> m_connecting; // by the serial of the socket
    std::map<QString, int> m_brokeredPerUser; // connecting or waiting
};
