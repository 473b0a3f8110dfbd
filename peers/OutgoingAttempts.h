#pragma once
// The queue of outgoing sockets to open: at most kMaxConnecting connect at
// once, in the order they were asked for, the user's own before those the
// server asked for (code 18), so a flood of requests from others never holds
// up the user's own; the rest wait their turn. Of those the server asks for,
// at most kMaxBrokeredPerUser for one user and kMaxWaitingConnects in all
// wait or connect; any more are refused. An attempt that has waited
// kRequestTimeout seconds is given up (Expire). It keeps no socket: the
// messenger opens one for each attempt Start hands out and says when it has
// Settled.
#include <QString>
#include <deque>
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
    // The next attempt, counted as connecting from now (only when Ready).
    Attempt Start();
    // The socket of a started attempt came up or failed.
    void Settled(bool brokered, const QString& user);
    // The attempts that waited too long, taken out of the queue.
    std::vector<Attempt> Expire(qint64 now);

    int Connecting() const { return m_connecting; }
    int Waiting() const { return int(m_waiting.size()); }

private:
    void Release(const QString& user);

    std::deque<Attempt> m_waiting;
    int m_connecting = 0;
    std::map<QString, int> m_brokeredPerUser; // connecting or waiting
};
