#include "ShareListPrebuild.h"
#include "store/Data.h"
#include "store/Item.h"
#include <QElapsedTimer>
#include <QTimer>
#include <zlib.h>

namespace {
constexpr qint64 kSliceMs = 20;
constexpr qsizetype kChunk = 1 << 20;
}

bool PackShareList(const FileInfoMap& share, const std::atomic<bool>& stop, MemStream& message)
{
    MemStream body;
    share.Write(body);
    AttributeTranslationTable().Write(body);
    const QByteArray bytes = body.GetBuffer();

    // compress2 at level 9, fed a megabyte at a time so that a stop request
    // is seen; the bytes are those compress2 gives.
    z_stream stream {};
    if (deflateInit(&stream, 9) != Z_OK)
        return false;
    QByteArray packed(qsizetype(deflateBound(&stream, uLong(bytes.size()))), Qt::Uninitialized);
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = uInt(packed.size());
    int result = Z_OK;
    for (qsizetype at = 0; result == Z_OK;) {
        if (stop) {
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

void SharedFoldersManager::InvalidateShareLists()
{
    ++m_indexGeneration;
    // A merge says so once at its end; otherwise wait for two quiet seconds.
    if (!m_merge)
        m_prebuildTimer.start();
}

void SharedFoldersManager::StartPrebuild()
{
    if (IsScanning() || m_prebuild || m_packer) {
        m_prebuildTimer.start();
        return;
    }
    const ItemSet visible = d.GetType("shared_public")->GetItems().GetItems("shared_folder");
    std::vector<quint64> key = ShareListKey(visible);
    if (m_cacheGeneration == m_indexGeneration && m_shareListCache.count(key))
        return;
    m_prebuild = std::make_unique<SharePrebuild>();
    m_prebuild->generation = m_indexGeneration;
    m_prebuild->key = std::move(key);
    for (ItemPtr folder : visible.GetItems("shared_file_folder"))
        m_prebuild->folders.push_back(folder.Get());
    PrebuildSlice();
}

void SharedFoldersManager::PrebuildSlice()
{
    SharePrebuild& p = *m_prebuild;
    // Any change of the index (a removal included) ends the build: the
    // folders it holds may be gone.
    if (p.generation != m_indexGeneration) {
        m_prebuild.reset();
        m_prebuildTimer.start();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    while (p.next < p.folders.size()) {
        AddFolderToShare(p.folders[p.next++], p.share);
        if (clock.elapsed() >= kSliceMs) {
            QTimer::singleShot(0, this, [this] {
                if (m_prebuild)
                    PrebuildSlice();
            });
            return;
        }
    }
    std::unique_ptr<SharePrebuild> done = std::move(m_prebuild);
    m_stopPacking = false;
    m_packer = QThread::create([this, done = std::shared_ptr<SharePrebuild>(std::move(done))] {
        MemStream message;
        if (!PackShareList(done->share, m_stopPacking, message))
            return;
        QMetaObject::invokeMethod(
            this,
            [this, generation = done->generation, key = done->key, message] {
                StorePrebuilt(generation, key, message);
            },
            Qt::QueuedConnection);
    });
    connect(m_packer, &QThread::finished, this, [this] {
        m_packer->deleteLater();
        m_packer = nullptr;
    });
    m_packer->start(QThread::LowPriority);
}

void SharedFoldersManager::StorePrebuilt(quint64 generation, std::vector<quint64> key, MemStream message)
{
    if (generation != m_indexGeneration)
        return;
    if (m_cacheGeneration != m_indexGeneration) {
        m_shareListCache.clear();
        m_cacheGeneration = m_indexGeneration;
    }
    m_shareListCache[std::move(key)] = std::move(message);
}
