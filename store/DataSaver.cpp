#include "DataSaver.h"
#include "DataFileFormat.h"
#include "Data.h"
#include "ItemPool.h"
#include "Log.h"
#include "MemStream.h"
#include "Stream.h"
#include "VectorState.h"
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QtEndian>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

DataSaver* dataSaver = nullptr;

using namespace DataFileFormat;

DataLoadedEventHandler::DataLoadedEventHandler()
{
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

DataLoadedEventHandler::~DataLoadedEventHandler()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
}

// What a check of the whole file found: where each record's entries begin, so
// that the merge reads them from the bytes again rather than from a copy.
struct DataSaver::Parsed {
    struct Record {
        bool items; // else connections
        std::string typeName; // of items
        Type* type; // of items; null for a type this build lacks
        qint64 at;
        quint32 count;
        bool globalNull = false; // holds the type's global null item
    };
    std::vector<Record> records;
    size_t items = 0;
    size_t connections = 0;
};

namespace {
// The items of one item record, read in one go.
struct ItemBatch {
    // Views into the file's bytes, or into `joined` for values stored in pieces.
    std::vector<std::string_view> values;
    std::vector<quint8> flags;
    std::deque<std::string> joined;
    QByteArray scratch;

    // Null, or what is wrong with the record.
    const char* Read(MemStream& in, quint32 n)
    {
        values.clear();
        flags.clear();
        joined.clear();
        for (quint32 k = 0; k < n; ++k) {
            std::string_view value;
            quint8 flag;
            if (!in.ReadStringView(value, scratch) || !in.ReadUInt8(flag))
                return "an item record is cut";
            if (flag & kLongValueFlag) {
                quint32 pieces;
                if (!value.empty() || !in.ReadCount(pieces)
                    || quint64(pieces) * kMaxStreamCount > DataSaver::kMaxSavedValue)
                    return "a long value is malformed";
                std::string& whole = joined.emplace_back();
                for (quint32 p = 0; p < pieces; ++p) {
                    QByteArray piece;
                    if (!in.ReadByteArray(piece))
                        return "a long value is cut";
                    whole.append(piece.constData(), size_t(piece.size()));
                }
                value = whole;
            } else if (!value.empty() && value.data() == scratch.constData()) {
                // Bytes that were not in memory: the next read reuses scratch.
                value = joined.emplace_back(value);
            }
            values.push_back(value);
            flags.push_back(flag);
        }
        return nullptr;
    }
};

// Makes the items of null types on a thread of its own, in the order given,
// while the loader makes the others.
class NullItemMaker {
public:
    explicit NullItemMaker(Data* data)
        : m_data(data)
    {
    }
    NullItemMaker(const NullItemMaker&) = delete;
    NullItemMaker& operator=(const NullItemMaker&) = delete;
    ~NullItemMaker() { Finish(); }

    void Add(Type* type, quint64 firstSerial, size_t count, Item** out)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back({ type, firstSerial, count, out });
        }
        m_count += count;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
        else
            m_wake.notify_one();
    }
    // Waits for every item, and hands them to the store.
    void Finish()
    {
        if (m_thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_closed = true;
            }
            m_wake.notify_one();
            m_thread.join();
        }
        m_data->AdoptItems(m_pool, std::exchange(m_count, 0));
    }

private:
    struct Job {
        Type* type;
        quint64 firstSerial;
        size_t count;
        Item** out;
    };
    void Run()
    {
        ClearUpperVectorState();
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_jobs.empty() || m_closed; });
                if (m_jobs.empty())
                    return;
                job = m_jobs.front();
                m_jobs.pop_front();
            }
            Data::MakeNullItems(m_pool, job.type, job.firstSerial, job.count, job.out);
        }
    }

    Data* m_data;
    ItemPool<Item> m_pool;
    std::deque<Job> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_closed = false;
    size_t m_count = 0;
};

// Fewer items than this are not worth a thread.
constexpr size_t kNullItemsElsewhere = 16384;

std::pair<quint32, quint32> ConnectionAt(const char* record, size_t k)
{
    quint32 ab[2];
    std::memcpy(ab, record + 8 * k, 8);
    return { qFromLittleEndian(ab[0]), qFromLittleEndian(ab[1]) };
}
}

QString DataSaver::DefaultPath() { return QDir::homePath() + "/.Marrowby"; }

void DataSaver::AddSavedType(const std::string& type)
{
    if (std::find(m_savedTypes.begin(), m_savedTypes.end(), type) == m_savedTypes.end())
        m_savedTypes.push_back(type);
}

void DataSaver::AddSavedByConnectionType(const std::string& type, const std::string& other)
{
    auto& others = m_savedByConnection[type];
    if (std::find(others.begin(), others.end(), other) == others.end())
        others.push_back(other);
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    if (std::find(m_handlers.begin(), m_handlers.end(), handler) == m_handlers.end())
        m_handlers.push_back(handler);
}

void DataSaver::RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    std::erase(m_handlers, handler);
}

void DataSaver::Notify(bool noData)
{
    std::vector<DataLoadedEventHandler*> handlers(m_handlers);
    auto stillThere = [this](DataLoadedEventHandler* h) {
        return std::find(m_handlers.begin(), m_handlers.end(), h) != m_handlers.end();
    };
    for (auto* h : handlers)
        if (stillThere(h))
            h->DataLoaded();
    if (noData)
        for (auto* h : handlers)
            if (stillThere(h))
                h->NoData();
}

// A file's bytes: where the system allows, the file is mapped into memory
// (the system's own cached pages, no copy), else read.
struct DataSaver::FileBytes {
    std::unique_ptr<QFile> file; // outlives the view of its mapping
    QByteArray bytes;

    // False, and error set, when the file can't be read.
    bool Read(const QString& path, QString& error)
    {
        file = std::make_unique<QFile>(path);
        if (file->open(QIODevice::ReadOnly)) {
            const qint64 size = file->size();
            if (uchar* mapped = size > 0 ? file->map(0, size) : nullptr) {
                bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), qsizetype(size));
                return true;
            }
            bytes = file->readAll();
            if (file->error() == QFileDevice::NoError)
                return true;
        }
        error = "the data file can't be read: " + file->errorString();
        return false;
    }
};

// A data file read and checked ahead of its load.
struct DataSaver::Prefetched {
    QString path;
    FileBytes file;
    Parsed parsed;
    bool ok = false; // read and well formed
    std::thread thread;
    ~Prefetched()
    {
        if (thread.joinable())
            thread.join();
    }
};

std::unique_ptr<DataSaver::Prefetched>& DataSaver::PrefetchSlot()
{
    static std::unique_ptr<Prefetched> slot;
    return slot;
}

void DataSaver::Prefetch(const QString& path)
{
    std::unique_ptr<Prefetched>& slot = PrefetchSlot();
    slot.reset();
    slot = std::make_unique<Prefetched>();
    Prefetched* ahead = slot.get();
    ahead->path = path;
    ahead->thread = std::thread([ahead] {
        QString error;
        // A file that can't be read ahead here (memory ran out, say) is read
        // again by the load, which says why.
        try {
            ahead->ok = ahead->file.Read(ahead->path, error) && Parse(ahead->file.bytes, ahead->parsed, error);
        } catch (...) {
            ahead->ok = false;
        }
    });
}

void DataSaver::Resolve(Parsed& parsed) const
{
    for (Parsed::Record& r : parsed.records)
        if (r.items)
            r.type = m_data->HasType(r.typeName);
}

bool DataSaver::Parse(const QByteArray& bytes, Parsed& parsed, QString& error)
{
    ClearUpperVectorState();
    MemStream in(bytes);
    char magic[8];
    quint32 version;
    if (!in.ReadBytes(magic, 8) || std::memcmp(magic, kMagic, 8) != 0 || !in.ReadUInt32(version) || version != kVersion) {
        error = "not a data file of this program";
        return false;
    }
    ItemBatch batch;
    for (;;) {
        quint8 kind;
        if (!in.ReadUInt8(kind)) {
            error = "the file ends before its last record";
            return false;
        }
        if (kind == kEnd) {
            quint32 items, connections;
            if (!in.ReadUInt32(items) || !in.ReadUInt32(connections) || items != parsed.items
                || connections != parsed.connections || in.Remaining() != 0) {
                error = "the totals at the end do not match";
                return false;
            }
            return true;
        }
        if (kind == kItems) {
            std::string typeName;
            quint32 n;
            if (!in.ReadString(typeName) || !in.ReadCount(n)) {
                error = "an item record is cut";
                return false;
            }
            parsed.records.push_back({ true, std::move(typeName), nullptr, in.ReadPosition(), n });
            if (const char* problem = batch.Read(in, n)) {
                error = problem;
                return false;
            }
            parsed.records.back().globalNull = std::any_of(
                batch.flags.begin(), batch.flags.end(), [](quint8 flag) { return flag & kGlobalNullFlag; });
            parsed.items += n;
        } else if (kind == kConnections) {
            quint32 n;
            if (!in.ReadCount(n) || in.Remaining() < 8 * qint64(n)) {
                error = "a connection record is cut";
                return false;
            }
            const char* record = bytes.constData() + in.ReadPosition();
            for (quint32 k = 0; k < n; ++k) {
                const auto [a, b] = ConnectionAt(record, k);
                if (a >= parsed.items || b >= parsed.items) {
                    error = "a connection names an item that does not exist";
                    return false;
                }
            }
            parsed.records.push_back({ false, {}, nullptr, in.ReadPosition(), n });
            in.SeekRead(in.ReadPosition() + 8 * qint64(n));
            parsed.connections += n;
        } else {
            error = QString("unknown record kind %1").arg(kind);
            return false;
        }
    }
}

void DataSaver::Apply(const QByteArray& bytes, const Parsed& parsed)
{
    ClearUpperVectorState();
    m_data->BeginBatch();
    std::vector<Item*> items(parsed.items, nullptr);
    // The merge rule: a stored item takes the place of an item of its type
    // and value that the store held before the load (each such item once), so
    // stored connections replace what was written before (defaults); stored
    // items never merge with one another. Two stored items of equal value thus
    // stay two items, whatever the store held.
    std::vector<size_t> incoming(m_data->Types().size(), 0);
    for (const Parsed::Record& r : parsed.records)
        if (r.items && r.type)
            incoming[r.type->Ordinal()] += r.count;
    // The items held before the load, by value, for the types that had any.
    std::vector<std::unordered_multimap<std::string_view, Item*>> before(m_data->Types().size());
    for (Type* type : m_data->Types()) {
        if (!incoming[type->Ordinal()] || type->IsNull() || type->Count() == 0)
            continue;
        auto& held = before[type->Ordinal()];
        held.reserve(type->Count());
        const ChunkedSet& set = type->Items();
        for (ChunkedSet::Position p; set.Valid(p); set.Advance(p))
            held.emplace(std::string_view(set.At(p)->value), set.At(p));
    }
    for (Type* type : m_data->Types())
        type->ReserveItems(incoming[type->Ordinal()]);
    // The many items of a null type that nobody hears of (a big share's files)
    // are made on another thread meanwhile, with the creation numbers a load
    // in turn would give them; not a type whose global null item is stored.
    std::vector<char> elsewhere(m_data->Types().size(), 0);
    for (Type* type : m_data->Types())
        elsewhere[type->Ordinal()] = type->IsNull() && type->itemAdded.Empty() && m_data->itemAdded.Empty()
            && incoming[type->Ordinal()] >= kNullItemsElsewhere;
    for (const Parsed::Record& r : parsed.records)
        if (r.items && r.type && r.globalNull)
            elsewhere[r.type->Ordinal()] = 0;
    NullItemMaker maker(m_data);
    MemStream in(bytes);
    ItemBatch batch;
    size_t first = 0;
    for (const Parsed::Record& r : parsed.records) {
        if (!r.items)
            continue;
        Type* type = r.type;
        Item** made = items.data() + first;
        first += r.count;
        if (!type)
            continue;
        if (elsewhere[type->Ordinal()]) {
            maker.Add(type, m_data->TakeSerials(r.count), r.count, made);
            continue;
        }
        // The whole file was checked already; a mapped file changed since
        // by another program gives no item here, never a read out of bounds.
        in.SeekRead(r.at);
        if (batch.Read(in, r.count))
            continue;
        // A record with nothing to merge with is made at once; of a null
        // type, in runs between the mentions of the type's global null item.
        if (type->IsNull()) {
            for (quint32 j = 0; j < r.count;) {
                if (batch.flags[j] & kGlobalNullFlag) {
                    made[j++] = type->GetGlobalNullItem().Get();
                    continue;
                }
                quint32 end = j;
                while (end < r.count && !(batch.flags[end] & kGlobalNullFlag))
                    ++end;
                m_data->CreateItems(type, batch.values.data() + j, end - j, made + j);
                j = end;
            }
            continue;
        }
        if (before[type->Ordinal()].empty()) {
            m_data->CreateItems(type, batch.values.data(), r.count, made);
            continue;
        }
        for (quint32 j = 0; j < r.count; ++j) {
            auto& held = before[type->Ordinal()];
            const auto found = held.empty() ? held.end() : held.find(batch.values[j]);
            if (found != held.end()) {
                made[j] = found->second;
                held.erase(found);
            } else {
                made[j] = m_data->CreateItem(type, batch.values[j]);
            }
        }
    }
    maker.Finish();
    // Each item's connection list gets its final size at once.
    {
        std::vector<quint32> degree(items.size(), 0);
        for (const Parsed::Record& r : parsed.records) {
            if (r.items)
                continue;
            const char* record = bytes.constData() + r.at;
            for (size_t k = 0; k < r.count; ++k) {
                const auto [a, b] = ConnectionAt(record, k);
                if (a < degree.size() && b < degree.size()) {
                    ++degree[a];
                    ++degree[b];
                }
            }
        }
        for (size_t k = 0; k < items.size(); ++k)
            if (items[k] && degree[k] > 1 && items[k]->connections.Empty())
                items[k]->connections.Reserve(std::min<quint32>(degree[k], ConnectionMap::kGroupThreshold + 1));
    }
    for (const Parsed::Record& r : parsed.records) {
        if (r.items)
            continue;
        const char* record = bytes.constData() + r.at;
        for (size_t k = 0; k < r.count; ++k) {
            // The partners are scattered over memory: fetch a few ahead.
            auto at = [&](quint32 place) { return place < items.size() ? items[place] : nullptr; };
            if (k + 16 < r.count)
                __builtin_prefetch(at(ConnectionAt(record, k + 16).second));
            if (k + 8 < r.count) {
                if (Item* ahead = at(ConnectionAt(record, k + 8).second))
                    __builtin_prefetch(ahead->connections.RawEntries());
            }
            const auto [a, b] = ConnectionAt(record, k);
            Item* x = at(a);
            Item* y = at(b);
            if (x && y && !x->removing && !y->removing && x->type->GetRelation(y->type))
                m_data->Connect(x, y);
        }
    }
    m_data->EndBatch();
}

bool DataSaver::Merge(const QByteArray& bytes)
{
    Parsed parsed;
    if (!Parse(bytes, parsed, m_lastError))
        return false;
    Resolve(parsed);
    Apply(bytes, parsed);
    return true;
}

void DataSaver::Load(const QString& path)
{
    std::unique_ptr<Prefetched> ahead = std::move(PrefetchSlot());
    m_keptAside.clear();
    m_lastError.clear();
    // A temporary file left by a cut save: the data file itself is still whole.
    QFileInfo info(path);
    const QStringList leftovers = info.dir().entryList({ info.fileName() + ".tmp*" }, QDir::Files | QDir::Hidden);
    for (const QString& name : leftovers)
        QFile::remove(info.dir().filePath(name));

    if (!QFile::exists(path)) {
        Notify(true);
        return;
    }
    FileBytes file;
    Parsed parsed;
    // A well-formed file read ahead is taken as it is; otherwise it is read
    // again here, and what is wrong with it found again.
    if (ahead && ahead->thread.joinable())
        ahead->thread.join();
    const bool prefetched = ahead && ahead->ok && ahead->path == path;
    if (prefetched) {
        file = std::move(ahead->file);
        parsed = std::move(ahead->parsed);
    }
    ahead.reset();
    if (!prefetched && !(file.Read(path, m_lastError) && Parse(file.bytes, parsed, m_lastError))) {
        // Never lose it: keep it aside under a new name and start from scratch.
        QString aside = path + ".malformed-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss");
        for (int n = 2; QFile::exists(aside); ++n)
            aside = path + ".malformed-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss") + "-" + QString::number(n);
        if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) == 0) {
            m_keptAside = aside;
            if (QFileInfo(aside).isFile())
                QFile::setPermissions(aside, kPrivateFile);
        } else
            m_blockedPath = path;
        Log(kArea, 1, QString("The data file %1 could not be loaded (%2); %3.")
                          .arg(path, m_lastError,
                              m_keptAside.isEmpty() ? "it could not be moved aside and will not be overwritten"
                                                    : "it was kept as " + m_keptAside));
        Notify(true);
        throw DataLoadFailure();
    }
    Resolve(parsed);
    Apply(file.bytes, parsed);
    Log(kArea, 1, QString("Loaded %1 items and %2 connections from %3.").arg(parsed.items).arg(parsed.connections).arg(path));
    Notify(false);
}

