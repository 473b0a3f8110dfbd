// The share list (peer code 5) and the folder reply (37) built from the index.
//
// A share list is rebuilt only when the index or the set of folders that the
// asking user may see has changed: compressing a large share at level 9 costs
// far more than building it, so the compressed message is kept per set of
// visible folders and dropped whenever the index changes.
#include "SharedFoldersManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "peers/Inflate.h"

MemStream SharedFoldersManager::CompressedMessage(quint32 code, const QByteArray& body)
{
    const QByteArray packed = Deflate(body);
    MemStream message;
    message.WriteUInt32(code);
    message.WriteBuffer(packed.constData(), qint64(packed.size()));
    return message;
}

void SharedFoldersManager::AddAudioAttributes(ItemPtr file, FileInfo& info)
{
    info.attributes.extension = "mp3";
    if (ItemPtr bitrate = file["bitrate"])
        info.attributes.attributes.emplace_back(ATTR_BITRATE, quint32(bitrate.AsInt()));
    if (ItemPtr mode = file["bitrate_mode"])
        info.attributes.attributes.emplace_back(ATTR_BITRATE_MODE, mode.Text() == "vbr" ? 1u : 0u);
}

void SharedFoldersManager::GetSharedFilesAsUserShare(
    const QString& user, FileInfoMap& share, AttributeTranslationTable&) const
{
    const ItemSet folders = GetUserSharedFolders(user).GetItems("shared_file_folder");
    for (ItemPtr folder : folders) {
        // A receiver takes at most this many folders, and this many files in one.
        auto [entry, added] = share.try_emplace(StringReplace(folder.Text(), "/", "\\"));
        if (added && share.size() > kMaxRecords) {
            share.erase(entry);
            continue;
        }
        FileInfoSet& files = entry->second;
        folder.Get()->connections.ForEachOfType(m_fileType, [&](Item* item) {
            if (files.size() >= kMaxRecords)
                return;
            ItemPtr file(item);
            FileInfo info;
            info.name = file[m_nameType].Text();
            info.size = file[m_sizeType].AsInt64();
            if (GetFileExtension(info.name) == "mp3")
                AddAudioAttributes(file, info);
            files.insert(std::move(info));
        });
    }
}

MemStream SharedFoldersManager::GetSharedFilesMessage(const QString& user)
{
    Log(QStringLiteral("Shared"), 1, QStringLiteral("Shared file list requested by user %1").arg(user));
    std::vector<quint64> key;
    for (ItemPtr folder : GetUserSharedFolders(user))
        key.push_back(folder.Serial());
    if (m_cacheGeneration != m_indexGeneration) {
        m_shareListCache.clear();
        m_cacheGeneration = m_indexGeneration;
    }
    auto cached = m_shareListCache.find(key);
    if (cached != m_shareListCache.end())
        return cached->second;

    FileInfoMap share;
    AttributeTranslationTable table;
    GetSharedFilesAsUserShare(user, share, table);
    MemStream body;
    share.Write(body);
    table.Write(body);
    MemStream message = CompressedMessage(5, body.GetBuffer());
    if (m_shareListCache.size() >= 16)
        m_shareListCache.erase(m_shareListCache.begin());
    m_shareListCache.emplace(std::move(key), message);
    return message;
}

bool SharedFoldersManager::BuildFolderReply(
    const QString& user, quint32 request, const QString& folder, MemStream& message) const
{
    QString local = folder;
    local.replace(u'\\', u'/');
    const QByteArray utf8 = local.toUtf8();
    const qsizetype nul = utf8.indexOf('\0');
    const QByteArray key = nul < 0 ? utf8 : utf8.left(nul);
    ItemPtr folderItem = m_folderType->HasItemText(std::string_view(key.constData(), size_t(key.size())));
    if (!folderItem)
        return false;
    ItemSet roots = GetUserSharedFolders(user);
    roots.Intersect(folderItem.GetItems(m_sharedFolderType));
    if (roots.Empty())
        return false;

    SharedFolderInfo files;
    folderItem.Get()->connections.ForEachOfType(m_fileType, [&](Item* item) {
        if (files.files.size() >= kMaxRecords)
            return;
        ItemPtr file(item);
        FileInfo info;
        info.name = file[m_nameType].Text();
        info.size = file[m_sizeType].AsInt64();
        files.files.insert(std::move(info));
    });
    MemStream body;
    body.WriteUInt32(request);
    body.WriteString(folder);
    body.WriteUInt32(1);
    body.WriteString(folder);
    files.Write(body);
    message = CompressedMessage(37, body.GetBuffer());
    return true;
}

void SharedFoldersManager::OnFilesInFoldersRequested(QString user, quint32 request, QString folder)
{
    MemStream message;
    if (BuildFolderReply(user, request, folder, message))
        SendToUser(user, message);
}
