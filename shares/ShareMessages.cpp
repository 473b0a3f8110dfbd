// The share list (peer code 5) and the folder reply (37) built from the index.
//
// A share list is rebuilt only when the index or the set of folders that the
// asking user may see has changed: compressing a large share at level 9 costs
// far more than building it, so the compressed message is kept per set of
// visible folders and dropped whenever the index changes. A peer's request
// never builds a list on the GUI thread: it is answered from the cache or
// waits for a background build (ShareListPrebuild.cpp).
#include "SharedFoldersManager.h"
#include "peers/Inflate.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Item.h"
#include "store/Log.h"
#include <zlib.h>

namespace {
// zlib at level 9 with the stream's state kept between messages: setting up a
// level-9 deflater costs a quarter of a megabyte of fresh memory, more than
// compressing a search reply. deflateReset gives the bytes compress2 gives.
class Deflater {
public:
    Deflater() { m_ok = deflateInit(&m_stream, 9) == Z_OK; }
    ~Deflater()
    {
        if (m_ok)
            deflateEnd(&m_stream);
    }
    bool Compress(const QByteArray& body, QByteArray& out)
    {
        if (!m_ok || deflateReset(&m_stream) != Z_OK)
            return false;
        out.resize(qsizetype(deflateBound(&m_stream, uLong(body.size()))));
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
        m_stream.avail_in = uInt(body.size());
        m_stream.next_out = reinterpret_cast<Bytef*>(out.data());
        m_stream.avail_out = uInt(out.size());
        if (deflate(&m_stream, Z_FINISH) != Z_STREAM_END)
            return false;
        out.resize(qsizetype(m_stream.total_out));
        return true;
    }

private:
    z_stream m_stream {};
    bool m_ok = false;
};
}

MemStream SharedFoldersManager::CompressedMessage(quint32 code, const QByteArray& body)
{
    thread_local Deflater deflater;
    QByteArray packed;
    if (!deflater.Compress(body, packed))
        packed = Deflate(body);
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

void SharedFoldersManager::AddFolderToShare(ItemPtr folder, FileInfoMap& share) const
{
    AddFolderFiles(folder.Get(), share[StringReplace(folder.Text(), "/", "\\")]);
}

void SharedFoldersManager::AddFolderFiles(Item* folder, FileInfoSet& files) const
{
    // A receiver takes at most this many files in one folder.
    folder->connections.ForEachOfType(m_fileType, [&](Item* item) {
        if (files.size() < kMaxRecords)
            files.insert(FileRecord(item));
    });
}

FileInfo SharedFoldersManager::FileRecord(Item* item) const
{
    ItemPtr file(item);
    FileInfo info;
    info.name = file[m_nameType].Text();
    info.size = file[m_sizeType].AsInt64();
    if (GetFileExtension(info.name) == "mp3")
        AddAudioAttributes(file, info);
    return info;
}

void SharedFoldersManager::GetSharedFilesAsUserShare(
    const QString& user, FileInfoMap& share, AttributeTranslationTable&) const
{
    for (ItemPtr folder : GetUserSharedFolders(user).GetItems("shared_file_folder"))
        AddFolderToShare(folder, share);
    // And at most this many folders: the first ones in key order.
    while (share.size() > kMaxRecords)
        share.erase(std::prev(share.end()));
}

std::vector<quint64> SharedFoldersManager::ShareListKey(const ItemSet& folders) const
{
    std::vector<quint64> key;
    for (ItemPtr folder : folders)
        key.push_back(folder.Serial());
    return key;
}

bool SharedFoldersManager::IsShareListReady(const QString& user) const
{
    return m_cacheGeneration == m_indexGeneration
        && m_shareListCache.count(ShareListKey(GetUserSharedFolders(user)));
}

MemStream SharedFoldersManager::GetSharedFilesMessage(const QString& user)
{
    Log(QStringLiteral("Shared"), 1, QStringLiteral("Shared file list requested by user %1").arg(user));
    std::vector<quint64> key = ShareListKey(GetUserSharedFolders(user));
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
    StoreShareList(key, message);
    return message;
}

bool SharedFoldersManager::BuildFolderReply(
    const QString& user, quint32 request, const QString& folder, MemStream& message) const
{
    ItemPtr folderItem = VisibleFolder(user, folder);
    if (!folderItem)
        return false;
    SharedFolderInfo files;
    folderItem.Get()->connections.ForEachOfType(m_fileType, [&](Item* item) {
        if (files.files.size() < kMaxRecords)
            files.files.insert(FolderRecord(item));
    });
    message = FolderReplyMessage(request, folder, files);
    return true;
}
