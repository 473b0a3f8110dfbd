// Crafted share lists, for tests of the browse views: lists no real share
// would give (a folder chain thousands deep, markup and "&" in names, many
// files), answered to share-list requests or sent unasked.
#include "Driver.h"
#include "peers/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <memory>
#include <optional>

namespace {

FileInfo File(const std::string& name, qint64 size)
{
    FileInfo info;
    info.name = name;
    info.size = size;
    return info;
}

// "deep <n>": a chain of n nested folders, one file in the deepest.
// "names": names holding markup and "&". "long": a folder and a file of
// twenty thousand characters. "files <folders> <per folder>": a
// plain large share. Empty when the kind is unknown.
std::optional<FileInfoMap> Craft(const QStringList& args)
{
    FileInfoMap share;
    const QString kind = args.value(0);
    if (kind == QLatin1String("deep")) {
        const int depth = args.value(1).toInt();
        std::string path = "deep";
        for (int i = 0; i < depth; ++i) {
            if (i > 0)
                path += "\\d";
            share[path];
        }
        share[path].insert(File("bottom.txt", 6));
    } else if (kind == QLatin1String("names")) {
        share["music\\<font color=red>red"].insert(File("<i>tilted</i>.mp3", 1000));
        share["music\\a&b"].insert(File("a&b.txt", 12));
        share["music"].insert(File("<img src=x>.txt", 3));
    } else if (kind == QLatin1String("long")) {
        share["music\\" + std::string(20000, 'L')].insert(File(std::string(20000, 'l') + ".txt", 5));
    } else if (kind == QLatin1String("files")) {
        const int folders = args.value(1).toInt();
        const int perFolder = args.value(2).toInt();
        for (int f = 0; f < folders; ++f) {
            FileInfoSet& files = share["share\\artist " + std::to_string(f / 10) + "\\album " + std::to_string(f)];
            for (int i = 0; i < perFolder; ++i)
                files.insert(File("track " + std::to_string(i) + ".mp3", 1000 + i));
        }
    } else {
        return std::nullopt;
    }
    return share;
}

MemStream Message(const FileInfoMap& share)
{
    MemStream body;
    share.Write(body);
    AttributeTranslationTable().Write(body);
    return SharedFoldersManager::CompressedMessage(5, body.GetBuffer());
}

} // namespace

void RegisterBrowseCommands(Driver& driver)
{
    auto crafted = std::make_shared<std::optional<MemStream>>();
    driver.AddCommand(QStringLiteral("serve-share"),
        QStringLiteral("serve-share deep <n> | names | long | files <f> <n> | real"),
        QStringLiteral("Answers share-list requests with a crafted list (\"real\": the own share again)."), 1,
        [crafted](const QStringList& args) {
            if (args[0] == QLatin1String("real")) {
                crafted->reset();
            } else if (auto share = Craft(args)) {
                *crafted = Message(*share);
            } else {
                Driver::Print(QStringLiteral("error unknown list %1").arg(args[0]));
                return;
            }
            peerMessenger->SetSharedFilesMessageProvider([crafted](const QString& user) -> std::optional<MemStream> {
                if (*crafted)
                    return **crafted;
                MemStream message;
                if (sharedFoldersManager && sharedFoldersManager->RequestSharedFilesMessage(user, message))
                    return message;
                return std::nullopt;
            });
            Driver::Print(QStringLiteral("serving-share %1").arg(args[0]));
        });
    driver.AddCommand(QStringLiteral("send-share"), QStringLiteral("send-share <user> deep <n> | names | files <f> <n>"),
        QStringLiteral("Sends a crafted share list to the user unasked."), 2, [](const QStringList& args) {
            auto share = Craft(args.mid(1));
            if (!share) {
                Driver::Print(QStringLiteral("error unknown list %1").arg(args[1]));
                return;
            }
            MemStream message = Message(*share);
            peerMessenger->SendMessage(args[0], message);
        });
    driver.AddCommand(QStringLiteral("accept-pushes"), QStringLiteral("accept-pushes <user>"),
        QStringLiteral("Puts the user in the user list and takes the files that users of the list push."), 1,
        [](const QStringList& args) {
            settings.Set("accept_userlist_uploads", "yes");
            d.GetType("user")->GetItem(Value(args[0])).NewItem("in_user_list");
        });
    driver.AddCommand(QStringLiteral("complete-file"), QStringLiteral("complete-file <name>"),
        QStringLiteral("Prints \"complete-file <size> <md5> <name>\" for a finished download of that name, or "
                       "\"complete-file none <name>\"."),
        1, [](const QStringList& args) {
            const QString root = transferQueueManager->DownloadRoot() + QStringLiteral("/complete");
            QDirIterator it(root, { args[0] }, QDir::Files, QDirIterator::Subdirectories);
            QFile file(it.hasNext() ? it.next() : QString());
            if (!file.open(QIODevice::ReadOnly)) {
                Driver::Print(QStringLiteral("complete-file none %1").arg(args[0]));
                return;
            }
            const QByteArray bytes = file.readAll();
            Driver::Print(QStringLiteral("complete-file %1 %2 %3")
                              .arg(bytes.size())
                              .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()),
                                  args[0]));
        });
}
