#pragma once
// The data file: the saved part of the item store in one binary file.
//
// Format (all through the byte streams, so every count is at most 131072):
//   "MRWBDATA", u32 version, then records, each a u8 kind:
//     1 items:       str type name, u32 n, n x (str value, u8 flags)
//                    flags: 1 the type's global null item; 2 a long value:
//                    the str is empty and u32 p, p x str pieces follow, the
//                    value being the pieces joined (each at most 131072 bytes)
//     2 connections: u32 n, n x (u32 a, u32 b) — places of items in file order
//     0 end:         u32 item total, u32 connection total
// A big type or connection list spans several records. Loading reads and checks
// the whole file before it touches the store, so a malformed file changes
// nothing; it is then kept aside under a new name. Saving writes a temporary
// file beside the data file, flushes and syncs it, and renames it over the old
// one, so a cut save leaves the old file whole. The file holds the password:
// every copy is the user's alone (0600, a kept-aside file too), and a missing
// folder is made 0700.
//
// A value longer than kMaxSavedValue is not saved: the rest of the store is,
// and then the save reports the failure (log line, DataSaveFailure).
//
// Loading merges into the store by one rule: a stored item takes the place of
// an item of its type and value that the store held before the load (each
// such item once), so stored connections replace defaults written before the
// load; stored items never merge with one another.
#include "DataLoadedEventHandler.h"
#include "StoreExceptions.h"
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Data;
class QDeadlineTimer;
class QFile;

class DataSaver {
public:
    // The longest value that is saved.
    static constexpr quint64 kMaxSavedValue = 16 * 1024 * 1024;

    explicit DataSaver(Data* data = nullptr);
    ~DataSaver();

    // The home folder's path followed by "/.Marrowby".
    static QString DefaultPath();

    // Every item of the type is saved.
    void AddSavedType(const std::string& type);
    // Items of the type are saved when connected to an item of the other type;
    // several registrations for one type add up.
    void AddSavedByConnectionType(const std::string& type, const std::string& other);

    void AddDataLoadedEventHandler(DataLoadedEventHandler* handler);
    void RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler);

    // Starts reading and checking the data file on a thread of its own, so
    // that the load of the same path that follows finds that work done or
    // under way (at start-up the window is built meanwhile).
    static void Prefetch(const QString& path);
    // Reads the data file and merges it into the store, then tells every
    // data-loaded handler DataLoaded (and NoData when there was no file). A file
    // that is malformed or can't be read is renamed aside (KeptAsidePath()),
    // handlers hear DataLoaded and NoData, and DataLoadFailure is thrown.
    void Load(const QString& path);
    // Merges a data file's bytes into the store; false (and nothing changed)
    // when they are malformed. Tells no handler.
    bool Merge(const QByteArray& bytes);
    // Writes the saved types; throws DataSaveFailure and leaves the old file
    // as it was when the write fails. Also throws DataSaveFailure, after
    // writing everything else, when a value was too long to be saved.
    void Save(const QString& path);
    // Writes what Save writes, as the store stands now, without holding this
    // thread: the store is read into memory a slice at a time from this
    // thread's event loop (changes made meanwhile are not saved: see
    // SaveSnapshot.h), and the file written on a thread of its own. done
    // runs from this thread's event loop with the outcome (LastError() tells
    // a failure), or at the start of the next save of either kind, which
    // waits for this one's file. A save that begins while this one still
    // reads the store takes its place and tells done its own outcome.
    void SaveInBackground(const QString& path, std::function<void(bool saved)> done);
    // Whether a save in the background is under way: reading the store or
    // writing its file.
    bool Saving() const;
    // From now on, notes whether what a save writes may change: an item of a
    // type saved whole made, an item of a saved type removed, a connection
    // made or dropped between two types that saves write or look at. Other
    // changes (an online state, a transfer's progress) do not count.
    void WatchForChanges();
    // True once such a change came after WatchForChanges().
    bool ChangedSinceWatch() const;
    // Reads to the end the store that a background save is reading, waits for
    // its file, and takes its outcome.
    void FinishBackgroundSave();

    // Where the last malformed file was kept, or empty.
    QString KeptAsidePath() const { return m_keptAside; }
    // What the last load or save failure was about.
    QString LastError() const { return m_lastError; }

private:
    struct Parsed;
    struct FileBytes;
    struct Prefetched;
    struct Background;
    static std::unique_ptr<Prefetched>& PrefetchSlot();
    // Reads the file's records; their types are looked up by Resolve.
    static bool Parse(const QByteArray& bytes, Parsed& parsed, QString& error);
    void Resolve(Parsed& parsed) const;
    void Apply(const QByteArray& bytes, const Parsed& parsed);
    void Notify(bool noData);
    // The background save's steps: the end of its reading (its caller's done
    // handed back), a slice of it, the write of the bytes read, and the wait
    // for that write.
    std::function<void(bool saved)> DropReading();
    void ReadSlice(const QDeadlineTimer& until);
    void StartWrite(const QString& path, QByteArray bytes, bool write, size_t refused,
        const std::string& refusedType, std::function<void(bool saved)> done, bool blocked);
    void JoinWrite();
    // Calls both.
    static std::function<void(bool saved)> Chain(
        std::function<void(bool saved)> first, std::function<void(bool saved)> then);
    // The temporary file beside the data file, opened private; and made the
    // data file, synced, once written (removed when anything failed). Both
    // touch no store and run on any thread.
    static bool OpenTemp(const QString& path, QFile& file, QString& error);
    static bool Commit(QFile& file, const QString& path, bool written, QString& error);
    // True, the reason set and logged, when a malformed file at the path is
    // not to be saved over.
    bool Blocked(const QString& path);
    // Logs a failed save, or sets and logs the values left out; true when
    // the save is whole.
    bool Finished(const QString& path, bool ok, size_t refused, const std::string& refusedType);

    Data* m_data;
    std::vector<std::string> m_savedTypes;
    std::map<std::string, std::vector<std::string>> m_savedByConnection;
    std::vector<DataLoadedEventHandler*> m_handlers;
    QString m_keptAside;
    QString m_blockedPath; // a malformed file that could not be moved aside
    QString m_lastError;
    std::unique_ptr<Background> m_background;
    struct ChangeWatch;
    std::unique_ptr<ChangeWatch> m_watch;
};

extern DataSaver* dataSaver;
