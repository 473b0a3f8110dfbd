// Saving the data file: the saved items written as records (SaveSnapshot.h),
// through a temporary file beside it that is synced and renamed over it, on
// the calling thread, or read a slice at a time and the file written on a
// thread of its own.
#include "DataFileFormat.h"
#include "DataSaver.h"
#include "Data.h"
#include "SaveSnapshot.h"
#include "SlicedWork.h"
#include "Log.h"
#include "PrivateFiles.h"
#include "Stream.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>
#include <QTimer>
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
    // A save under way in the background holds an older state: one still
    // reading the store gives way to this one (its caller hears this one's
    // outcome), and a file being written ends first (it is the same temporary
    // file). The end of a write may start the next save.
    std::function<void(bool)> earlier = DropReading();
    JoinWrite();
    earlier = Chain(std::move(earlier), DropReading());
    m_lastError.clear();
    bool saved = false;
    if (!Blocked(path)) {
        SaveSnapshot snapshot(m_data, m_savedTypes, m_savedByConnection);
        QFile file;
        bool ok = OpenTemp(path, file, m_lastError);
        if (ok) {
            Stream out(&file);
            snapshot.Run(out, QDeadlineTimer(QDeadlineTimer::Forever));
            ok = snapshot.Written() && out.Flush();
            ok = Commit(file, path, ok, m_lastError);
        }
        saved = Finished(path, ok, snapshot.Refused(), snapshot.RefusedType());
    }
    if (earlier)
        earlier(saved);
    if (!saved)
        throw DataSaveFailure();
}

// A save in the background: the store read a slice at a time on the saver's
// thread, then the file written on a thread of its own.
struct DataSaver::Background {
    // The slices and the outcome's queued call go with it.
    QObject context;
    QTimer slices;
    struct Reading {
        QString path;
        std::unique_ptr<SaveSnapshot> snapshot;
        MemStream bytes;
        std::function<void(bool saved)> done;
    };
    std::unique_ptr<Reading> reading;
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

std::function<void(bool)> DataSaver::Chain(std::function<void(bool)> first, std::function<void(bool)> then)
{
    if (!first || !then)
        return first ? std::move(first) : std::move(then);
    return [first = std::move(first), then = std::move(then)](bool saved) {
        first(saved);
        then(saved);
    };
}

std::function<void(bool)> DataSaver::DropReading()
{
    if (!m_background || !m_background->reading)
        return {};
    m_background->slices.stop();
    std::function<void(bool)> done = std::move(m_background->reading->done);
    m_background->reading.reset();
    return done;
}

void DataSaver::SaveInBackground(const QString& path, std::function<void(bool saved)> done)
{
    if (!m_background) {
        m_background = std::make_unique<Background>();
        m_background->slices.setSingleShot(true);
        m_background->slices.setInterval(0);
        QObject::connect(&m_background->slices, &QTimer::timeout, &m_background->context,
            [this] { ReadSlice(SlicedWork::Turn()); });
    }
    // A reading under way gives way to this later state.
    done = Chain(std::move(done), DropReading());
    m_lastError.clear();
    if (Blocked(path)) {
        StartWrite(path, QByteArray(), false, 0, std::string(), std::move(done), true);
        return;
    }
    auto reading = std::make_unique<Background::Reading>();
    reading->path = path;
    reading->done = std::move(done);
    reading->snapshot = std::make_unique<SaveSnapshot>(m_data, m_savedTypes, m_savedByConnection);
    m_background->reading = std::move(reading);
    ReadSlice(SlicedWork::Turn());
}

void DataSaver::ReadSlice(const QDeadlineTimer& until)
{
    Background::Reading* reading = m_background->reading.get();
    if (!reading)
        return;
    bool read;
    bool roomy = true;
    try {
        read = reading->snapshot->Run(reading->bytes, until);
    } catch (const std::bad_alloc&) {
        read = true;
        roomy = false;
    }
    if (!read) {
        m_background->slices.start();
        return;
    }
    const std::unique_ptr<Background::Reading> finished = std::move(m_background->reading);
    const size_t refused = finished->snapshot->Refused();
    const std::string refusedType = finished->snapshot->RefusedType();
    // Bytes that could not all be gathered (no memory for them) are no data
    // file: nothing is committed, and the old file stays.
    QByteArray bytes;
    if (roomy && finished->snapshot->Written())
        bytes = finished->bytes.GetBuffer();
    else
        m_lastError = "there was not enough memory to write the records";
    finished->snapshot.reset();
    const bool write = !bytes.isEmpty();
    StartWrite(finished->path, std::move(bytes), write, refused, refusedType, std::move(finished->done), false);
}

void DataSaver::StartWrite(const QString& path, QByteArray bytes, bool write, size_t refused,
    const std::string& refusedType, std::function<void(bool saved)> done, bool blocked)
{
    JoinWrite();
    Background* background = m_background.get();
    const QString error = m_lastError;
    background->outcome = [this, path, refused, refusedType, blocked, done = std::move(done)] {
        m_lastError = m_background->error;
        const bool saved = !blocked && Finished(path, m_background->ok, refused, refusedType);
        if (done)
            done(saved);
    };
    background->thread = std::thread([this, background, path, bytes = std::move(bytes), write, error] {
        background->error = error;
        background->ok = false;
        if (write) {
            QFile file;
            background->ok = OpenTemp(path, file, background->error)
                && Commit(file, path, file.write(bytes) == bytes.size(), background->error);
        }
        QMetaObject::invokeMethod(&background->context, [this] { JoinWrite(); }, Qt::QueuedConnection);
    });
}

bool DataSaver::Saving() const
{
    return m_background && (m_background->reading || m_background->thread.joinable());
}

void DataSaver::JoinWrite()
{
    // An outcome may start the next save.
    while (m_background && m_background->thread.joinable()) {
        m_background->thread.join();
        if (auto outcome = std::exchange(m_background->outcome, {}))
            outcome();
    }
}

void DataSaver::FinishBackgroundSave()
{
    while (m_background && m_background->reading) {
        m_background->slices.stop();
        ReadSlice(QDeadlineTimer(QDeadlineTimer::Forever));
    }
    JoinWrite();
}
