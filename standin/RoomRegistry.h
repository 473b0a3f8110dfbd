#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <map>

// A chat room. A public room lives while someone is in it; a private room
// lives until its owner gives it up.
struct Room {
    QString name;
    bool isPrivate = false;
    QString owner;
    QStringList members; // private rooms: everyone let in besides the owner
    QStringList operators; // a subset of members
    QStringList present; // users in the room now, in joining order
    QList<QPair<QString, QString>> tickers; // (user, text) in setting order

    bool isMember(const QString& user) const { return owner == user || members.contains(user); }
    bool mayManageMembers(const QString& user) const { return owner == user || operators.contains(user); }
    // The owner and the members: whom membership news is for.
    QStringList everyone() const;
};

// The rooms by name; only data, no messages.
class RoomRegistry {
public:
    Room* find(const QString& name);
    Room& create(const QString& name, bool isPrivate, const QString& owner);
    void remove(const QString& name);
    QList<Room*> all();
    // The rooms where the user is present now.
    QList<Room*> presentIn(const QString& user);

private:
    std::map<QString, Room> m_rooms;
};
