// Saving the data file: the saved items written as records, through a
// temporary file beside it that is synced and renamed over it, on the calling
// thread or with the file written on a thread of its own.
#include "DataFileFormat.h"
#include "DataSaver.h"
#include "Data.h"
#include "Log.h"
#include "PrivateFiles.h"
#include "Stream.h"
#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unordered_set>
#include <unistd.h>

using namespace DataFileFormat;

bool DataSaver::IsSaved(Type* type, const void* itemPtr) const
{
    const Item* item = static_cast<const Item*>(itemPtr);
    auto it = m_savedByConnection.find(type->Name());
    if (it == m_savedByConnection.end())
        return false;
    for (const std::string& otherName : it->second) {
        Type* other = m_data->HasType(otherName);
        if (other && item->connections.First(other))
            return true;
    }
    return false;
}

std::vector<Item*> DataSaver::SavedItems(size_t& refused, std::string& refusedType) const
{
    std::vector<Item*> saved;
    refused = 0;
    for (Type* type : m_data->Types()) {
        bool all = std::find(m_savedTypes.begin(), m_savedTypes.end(), type->Name()) != m_savedTypes.end();
        bool some = !all && m_savedByConnection.count(type->Name());
        if (!all && !some)
            continue;
        const ChunkedSet& items = type->Items();
        for (ChunkedSet::Position p; items.Valid(p); items.Advance(p)) {
            Item* item = items.At(p);
            if (!all && !IsSaved(type, item))
                continue;
            if (item->value.size() > kMaxSavedValue) {
                if (!refused++)
                    refusedType = type->Name();
                continue;
            }
            saved.push_back(item);
        }
    }
    return saved;
}

bool DataSaver::WriteRecords(OutputStream& out, const std::vector<Item*>& saved)
{
    for (size_t k = 0; k < saved.size(); ++k)
        saved[k]->saveIndex = quint32(k + 1);
    bool ok = out.WriteBytes(kMagic, 8) && out.WriteUInt32(kVersion);
    // Items, a record per run of one type (at most kMaxStreamCount each).
    for (size_t k = 0; ok && k < saved.size();) {
        Type* type = saved[k]->type;
        size_t end = k;
        while (end < saved.size() && saved[end]->type == type && end - k < kMaxStreamCount)
            ++end;
        ok = out.WriteUInt8(kItems) && out.WriteString(type->Name()) && out.WriteUInt32(quint32(end - k));
        for (; ok && k < end; ++k) {
            Item* item = saved[k];
            const std::string_view value(item->value);
            const quint8 flags = type->IsGlobalNullItem(item) ? kGlobalNullFlag : 0;
            if (value.size() <= kMaxStreamCount) {
                out.WriteText(value);
                ok = out.WriteUInt8(flags);
                continue;
            }
            const size_t pieces = (value.size() + kMaxStreamCount - 1) / kMaxStreamCount;
            out.WriteText(std::string_view());
            out.WriteUInt8(flags | kLongValueFlag);
            ok = out.WriteUInt32(quint32(pieces));
            for (size_t p = 0; ok && p < pieces; ++p)
                ok = out.WriteText(value.substr(p * kMaxStreamCount, kMaxStreamCount));
        }
    }
    // Connections between saved items, each once.
    quint64 connections = 0;
    std::vector<std::pair<quint32, quint32>> block;
    auto flush = [&] {
        if (block.empty())
            return true;
        bool good = out.WriteUInt8(kConnections) && out.WriteUInt32(quint32(block.size()));
        for (const auto& [a, b] : block) {
            out.WriteUInt32(a);
            good = out.WriteUInt32(b) && good;
        }
        connections += block.size();
        block.clear();
        return good;
    };
    for (size_t k = 0; ok && k < saved.size(); ++k) {
        Item* item = saved[k];
        item->connections.ForEach([&](Item* other) {
            if (other->saveIndex <= item->saveIndex)
                return;
            block.emplace_back(item->saveIndex - 1, other->saveIndex - 1);
            if (block.size() == kMaxStreamCount)
                ok = flush() && ok;
        });
    }
    ok = ok && flush();
    ok = ok && out.WriteUInt8(kEnd) && out.WriteUInt32(quint32(saved.size())) && out.WriteUInt32(quint32(connections));
    for (Item* item : saved)
        item->saveIndex = 0;
    return ok;
}

bool DataSaver::OpenTemp(const QString& path, QFile& file, QString& error)
{
    // The file holds the login password: private from its first byte, in a
    // folder of the user's alone when the client makes it. The renamed copy
    // takes the place of an older, looser file.
    const QString temp = path + ".tmp" + QString::number(QCoreApplication::applicationPid());
    file.setFileName(temp);
    QFile::remove(temp);
    const QString folder = QFileInfo(path).absolutePath();
    if (!PrivateFiles::MakeFolder(folder)) {
        error = QString("the folder %1 can't be made: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kPrivateFile)) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool DataSaver::Commit(QFile& file, const QString& path, bool written, QString& error)
{
    bool ok = written && file.flush() && ::fsync(file.handle()) == 0;
    if (!ok)
        error = file.errorString();
    file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    if (ok && std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ok = false;
    }
    if (!ok) {
        QFile::remove(file.fileName());
        return false;
    }
    // Make the rename itself durable.
    int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool DataSaver::Blocked(const QString& path)
{
    if (m_blockedPath.isEmpty() || m_blockedPath != path)
        return false;
    m_lastError = "the malformed data file there could not be moved aside";
    Log(kArea, 1, "Not saving over " + path + ": " + m_lastError + ".");
    return true;
}

bool DataSaver::Finished(const QString& path, bool ok, size_t refused, const std::string& refusedType)
{
    if (!ok) {
        Log(kArea, 1, "Saving the data file " + path + " failed: " + m_lastError + ".");
        return false;
    }
    if (refused) {
        m_lastError = QString("%1 value(s) longer than %2 bytes (the first of type %3) could not be saved; "
                              "everything else was")
                          .arg(refused)
                          .arg(kMaxSavedValue)
                          .arg(QString::fromStdString(refusedType));
        Log(kArea, 1, "Saving the data file " + path + ": " + m_lastError + ".");
        return false;
    }
    return true;
}

void DataSaver::Save(const QString& path)
{
    // A save under way writes the same temporary file, and an older state:
    // it ends first.
    FinishBackgroundSave();
    m_lastError.clear();
    if (Blocked(path))
        throw DataSaveFailure();
    size_t refused = 0;
    std::string refusedType;
    const std::vector<Item*> saved = SavedItems(refused, refusedType);
    QFile file;
    bool ok = OpenTemp(path, file, m_lastError);
    if (ok) {
        Stream out(&file);
        ok = WriteRecords(out, saved) && out.Flush();
        ok = Commit(file, path, ok, m_lastError);
    }
    if (!Finished(path, ok, refused, refusedType))
        throw DataSaveFailure();
}

// A save whose file is written on a thread of its own.
struct DataSaver::Background {
    // The outcome's queued call goes with it.
    QObject context;
    std::thread thread;
    // Written by the thread, read once it has been joined.
    bool ok = false;
    QString error;
    // Runs on the saver's thread once the file is written.
    std::function<void()> outcome;
};

struct DataSaver::ChangeWatch : DataHandler {
    std::unordered_set<const Type*> whole; // saved whole
    std::unordered_set<const Type*> looked; // saved, or deciding what is
    bool changed = false;
};

void DataSaver::WatchForChanges()
{
    m_watch = std::make_unique<ChangeWatch>();
    ChangeWatch* watch = m_watch.get();
    for (Type* type : m_data->Types()) {
        const std::string& name = type->Name();
        if (std::find(m_savedTypes.begin(), m_savedTypes.end(), name) != m_savedTypes.end())
            watch->whole.insert(type);
        if (m_savedByConnection.count(name))
            watch->looked.insert(type);
        for (const auto& [saved, others] : m_savedByConnection)
            if (std::find(others.begin(), others.end(), name) != others.end())
                watch->looked.insert(type);
    }
    watch->looked.insert(watch->whole.begin(), watch->whole.end());
    watch->SubscribeFunction(m_data->itemAdded, [watch](ItemPtr item) {
        watch->changed = watch->changed || watch->whole.count(item.Get()->type);
    });
    watch->SubscribeFunction(m_data->itemRemoved, [watch](ItemPtr item) {
        watch->changed = watch->changed || watch->looked.count(item.Get()->type);
    });
    auto linked = [watch](ConnectionInfo& link) {
        watch->changed = watch->changed
            || (watch->looked.count(link.first.Get()->type) && watch->looked.count(link.second.Get()->type));
    };
    watch->SubscribeFunction(m_data->connected, linked);
    watch->SubscribeFunction(m_data->disconnected, linked);
}

bool DataSaver::ChangedSinceWatch() const
{
    return m_watch && m_watch->changed;
}

// Here, where a background save is known whole.
DataSaver::DataSaver(Data* data)
    : m_data(data ? data : &d)
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    FinishBackgroundSave();
    if (dataSaver == this)
        dataSaver = nullptr;
}

void DataSaver::SaveInBackground(const QString& path, std::function<void(bool saved)> done)
{
    FinishBackgroundSave();
    if (!m_background)
        m_background = std::make_unique<Background>();
    Background* background = m_background.get();
    m_lastError.clear();
    const bool blocked = Blocked(path);
    size_t refused = 0;
    std::string refusedType;
    QByteArray bytes;
    bool written = false;
    if (!blocked) {
        // The store is read here, on its own thread, into memory. Bytes that
        // could not all be written there (no memory for them) are no data
        // file: nothing is committed, and the old file stays.
        std::vector<Item*> saved;
        try {
            saved = SavedItems(refused, refusedType);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            Stream out(&buffer);
            written = WriteRecords(out, saved) && out.Flush();
        } catch (const std::bad_alloc&) {
            for (Item* item : saved)
                item->saveIndex = 0;
        }
        if (!written) {
            bytes = QByteArray();
            m_lastError = "there was not enough memory to write the records";
        }
    }
    const QString error = m_lastError;
    background->outcome = [this, path, refused, refusedType, blocked, done = std::move(done)] {
        m_lastError = m_background->error;
        const bool saved = !blocked && Finished(path, m_background->ok, refused, refusedType);
        if (done)
            done(saved);
    };
    background->thread = std::thread([this, background, path, bytes, blocked, written, error] {
        background->error = error;
        background->ok = false;
        if (!blocked && written) {
            QFile file;
            background->ok = OpenTemp(path, file, background->error)
                && Commit(file, path, file.write(bytes) == bytes.size(), background->error);
        }
        QMetaObject::invokeMethod(&background->context, [this] { FinishBackgroundSave(); }, Qt::QueuedConnection);
    });
}

bool DataSaver::Saving() const
{
    return m_background && m_background->thread.joinable();
}

void DataSaver::FinishBackgroundSave()
{
    // An outcome may start the next save.
    while (Saving()) {
        m_background->thread.join();
        if (auto outcome = std::exchange(m_background->outcome, {}))
            outcome();
    }
}
