// Commands and events of room chat and the own status (private messages are
// the user commands' "message" and "private-message").
#include "Driver.h"
#include "server/Server.h"
#include "store/Data.h"

namespace {

// Prints "joined <room>" and "left <room>" as the server confirms them.
class RoomWatch : public DataHandler {
public:
    RoomWatch()
    {
        Type* room = d.GetType("room");
        Type* inRoom = d.GetType("in_room");
        d.AddConnectionEventHandler(room, inRoom, Register(new FunctionEventHandler<ConnectionInfo&, void (*)(ConnectionInfo&)>(&Joined)));
        auto* left = new PathNode(&d, "room");
        new PathNode(left, "in_room", PathNotConnected);
        d.AddPathEventHandler(left, Register(new FunctionEventHandler<ItemPtr, void (*)(ItemPtr)>(&Left)));
    }

private:
    static void Joined(ConnectionInfo& info)
    {
        const ItemPtr room = info.first.GetType() == d.GetType("room") ? info.first : info.second;
        Driver::Print(QStringLiteral("joined ") + room.AsString());
    }
    static void Left(ItemPtr room) { Driver::Print(QStringLiteral("left ") + room.AsString()); }
};

} // namespace

void RegisterChatCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("join"), QStringLiteral("join <room> [private]"),
        QStringLiteral("Enters (or creates) a room; prints \"joined <room>\" when the server confirms."), 1,
        [](const QStringList& args) {
            gp_server->EnterRoom(args[0], args.size() > 1 && args[1] == QLatin1String("private"));
        });
    driver.AddCommand(QStringLiteral("leave"), QStringLiteral("leave <room>"),
        QStringLiteral("Leaves a room; prints \"left <room>\" when the server confirms."), 1,
        [](const QStringList& args) { gp_server->LeaveRoom(args[0]); });
    driver.AddCommand(QStringLiteral("say"), QStringLiteral("say <room> <text...>"),
        QStringLiteral("Says a line in a room."), 2,
        [](const QStringList& args) { gp_server->SendRoomChat(args[0], Rest(args, 1)); });
    driver.AddCommand(QStringLiteral("ticker"), QStringLiteral("ticker <room> [text...]"),
        QStringLiteral("Sets the own ticker of a room; without a text, removes it."), 1,
        [](const QStringList& args) { gp_server->SetRoomTicker(args[0], Rest(args, 1)); });
    driver.AddCommand(QStringLiteral("add-member"), QStringLiteral("add-member <room> <user>"),
        QStringLiteral("Adds a user to an own private room."), 2,
        [](const QStringList& args) { gp_server->AddPrivateRoomMember(args[0], args[1]); });
    driver.AddCommand(QStringLiteral("remove-member"), QStringLiteral("remove-member <room> <user>"),
        QStringLiteral("Removes a user from an own private room (and so from the room)."), 2,
        [](const QStringList& args) { gp_server->RemovePrivateRoomMember(args[0], args[1]); });
    driver.AddCommand(QStringLiteral("away"), QStringLiteral("away"), QStringLiteral("Sets the own status to away."), 0,
        [](const QStringList&) { gp_server->SetAvailabilityStatus(false); });
    driver.AddCommand(QStringLiteral("available"), QStringLiteral("available"),
        QStringLiteral("Sets the own status to available."), 0,
        [](const QStringList&) { gp_server->SetAvailabilityStatus(true); });

    new RoomWatch; // lives as long as the driver
    QObject::connect(gp_server, &Server::RoomChat, [](QString room, QString user, QString text) {
        Driver::Print(QStringLiteral("room-chat %1 %2 %3").arg(room, user, text));
    });
}
