// Commands and events of the peer network and the distributed tree.
#include "Driver.h"
#include "../peers/helper_wirefixtures.h"
#include "peers/DNetManager.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QTcpSocket>
#include <QtEndian>
#include <map>

namespace {

QString Text(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

void RegisterSendCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("send"), QStringLiteral("send <user> <code> [text...]"),
        QStringLiteral("Sends a message of that code, with the text as one string field when given."), 2,
        [](const QStringList& args) {
            MemStream m = EncodeCodeOnly(args[1].toUInt());
            if (args.size() > 2)
                m.WriteString(Rest(args, 2));
            peerMessenger->SendMessage(args[0], m);
        });
    driver.AddCommand(QStringLiteral("user-info"), QStringLiteral("user-info <user>"),
        QStringLiteral("Asks the user for its information."), 1,
        [](const QStringList& args) { peerMessenger->GetUserInfo(args[0]); });
    driver.AddCommand(QStringLiteral("send-user-info"),
        QStringLiteral("send-user-info <user> <slots> <queued> <free 0|1> [description...]"),
        QStringLiteral("Sends a user-information reply."), 4, [](const QStringList& args) {
            UserInfoMessage info;
            info.uploadSlots = args[1].toInt();
            info.queuedUploads = args[2].toInt();
            info.freeToUpload = args[3] == QLatin1String("1");
            info.description = Rest(args, 4);
            MemStream m = EncodeUserInfo(info);
            peerMessenger->SendMessage(args[0], m);
        });
    driver.AddCommand(QStringLiteral("get-shares"), QStringLiteral("get-shares <user>"),
        QStringLiteral("Asks the user for its share list."), 1,
        [](const QStringList& args) { peerMessenger->GetUserSharedFiles(args[0]); });
    driver.AddCommand(QStringLiteral("folder-request"),
        QStringLiteral("folder-request <user> <request> <folder...>"),
        QStringLiteral("Asks the user for the files of one folder."), 3, [](const QStringList& args) {
            MemStream m = EncodeFolderRequest(args[1].toUInt(), Rest(args, 2));
            peerMessenger->SendMessage(args[0], m);
        });
    driver.AddCommand(QStringLiteral("send-search-result"),
        QStringLiteral("send-search-result <user> <ticket> <size> <path...>"),
        QStringLiteral("Sends a one-file search reply (the path uses \"\\\")."), 4,
        [](const QStringList& args) {
            SearchReply reply;
            reply.user = settings.GetStd("username");
            reply.ticket = args[1].toUInt();
            FileInfo file;
            file.name = Rest(args, 3).toStdString();
            file.size = args[2].toLongLong();
            reply.files.push_back(file);
            reply.freeSlot = true;
            MemStream m = EncodeSearchReply(reply);
            peerMessenger->SendMessageToUser(args[0], m);
        });
    driver.AddCommand(QStringLiteral("send-repeated-reply"),
        QStringLiteral("send-repeated-reply <user> <ticket> <name-bytes> <repeats>"),
        QStringLiteral("Sends a search reply of one record with a name of that many bytes, then that many "
                       "records of a single 0 byte (each repeating the one before)."),
        4, [](const QStringList& args) {
            MemStream m(RepeatedRecordReply(args[2].toUInt(), args[3].toUInt(), args[1].toUInt()));
            peerMessenger->SendMessageToUser(args[0], m);
        });
    driver.AddCommand(QStringLiteral("transfer-request"),
        QStringLiteral("transfer-request <user> <size> <file...>"),
        QStringLiteral("Offers an upload; prints \"transfer-req <number>\"."), 3,
        [](const QStringList& args) {
            const uint req = peerMessenger->RequestUpload(args[0], Rest(args, 2), args[1].toLongLong());
            Driver::Print(QStringLiteral("transfer-req %1").arg(req));
        });
    driver.AddCommand(QStringLiteral("accept-transfer"),
        QStringLiteral("accept-transfer <user> <req> [size]"), QStringLiteral("Accepts a transfer request."),
        2, [](const QStringList& args) {
            peerMessenger->AcceptTransferRequest(
                args[0], args[1].toUInt(), args.size() > 2, args.size() > 2 ? args[2].toLongLong() : 0);
        });
    driver.AddCommand(QStringLiteral("deny-transfer"),
        QStringLiteral("deny-transfer <user> <req> <reason...>"),
        QStringLiteral("Refuses a transfer request."), 3, [](const QStringList& args) {
            peerMessenger->DenyTransferRequest(args[0], args[1].toUInt(), Rest(args, 2));
        });
    driver.AddCommand(QStringLiteral("queue-download"), QStringLiteral("queue-download <user> <path...>"),
        QStringLiteral("Asks the user to queue an upload of its file to us."), 2,
        [](const QStringList& args) { peerMessenger->QueueDownload(args[0], Rest(args, 1).toStdString()); });
    driver.AddCommand(QStringLiteral("queue-upload"), QStringLiteral("queue-upload <user> <size> <file...>"),
        QStringLiteral("Offers to push one of our files to the user."), 3, [](const QStringList& args) {
            peerMessenger->QueueUpload(args[0], Rest(args, 2), args[1].toLongLong());
        });
    driver.AddCommand(QStringLiteral("place-in-line"),
        QStringLiteral("place-in-line <user> <place> <file...>"),
        QStringLiteral("Tells the user its place in our upload queue."), 3, [](const QStringList& args) {
            peerMessenger->SendUploadPlaceInLine(args[0], Rest(args, 2), args[1].toInt());
        });
    driver.AddCommand(QStringLiteral("deny-upload"), QStringLiteral("deny-upload <user> <file> <reason...>"),
        QStringLiteral("Refuses to upload the file to the user."), 3,
        [](const QStringList& args) { peerMessenger->DenyUpload(args[0], args[1], Rest(args, 2)); });
}

void RegisterStateCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("connections"), QStringLiteral("connections [user]"),
        QStringLiteral("Prints \"connections <all> <pending> <obfuscated> [<user> open|none <unsent>]\"."), 0,
        [](const QStringList& args) {
            QString line = QStringLiteral("connections %1 %2 %3")
                               .arg(peerMessenger->ConnectionCount())
                               .arg(peerMessenger->PendingConnectionCount())
                               .arg(peerMessenger->ObfuscatedConnectionCount());
            if (!args.isEmpty())
                line += QStringLiteral(" %1 %2 %3")
                            .arg(args[0], peerMessenger->HasOpenMessageConnection(args[0]) ? "open" : "none")
                            .arg(peerMessenger->UnsentMessageCount(args[0]));
            Driver::Print(line);
        });
    driver.AddCommand(QStringLiteral("expire"), QStringLiteral("expire [seconds-ahead]"),
        QStringLiteral("Runs the 30-second expiry as if that much time had passed."), 0,
        [](const QStringList& args) {
            const qint64 now
                = QDateTime::currentSecsSinceEpoch() + (args.isEmpty() ? 0 : args[0].toLongLong());
            peerMessenger->ExpireStale(now);
            dnetManager->CheckParent(now);
        });
    driver.AddCommand(QStringLiteral("tree"), QStringLiteral("tree"),
        QStringLiteral("Prints \"tree <parent|-> <level> <root> <children,...|->\"."), 0,
        [](const QStringList&) {
            const QStringList children = dnetManager->Children();
            Driver::Print(
                QStringLiteral("tree %1 %2 %3 %4")
                    .arg(dnetManager->HasParent() ? dnetManager->ParentUser() : QStringLiteral("-"))
                    .arg(dnetManager->Level())
                    .arg(dnetManager->Root(), children.isEmpty() ? QStringLiteral("-") : children.join(',')));
        });
}

// With --raw-files the driver plays the transfer engine's part of a file
// connection: the one who asked writes the 4-byte request number, the other
// side reports it.
void RegisterRawFiles(Driver& driver)
{
    static std::map<QString, quint32> pending; // user -> request number to write
    driver.AddCommand(QStringLiteral("file-connect"), QStringLiteral("file-connect <user> <req>"),
        QStringLiteral("(--raw-files) Opens a file connection and writes the request number on it."), 2,
        [](const QStringList& args) {
            pending[args[0]] = args[1].toUInt();
            peerMessenger->RequestFileConnectionToUser(args[0]);
        });
    QObject::connect(
        peerMessenger, &PeerMessenger::FileConnectionAccepted, [](QString user, QTcpSocket* socket) {
            Driver::Print(QStringLiteral("file-connection-accepted ") + user);
            auto it = pending.find(user);
            if (it != pending.end()) {
                char bytes[4];
                qToLittleEndian<quint32>(it->second, bytes);
                socket->write(bytes, 4);
                socket->flush();
                pending.erase(it);
            }
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        });
    QObject::connect(peerMessenger, &PeerMessenger::FileConnectionRequested,
        [](QString user, QTcpSocket* socket, uint req) {
            Driver::Print(QStringLiteral("file-connection-requested %1 %2 %3")
                              .arg(user)
                              .arg(req)
                              .arg(socket->bytesAvailable()));
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        });
}

void ConnectPeerEvents()
{
    PeerMessenger* pm = peerMessenger;
    QObject::connect(pm, &PeerMessenger::MessageReceived, [](QString user, quint32 code, qint64 length) {
        Driver::Print(QStringLiteral("message-from %1 %2 %3").arg(user).arg(code).arg(length));
    });
    QObject::connect(pm, &PeerMessenger::ConnectionToUserFailed, [](QString user, QString type) {
        Driver::Print(QStringLiteral("connection-failed %1 %2").arg(user, type));
    });
    QObject::connect(pm, &PeerMessenger::UserInfoRequested,
        [](QString user) { Driver::Print(QStringLiteral("user-info-requested ") + user); });
    QObject::connect(pm, &PeerMessenger::UserInfoReceived,
        [](QString user, QString description, bool hasPicture, char*, int pictureLength, int uploadSlots,
            int queued, bool free) {
            Driver::Print(QStringLiteral("user-info %1 %2 %3 %4 %5 %6")
                              .arg(user)
                              .arg(uploadSlots)
                              .arg(queued)
                              .arg(free ? 1 : 0)
                              .arg(hasPicture ? pictureLength : -1)
                              .arg(description));
        });
    QObject::connect(
        pm, &PeerMessenger::UserShare, [](QString user, FileInfoMap& share, AttributeTranslationTable&) {
            size_t files = 0;
            for (const auto& [folder, set] : share)
                files += set.size();
            Driver::Print(QStringLiteral("user-share %1 %2 %3").arg(user).arg(share.size()).arg(files));
        });
    QObject::connect(
        pm, &PeerMessenger::SharedFilesInFolderRequested, [](QString user, quint32 request, QString folder) {
            Driver::Print(QStringLiteral("folder-requested %1 %2 %3").arg(user).arg(request).arg(folder));
        });
    QObject::connect(pm, &PeerMessenger::SearchResults, [](ItemPtr results) {
        ItemPtr request = results["search_request"];
        const QString user = results["user"].AsString();
        const ItemSet files = results.GetItems("search_result");
        Driver::Print(
            QStringLiteral("search-results %1 %2 %3").arg(request.AsString(), user).arg(files.Size()));
        for (ItemPtr file : files) {
            const QString folder = file["search_result_file_folder"].AsString();
            const QString name = file["search_result_file_name"].AsString();
            const QString path = folder.isEmpty() ? name : folder + QLatin1Char('\\') + name;
            Driver::Print(QStringLiteral("search-result %1 %2 %3 %4")
                              .arg(request.AsString(), user, file["file_size"].AsString(), path));
        }
    });
    QObject::connect(pm, &PeerMessenger::FileTransferRequested,
        [](QString user, int direction, uint req, std::string file, qint64 size) {
            Driver::Print(QStringLiteral("transfer-requested %1 %2 %3 %4 %5")
                              .arg(user)
                              .arg(direction)
                              .arg(req)
                              .arg(size)
                              .arg(Text(file)));
        });
    QObject::connect(pm, &PeerMessenger::FileTransferResponse,
        [](QString user, uint req, bool accepted, bool hasSize, qint64 size, QString reason) {
            Driver::Print(QStringLiteral("transfer-response %1 %2 %3 %4 %5 %6")
                              .arg(user)
                              .arg(req)
                              .arg(accepted ? 1 : 0)
                              .arg(hasSize ? 1 : 0)
                              .arg(size)
                              .arg(reason));
        });
    QObject::connect(pm, &PeerMessenger::QueueUploadRequested, [](QString user, QString file) {
        Driver::Print(QStringLiteral("queue-upload-requested %1 %2").arg(user, file));
    });
    QObject::connect(
        pm, &PeerMessenger::QueueDownloadRequested, [](QString user, std::string path, qint64 size) {
            Driver::Print(
                QStringLiteral("queue-download-requested %1 %2 %3").arg(user).arg(size).arg(Text(path)));
        });
    QObject::connect(pm, &PeerMessenger::UploadPlaceInLineRequested, [](QString user, QString file) {
        Driver::Print(QStringLiteral("place-in-line-requested %1 %2").arg(user, file));
    });
    QObject::connect(pm, &PeerMessenger::DownloadPlaceInLine, [](QString user, std::string path, int place) {
        Driver::Print(QStringLiteral("place-in-line %1 %2 %3").arg(user).arg(place).arg(Text(path)));
    });
    QObject::connect(pm, &PeerMessenger::UploadDenied, [](QString user, std::string path, QString reason) {
        Driver::Print(QStringLiteral("upload-denied %1 %2 : %3").arg(user, Text(path), reason));
    });
    QObject::connect(pm, &PeerMessenger::UploadFailed, [](QString user, std::string path) {
        Driver::Print(QStringLiteral("upload-failed %1 %2").arg(user, Text(path)));
    });

    DNetManager* dn = dnetManager;
    QObject::connect(dn, &DNetManager::DNetSearchRequest, [](QString user, quint32 ticket, QString query) {
        Driver::Print(QStringLiteral("dnet-search %1 %2 %3").arg(user).arg(ticket).arg(query));
    });
    QObject::connect(dn, &DNetManager::ParentAdopted,
        [](QString user) { Driver::Print(QStringLiteral("tree-parent ") + user); });
    QObject::connect(dn, &DNetManager::ParentLost,
        [](QString user) { Driver::Print(QStringLiteral("tree-parent-lost ") + user); });
    QObject::connect(dn, &DNetManager::ChildAdded,
        [](QString user) { Driver::Print(QStringLiteral("tree-child ") + user); });
    QObject::connect(dn, &DNetManager::ChildRemoved,
        [](QString user) { Driver::Print(QStringLiteral("tree-child-gone ") + user); });
}

} // namespace

void RegisterPeerCommands(Driver& driver)
{
    RegisterSendCommands(driver);
    RegisterStateCommands(driver);
    if (driver.options.rawFiles)
        RegisterRawFiles(driver);
    ConnectPeerEvents();
}
