#pragma once
// The users the server is asked to watch again after a login. A client that
// tracks thousands of users (chats, the user list, uploads' peers) would
// build and log every request in the one event of the login's answer, so
// they go a slice at a time in turn with other work; the first few at once,
// so a handful go out before anything sent after them. Each user is looked
// at again when its turn comes (one untracked meanwhile is not asked for).
// The rest is dropped with the connection; the next login asks again.
#include "store/TurnTaker.h"
#include <QString>
#include <functional>
#include <vector>

class LoginWatches {
public:
    // ask(user) sends the request for a user still tracked when its turn comes.
    explicit LoginWatches(std::function<void(const QString&)> ask);

    // Replaces what was left with these users and asks for the first few of
    // them (SlicedWork::kItemsAtOnce); the others in later turns.
    void Start(std::vector<QString> users);
    void Stop();
    bool Pending() const { return m_next < m_users.size(); }

private:
    void Run();

    std::function<void(const QString&)> m_ask;
    std::vector<QString> m_users;
    size_t m_next = 0;
    TurnTaker m_turn;
};
