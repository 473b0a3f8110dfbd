#include "ShareListPrebuild.h"
#include "store/Data.h"
#include "store/Item.h"
#include "store/Log.h"
#include "store/SlicedWork.h"
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>
#include <zlib.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
// The list goes to the packer in chunks of about this size; writing pauses
// while the packer is this far behind.
constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kMostBacklog = 4 * kChunk;
constexpr int kBacklogWaitMs = 5;
constexpr uInt kPackedPiece = 1 << 18;
constexpr size_t kCachedLists = 16;
}

void SharedFoldersManager::SharePrebuild::Feed(bool last)
{
    QByteArray chunk = body.GetBuffer();
    body.Clear();
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_backlog += chunk.size();
        m_chunks.push_back(std::move(chunk));
        m_last = last;
    }
    m_fed.notify_one();
}

qint64 SharedFoldersManager::SharePrebuild::Backlog()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_backlog;
}

void SharedFoldersManager::SharePrebuild::Cancel()
{
    {
        // Under the lock, so that a packer about to wait sees it.
        std::lock_guard<std::mutex> hold(m_lock);
        cancel = true;
    }
    m_fed.notify_one();
}

bool SharedFoldersManager::SharePrebuild::Pack()
{
    // One deflate stream over every chunk: the bytes are those compress2
    // gives for the whole body at once.
    z_stream stream {};
    if (cancel || deflateInit(&stream, 9) != Z_OK)
        return false;
    // The compressed bytes in pieces, joined once at the end: a buffer grown
    // as they come would keep up to twice their size.
    std::vector<QByteArray> pieces;
    qsizetype total = 4;
    int result = Z_OK;
    while (result == Z_OK) {
        QByteArray chunk;
        bool last = false;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_fed.wait(hold, [this] { return cancel || !m_chunks.empty(); });
            if (cancel)
                break;
            chunk = std::move(m_chunks.front());
            m_chunks.pop_front();
            last = m_last && m_chunks.empty();
        }
        stream.next_in = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_in = uInt(chunk.size());
        do {
            if (pieces.empty() || stream.avail_out == 0) {
                pieces.emplace_back(kPackedPiece, Qt::Uninitialized);
                stream.next_out = reinterpret_cast<Bytef*>(pieces.back().data());
                stream.avail_out = kPackedPiece;
            }
            const uInt room = stream.avail_out;
            result = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            total += qsizetype(room - stream.avail_out);
        } while (result == Z_OK && (last || stream.avail_in > 0 || stream.avail_out == 0));
        // No progress possible: every byte of the chunk is in, and the
        // output was drained exactly.
        if (result == Z_BUF_ERROR && !last)
            result = Z_OK;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_backlog -= chunk.size();
        }
    }
    deflateEnd(&stream);
    if (result != Z_STREAM_END || cancel)
        return false;
    QByteArray bytes(total, Qt::Uninitialized);
    qToLittleEndian(quint32(5), bytes.data());
    for (qsizetype at = 4; QByteArray & piece : pieces) {
        const qsizetype length = std::min(piece.size(), total - at);
        std::memcpy(bytes.data() + at, piece.constData(), size_t(length));
        at += length;
        piece = QByteArray();
    }
    message = MemStream(bytes);
#ifdef __GLIBC__
    // The chunks and pieces were freed amid the heap, where the allocator
    // would keep their pages for good: they go back to the system.
    malloc_trim(0);
#endif
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
            build->Cancel();
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

void SharedFoldersManager::ScheduleSlice(int ms)
{
    if (m_sliceQueued || m_collecting.empty())
        return;
    m_sliceQueued = true;
    // A timer rather than a posted call: posted calls may follow one another
    // with no timer or socket served in between.
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] {
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
        if (p.feeding) {
            // Its packer stops, and PackingDone makes its requests again.
            p.Cancel();
            m_packing.push_back(build);
        } else {
            RestartBuild(p);
        }
        ScheduleSlice();
        return;
    }
    const QDeadlineTimer turn = SlicedWork::Turn();
    if (!p.sorted) {
        p.sorted = KeyFolders(p, turn);
        return ScheduleSlice();
    }
    // The packer's end schedules the next slice.
    if (!p.feeding && !StartPacking(build))
        return;
    while (p.inFolder || p.next < p.folders.size()) {
        if (p.Backlog() >= kMostBacklog) {
            ScheduleSlice(kBacklogWaitMs);
            return;
        }
        if (!p.inFolder)
            BeginFolder(p);
        if (WriteFolder(p, turn) && p.body.Size() >= kChunk)
            p.Feed(false);
        if (turn.hasExpired()) {
            ScheduleSlice();
            return;
        }
    }
    AttributeTranslationTable().Write(p.body);
    p.Feed(true);
    p.body = MemStream();
    m_collecting.pop_front();
    std::vector<std::pair<std::string, Item*>>().swap(p.folders);
    m_packing.push_back(build);
    ScheduleSlice();
}

bool SharedFoldersManager::KeyFolders(SharePrebuild& p, const QDeadlineTimer& turn)
{
    while (p.folders.size() < p.unkeyed.size()) {
        Item* folder = p.unkeyed[p.folders.size()];
        std::string path = ItemPtr(folder).Text();
        std::replace(path.begin(), path.end(), '/', '\\');
        p.folders.emplace_back(std::move(path), folder);
        if (turn.hasExpired())
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

void SharedFoldersManager::BeginFolder(SharePrebuild& p)
{
    // Every folder of one key (the same path) in one set of files. Only the
    // items are taken here: a removal from the index restarts the build
    // before the next slice, so none is read once gone.
    p.folderKey = p.next;
    p.items.clear();
    do {
        p.folders[p.next++].second->connections.ForEachOfType(
            m_fileType, [&p](Item* file) { p.items.push_back(file); });
    } while (p.next < p.folders.size() && p.folders[p.next].first == p.folders[p.folderKey].first);
    p.read = 0;
    p.headed = false;
    p.inFolder = true;
}

bool SharedFoldersManager::WriteFolder(SharePrebuild& p, const QDeadlineTimer& turn)
{
    // A receiver takes at most this many files in one folder.
    while (p.read < p.items.size() && p.files.size() < kMaxRecords) {
        p.files.insert(FileRecord(p.items[p.read++]));
        if (turn.hasExpired())
            return false;
    }
    if (!p.headed) {
        std::vector<Item*>().swap(p.items);
        p.body.WriteString(p.folders[p.folderKey].first);
        p.body.WriteUInt32(quint32(p.files.size()));
        p.headed = true;
    }
    while (!p.files.empty()) {
        p.files.begin()->Write(p.body);
        p.files.erase(p.files.begin());
        // Chunks go to the packer as they fill, so a big folder's bytes
        // never wait whole; the caller looks at the backlog again.
        if (p.body.Size() >= kChunk) {
            p.Feed(false);
            return false;
        }
        if (turn.hasExpired())
            return false;
    }
    p.inFolder = false;
    return true;
}

bool SharedFoldersManager::StartPacking(const std::shared_ptr<SharePrebuild>& build)
{
    if (m_packer)
        return false;
    build->feeding = true;
    m_packer = QThread::create([build] { build->packed = build->Pack(); });
    connect(m_packer, &QThread::finished, this, [this, build] {
        m_packer->deleteLater();
        m_packer = nullptr;
        PackingDone(build);
        ScheduleSlice();
    });
    m_packer->start(QThread::LowPriority);
    return true;
}

void SharedFoldersManager::PackingDone(const std::shared_ptr<SharePrebuild>& build)
{
    // A packer that failed before the list was written leaves it collecting.
    for (auto* builds : { &m_packing, &m_collecting })
        builds->erase(std::remove(builds->begin(), builds->end(), build), builds->end());
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
