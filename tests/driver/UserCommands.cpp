// Commands and events for the users pages' tests: user information with a
// picture, private messages, and the own privileges.
#include "Driver.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include <QCryptographicHash>
#include <QFile>

void RegisterUserCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("send-user-info-picture"),
        QStringLiteral("send-user-info-picture <user> <slots> <queued> <free 0|1> <picture-file> [description...]"),
        QStringLiteral("Sends a user-information reply with the file's bytes as the picture."), 5,
        [](const QStringList& args) {
            QFile file(args[4]);
            if (!file.open(QIODevice::ReadOnly)) {
                Driver::Print(QStringLiteral("error can't read ") + args[4]);
                return;
            }
            UserInfoMessage info;
            info.uploadSlots = args[1].toInt();
            info.queuedUploads = args[2].toInt();
            info.freeToUpload = args[3] == QLatin1String("1");
            info.hasPicture = true;
            info.picture = file.readAll();
            info.description = Rest(args, 5).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
            MemStream m = EncodeUserInfo(info);
            peerMessenger->SendMessage(args[0], m);
        });
    driver.AddCommand(QStringLiteral("message"), QStringLiteral("message <user> <text...>"),
        QStringLiteral("Sends the user a private message through the server."), 2,
        [](const QStringList& args) { gp_server->SendPrivateChat(args[0], Rest(args, 1)); });
    driver.AddCommand(QStringLiteral("privileges"), QStringLiteral("privileges"),
        QStringLiteral("Asks the server for the own privileges; prints \"privileges <seconds>\"."), 0,
        [](const QStringList&) { gp_server->GetOwnPrivilegesStatus(); });

    QObject::connect(gp_server, &Server::PrivateChat, [](QString user, QString text, time_t, bool) {
        Driver::Print(QStringLiteral("private-message %1 %2").arg(user, text));
    });
    QObject::connect(gp_server, &Server::ReceivedOwnPrivilegesStatus,
        [](int seconds) { Driver::Print(QStringLiteral("privileges %1").arg(seconds)); });
    // The picture of a user-information reply, by its length and MD5.
    QObject::connect(peerMessenger, &PeerMessenger::UserInfoReceived,
        [](QString user, QString, bool hasPicture, char* picture, int length, int, int, bool) {
            if (!hasPicture || !picture)
                return;
            const QByteArray bytes = QByteArray::fromRawData(picture, length);
            Driver::Print(QStringLiteral("user-info-picture %1 %2 %3")
                              .arg(user)
                              .arg(length)
                              .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())));
        });
}
