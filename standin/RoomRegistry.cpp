#include "RoomRegistry.h"

QStringList Room::everyone() const
{
    QStringList users = members;
    if (!owner.isEmpty())
        users.prepend(owner);
    return users;
}

Room* RoomRegistry::find(const QString& name)
{
    auto it = m_rooms.find(name);
    return it == m_rooms.end() ? nullptr : &it->second;
}

Room& RoomRegistry::create(const QString& name, bool isPrivate, const QString& owner)
{
    Room& room = m_rooms[name];
    room.name = name;
    room.isPrivate = isPrivate;
    room.owner = isPrivate ? owner : QString();
    return room;
}

void RoomRegistry::remove(const QString& name)
{
    m_rooms.erase(name);
}

QList<Room*> RoomRegistry::all()
{
    QList<Room*> rooms;
    for (auto& [name, room] : m_rooms)
        rooms.append(&room);
    return rooms;
}

QList<Room*> RoomRegistry::presentIn(const QString& user)
{
    QList<Room*> rooms;
    for (auto& [name, room] : m_rooms) {
        if (room.present.contains(user))
            rooms.append(&room);
    }
    return rooms;
}
