// Folder replies (code 37) to peers, built a slice at a time: the folder's
// files are read from the index on the GUI thread in turns of the event
// loop (FolderReplyQueue), then ordered, written and compressed on a worker
// thread, one reply at a time, while the next one is read. The reply goes to
// the very connection that asked, or nowhere once it has gone.
#include "FolderReplyQueue.h"
#include "SharedFoldersManager.h"
#include "peers/PeerMessenger.h"
#include "store/Item.h"
#include "store/Log.h"
#include "store/SlicedWork.h"

struct SharedFoldersManager::FolderReply {
    FolderReplyQueue::Request request;
    bool begun = false;
    quint64 shape = 0; // the index's shape when begun: no item is read once gone
    std::vector<Item*> files;
    size_t next = 0;
    std::vector<FileInfo> records;
};

ItemPtr SharedFoldersManager::VisibleFolder(const QString& user, const QString& folder) const
{
    QString local = folder;
    local.replace(u'\\', u'/');
    const QByteArray utf8 = local.toUtf8();
    const qsizetype nul = utf8.indexOf('\0');
    const QByteArray key = nul < 0 ? utf8 : utf8.left(nul);
    ItemPtr folderItem = m_folderType->HasItemText(std::string_view(key.constData(), size_t(key.size())));
    if (!folderItem)
        return {};
    ItemSet roots = GetUserSharedFolders(user);
    roots.Intersect(folderItem.GetItems(m_sharedFolderType));
    return roots.Empty() ? ItemPtr() : folderItem;
}

FileInfo SharedFoldersManager::FolderRecord(Item* item) const
{
    ItemPtr file(item);
    FileInfo info;
    info.name = file[m_nameType].Text();
    info.size = file[m_sizeType].AsInt64();
    return info;
}

MemStream SharedFoldersManager::FolderReplyMessage(
    quint32 request, const QString& folder, const SharedFolderInfo& files)
{
    MemStream body;
    body.WriteUInt32(request);
    body.WriteString(folder);
    body.WriteUInt32(1);
    body.WriteString(folder);
    files.Write(body);
    return CompressedMessage(37, body.GetBuffer());
}

FolderReplyQueue::Work SharedFoldersManager::FolderReplyInTurns(const FolderReplyQueue::Request& request)
{
    auto reply = std::make_shared<FolderReply>();
    reply->request = request;
    return [this, reply](const QDeadlineTimer& turn) {
        const quint64 connection = reply->request.connection;
        if (!reply->begun || reply->shape != m_shapeGeneration) {
            reply->begun = true;
            reply->shape = m_shapeGeneration;
            reply->files.clear();
            reply->records.clear();
            reply->next = 0;
            ItemPtr folder = VisibleFolder(reply->request.user, reply->request.folder);
            if (!folder) {
                AnswerFolderRequest(connection, nullptr);
                return true;
            }
            // A receiver takes at most this many.
            folder.Get()->connections.ForEachOfType(m_fileType, [&](Item* item) {
                if (reply->files.size() < kMaxRecords)
                    reply->files.push_back(item);
            });
            reply->records.reserve(reply->files.size());
        }
        size_t done = 0;
        while (reply->next < reply->files.size()) {
            reply->records.push_back(FolderRecord(reply->files[reply->next++]));
            if (++done % SlicedWork::kItemsAtOnce == 0 && turn.hasExpired())
                return false;
        }
        // One reply at a time goes to the packer: the next one waits here,
        // read, rather than many piling up before it.
        if (m_folderPacking)
            return false;
        m_folderPacking = connection;
        auto records = std::make_shared<std::vector<FileInfo>>(std::move(reply->records));
        std::vector<Item*>().swap(reply->files);
        const quint32 number = reply->request.number;
        const QString folder = reply->request.folder;
        const auto sent = [this, connection](const MemStream* message) {
            m_folderPacking = 0;
            AnswerFolderRequest(connection, message);
        };
        const bool started = m_folderPacker->Start(
            0,
            [records, number, folder, sent]() -> OrderedWorker::Outcome {
                SharedFolderInfo files;
                for (FileInfo& record : *records)
                    files.files.insert(std::move(record));
                records->clear();
                return [message = FolderReplyMessage(number, folder, files), sent] { sent(&message); };
            },
            [sent](const QString& why) {
                Log(QStringLiteral("Shared"), 1, QStringLiteral("A folder reply was not sent: %1").arg(why));
                sent(nullptr);
            });
        if (!started)
            sent(nullptr);
        return true;
    };
}

void SharedFoldersManager::AnswerFolderRequest(quint64 connection, const MemStream* reply)
{
    if (peerMessenger)
        peerMessenger->FolderReplyBuilt(connection, reply);
}

size_t SharedFoldersManager::FolderRepliesWaiting() const
{
    return m_folderReplies->Waiting();
}
