#include "ShareListPrebuild.h"
#include "store/Data.h"
#include "store/Item.h"
#include "store/Log.h"
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <zlib.h>

namespace {
constexpr qint64 kSliceMs = 20;
constexpr qsizetype kChunk = 1 << 20;
constexpr size_t kCachedLists = 16;
}

bool PackShareList(const QByteArray& bytes, const std::function<bool()>& stop, MemStream& message)
{
    // compress2 at level 9, fed a megabyte at a time so that a stop request
    // is seen; the bytes are those compress2 gives.
    z_stream stream {};
    if (stop() || deflateInit(&stream, 9) != Z_OK)
        return false;
    QByteArray packed(qsizetype(deflateBound(&stream, uLong(bytes.size()))), Qt::Uninitialized);
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = uInt(packed.size());
    int result = Z_OK;
    for (qsizetype at = 0; result == Z_OK;) {
        if (stop()) {
            deflateEnd(&stream);
            return false;
        }
        const qsizetype length = std::min(kChunk, bytes.size() - at);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData() + at));
        stream.avail_in = uInt(length);
        at += length;
        result = deflate(&stream, at == bytes.size() ? Z_FINISH : Z_NO_FLUSH);
    }
    const bool ok = result == Z_STREAM_END;
    packed.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (!ok)
        return false;
    message.WriteUInt32(5);
    message.WriteBuffer(packed.constData(), qint64(packed.size()));
    return true;
}

void SharedFoldersManager::InvalidateShareLists(bool shape)
{
    ++m_indexGeneration;
    if (shape) {
        ++m_shapeGeneration;
        // Lists waiting for the packer or being packed are stale: they are
        // dropped unpacked and started again.
        for (const std::shared_ptr<SharePrebuild>& build : m_packing)
            build->cancel = true;
    }
    // A merge says so once at its end; otherwise wait for two quiet seconds.
    if (!m_merge)
        m_prebuildTimer.start();
}

bool SharedFoldersManager::RequestSharedFilesMessage(const QString& user, MemStream& message)
{
    Log(QStringLiteral("Shared"), 1, QStringLiteral("Shared file list requested by user %1").arg(user));
    return CachedOrQueued(user, message);
}

bool SharedFoldersManager::CachedOrQueued(const QString& user, MemStream& message)
{
    const ItemSet visible = GetUserSharedFolders(user);
    std::vector<quint64> key = ShareListKey(visible);
    if (m_cacheGeneration != m_indexGeneration) {
        m_shareListCache.clear();
        m_cacheGeneration = m_indexGeneration;
    }
    const auto cached = m_shareListCache.find(key);
    if (cached != m_shareListCache.end()) {
        message = cached->second;
        return true;
    }
    // A peer has at most one answer pending: asking again while it waits
    // changes nothing (the answer holds what the peer may see when it goes).
    for (const auto* builds : { &m_collecting, &m_packing }) {
        for (const std::shared_ptr<SharePrebuild>& build : *builds) {
            if (std::find(build->waiting.begin(), build->waiting.end(), user) != build->waiting.end())
                return false;
        }
    }
    // Join a build of the same list on the current index, or start one.
    for (const auto* builds : { &m_collecting, &m_packing }) {
        for (const std::shared_ptr<SharePrebuild>& build : *builds) {
            if (build->shape == m_shapeGeneration && build->key == key) {
                build->waiting.push_back(user);
                return false;
            }
        }
    }
    QueueBuild(std::move(key), visible).waiting.push_back(user);
    return false;
}

SharedFoldersManager::SharePrebuild& SharedFoldersManager::QueueBuild(
    std::vector<quint64> key, const ItemSet& visible)
{
    auto build = std::make_shared<SharePrebuild>();
    build->generation = m_indexGeneration;
    build->shape = m_shapeGeneration;
    build->key = std::move(key);
    for (ItemPtr folder : visible.GetItems("shared_file_folder"))
        build->unkeyed.push_back(folder.Get());
    build->folders.reserve(build->unkeyed.size());
    m_collecting.push_back(build);
    ScheduleSlice();
    return *build;
}

void SharedFoldersManager::StartPrebuild()
{
    if (IsScanning()) {
        m_prebuildTimer.start();
        return;
    }
    const ItemSet visible = d.GetType("shared_public")->GetItems().GetItems("shared_folder");
    std::vector<quint64> key = ShareListKey(visible);
    if (m_cacheGeneration == m_indexGeneration && m_shareListCache.count(key))
        return;
    for (const auto* builds : { &m_collecting, &m_packing }) {
        for (const std::shared_ptr<SharePrebuild>& build : *builds) {
            if (build->generation == m_indexGeneration && build->key == key)
                return;
        }
    }
    QueueBuild(std::move(key), visible);
}

void SharedFoldersManager::ScheduleSlice()
{
    if (m_sliceQueued || m_collecting.empty())
        return;
    m_sliceQueued = true;
    // A timer rather than a posted call: posted calls may follow one another
    // with no timer or socket served in between.
    QTimer::singleShot(1, Qt::PreciseTimer, this, [this] {
        m_sliceQueued = false;
        PrebuildSlice();
    });
}

void SharedFoldersManager::PrebuildSlice()
{
    if (m_collecting.empty())
        return;
    const std::shared_ptr<SharePrebuild> build = m_collecting.front();
    SharePrebuild& p = *build;
    // A change of the index's shape (a removal included) starts the build
    // again: the folders it holds may be gone.
    if (p.shape != m_shapeGeneration) {
        m_collecting.pop_front();
        RestartBuild(p);
        ScheduleSlice();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    if (!p.sorted) {
        p.sorted = KeyFolders(p, clock);
        return ScheduleSlice();
    }
    while (p.next < p.folders.size()) {
        // Every folder of one key (the same path) in one set of files.
        const std::string& key = p.folders[p.next].first;
        FileInfoSet files;
        do
            AddFolderFiles(p.folders[p.next++].second, files);
        while (p.next < p.folders.size() && p.folders[p.next].first == key);
        p.body.WriteString(key);
        p.body.WriteUInt32(quint32(files.size()));
        for (const FileInfo& file : files)
            file.Write(p.body);
        if (clock.elapsed() >= kSliceMs) {
            ScheduleSlice();
            return;
        }
    }
    AttributeTranslationTable().Write(p.body);
    m_collecting.pop_front();
    std::vector<std::pair<std::string, Item*>>().swap(p.folders);
    m_packing.push_back(build);
    StartPacking();
    ScheduleSlice();
}

bool SharedFoldersManager::KeyFolders(SharePrebuild& p, const QElapsedTimer& clock)
{
    while (p.folders.size() < p.unkeyed.size()) {
        Item* folder = p.unkeyed[p.folders.size()];
        std::string path = ItemPtr(folder).Text();
        std::replace(path.begin(), path.end(), '/', '\\');
        p.folders.emplace_back(std::move(path), folder);
        if (clock.elapsed() >= kSliceMs)
            return false;
    }
    std::vector<Item*>().swap(p.unkeyed);
    std::sort(p.folders.begin(), p.folders.end());
    // A receiver takes at most this many folders: the first ones in key order.
    quint32 count = 0;
    for (size_t k = 0; k < p.folders.size(); ++k) {
        if (k > 0 && p.folders[k].first == p.folders[k - 1].first)
            continue;
        if (count == kMaxRecords) {
            p.folders.resize(k);
            break;
        }
        ++count;
    }
    p.body.WriteUInt32(count);
    return true;
}

void SharedFoldersManager::StartPacking()
{
    if (m_packer || m_packing.empty())
        return;
    m_packer = QThread::create([this, build = m_packing.front()] {
        build->packed = PackShareList(
            build->body.GetBuffer(), [&] { return m_stopPacking || build->cancel; }, build->message);
        build->body = MemStream();
    });
    connect(m_packer, &QThread::finished, this, [this] {
        m_packer->deleteLater();
        m_packer = nullptr;
        PackingDone();
    });
    m_packer->start(QThread::LowPriority);
}

void SharedFoldersManager::PackingDone()
{
    const std::shared_ptr<SharePrebuild> build = m_packing.front();
    m_packing.pop_front();
    if (build->packed && build->shape == m_shapeGeneration) {
        // Attributes that changed meanwhile keep it out of the cache only.
        if (build->generation == m_indexGeneration)
            StoreShareList(build->key, build->message);
        // A user who may see other folders by now (hidden from the share,
        // left the user list) asks again for what they may see now.
        for (const QString& user : build->waiting) {
            MemStream message = build->message;
            if (ShareListKey(GetUserSharedFolders(user)) == build->key || CachedOrQueued(user, message))
                SendToUser(user, message);
        }
    } else {
        RestartBuild(*build);
    }
    StartPacking();
}

void SharedFoldersManager::RestartBuild(SharePrebuild& build)
{
    // The list built ahead waits for the index to be quiet again; every
    // waiting request is made again on the new index (and may find its list
    // cached or its set of visible folders changed).
    if (build.waiting.empty()) {
        m_prebuildTimer.start();
        return;
    }
    for (const QString& user : build.waiting) {
        MemStream message;
        if (CachedOrQueued(user, message))
            SendToUser(user, message);
    }
}

void SharedFoldersManager::StoreShareList(const std::vector<quint64>& key, const MemStream& message)
{
    if (m_cacheGeneration != m_indexGeneration) {
        m_shareListCache.clear();
        m_cacheGeneration = m_indexGeneration;
    }
    if (m_shareListCache.size() >= kCachedLists && !m_shareListCache.count(key))
        m_shareListCache.erase(m_shareListCache.begin());
    m_shareListCache[key] = message;
}
