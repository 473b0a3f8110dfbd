#pragma once
// The disk steps of downloads and their hand-offs between the GUI thread and
// the disk worker. A download's partial file is begun (chosen, recorded,
// opened), looked at or emptied, and its finished file filed into
// "complete", each on one disk worker, in the order asked for, from what the
// GUI thread gathered; each outcome comes back on the GUI thread in that
// order. This class owns the worker, the steps in flight, the undo of a file
// begun for a download that is gone, and the pause of the pruning of stale
// records; the steps' bodies (which file, which name) are the engine's.
//
// Which download and which file each outcome applies to:
// - A step is begun for one download, named by its download_order: a number
//   never given to another download, nor to the same one removed and added
//   again. Its outcome goes back with that number and is applied to the
//   download of that number while it is there, never to whichever download
//   has its name now. One hand-over is deliberate: a download added again
//   while its earlier self is being filed waits for that filing
//   (WaitForFiling) and is handed its outcome, when it is for its source.
// - The file a beginning opened is known by its device and inode and by the
//   serial of the step (PreparedFile::serial). The last step to open a file
//   holds it; the undo of a beginning removes the file it made only while
//   that step still holds it (and it is still empty, at its name): a file
//   that a later beginning took since is left alone.
// - A filing moves the file the download's thread wrote (Filing::written, by
//   device and inode), never whatever holds the name by then.
//
// Steps in flight: a beginning, from the arrival of the download's file
// connection (Beginning) to its end (Begun), and a filing, until its outcome
// is applied. While one is in flight the pruning of stale records waits: a
// record written for a file about to be made, or moved into its place, is
// not stale.
//
// At the end (Finish) the steps handed in are waited for, for a bounded time,
// and their outcomes applied before the queue is saved for the last time;
// what can't be done in that time is found again by its record at the next
// start.
#include "SourceRecord.h"
#include "store/OrderedWorker.h"
#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/types.h>
#include <tuple>
#include <utility>
#include <vector>

class SlicedWork;

class DownloadDiskSteps : public QObject {
public:
    using Outcome = OrderedWorker::Outcome;
    using Refusal = OrderedWorker::Refusal;
    // A file by device and inode.
    using FileId = std::pair<dev_t, ino_t>;

    // Which file of the downloads folder a download appends to. A download
    // appends only to a partial file recorded as begun for its source; any
    // other bytes at its path are left alone and it takes a free name beside
    // them.
    struct PartialFile {
        QString path; // "/" separators; empty when no name is free
        bool recorded = false; // its record already names this download's source
        bool startOver = false; // begun for this file at another size: emptied
        // A partial file from before records were kept, named by the row:
        // recorded for it now and resumed.
        bool adopted = false;
        QString note; // what the download's row says about it
    };
    // What the store knows of a download's partial file, gathered on the GUI
    // thread for the worker that looks at the disk.
    struct PartialFileQuery {
        QString root; // the downloads folder that holds it
        QString folder; // its downloading folder ("/"), for messages
        QString plain; // the file's own name there
        QString given; // the name the row gives it
        // The row is from before records were kept: the file it names is its.
        bool adoptable = false;
        FileSource source;
        // The files that running downloads write. Downloads being begun
        // choose one at a time on the worker, each recording its choice
        // before the next looks.
        QSet<QString> inUse;
    };
    // What the worker made of a download's partial file: the file chosen and
    // opened with the bytes it holds and their tail, or why not (with the
    // file open, its tail could not be read). A descriptor not taken is
    // closed.
    struct PreparedFile {
        quint64 serial = 0; // the step that opened it
        std::optional<FileId> file; // the file opened
        QString root;
        PartialFile partial;
        int descriptor = -1;
        qint64 held = 0;
        QByteArray tail;
        QString error;

        // Made here, under a name that was free.
        bool Fresh() const { return !partial.recorded && !partial.startOver && !partial.adopted; }
        static QString RecordFailed(const QString& why);
        PreparedFile() = default;
        PreparedFile(const PreparedFile&) = delete;
        PreparedFile& operator=(const PreparedFile&) = delete;
        ~PreparedFile();
    };
    // What filing a finished download takes (paths with "/") and what came
    // of it: the name it was moved to, or the status and reason it ends with.
    struct Filing {
        QString root;
        QString partial;
        QString folderText; // the complete folder as the item stores it
        QString folder;
        QString destination;
        FileSource source;
        std::optional<FileId> written; // the file the thread wrote
        QString name;
        QString moved;
        QString status;
        QString reason;
        qint64 held = -1; // what the partial file was found to hold, when short
        QString recordError;
    };

    explicit DownloadDiskSteps(QObject* parent = nullptr);
    // Drops the steps not yet begun and waits for the one being done.
    ~DownloadDiskSteps() override;

    // Beginnings: the download's file connection arrived (and waits); the
    // beginning ends with Begun, on every path.
    void Beginning(qint64 order);
    bool IsBeginning(qint64 order) const;
    void Begun(qint64 order);
    // Chooses, records and opens the download's partial file (prepare, on
    // the worker); done follows with what was made, also when it failed.
    void Prepare(
        std::function<void(PreparedFile&)> prepare, std::function<void(std::shared_ptr<PreparedFile>)> done);
    // Closes what a beginning opened and, when that beginning made the file
    // fresh, removes it with its record while it still holds it, empty.
    void Undo(std::shared_ptr<PreparedFile> prepared);

    // Files a download's finished file (file, on the worker); done follows
    // with the outcome and the downloads (by order) that wait for it.
    void File(std::shared_ptr<Filing> filing, std::function<void(Filing&)> file,
        std::function<void(const Filing&, const std::vector<qint64>& waiting)> done);
    // A download (by order) of the source waits for its earlier self's
    // filing in flight, if there is one: true when it waits.
    bool WaitForFiling(const FileSource& source, qint64 order);
    bool WaitsForFiling(qint64 order) const;
    bool IsFiling(const FileSource& source) const;

    // Any other step that touches a download's files (a look at its partial
    // file, an emptying), in turn with the others.
    void Run(std::function<Outcome()> work, Refusal refused);
    // Reads that need not wait their turn (sizes, records), on a worker of
    // their own.
    void Look(std::function<Outcome()> work, Refusal refused);

    // The records of files no longer there, in these downloads folders, go:
    // found by a look, removed a slice at a time while no step is in flight.
    void PruneStaleRecords(const QStringList& roots);

    // Waits for the steps handed in and applies their outcomes, steps that
    // they hand in included, for at most the bound (in milliseconds); the
    // pruning of stale records stops.
    void Finish(int boundMs);
    // While Finish runs: no download is begun.
    bool Closing() const { return m_closing; }

private:
    using SourceKey = std::tuple<QString, QByteArray, qint64>;
    static SourceKey KeyOf(const FileSource& source);
    struct InFlightFiling {
        SourceKey source;
        std::vector<qint64> waiting;
    };
    bool InFlight() const { return !m_beginning.empty() || !m_filings.empty(); }
    void PruneSlice();

    quint64 m_nextSerial = 1;
    std::set<qint64> m_beginning;
    std::map<quint64, InFlightFiling> m_filings; // by serial
    std::multimap<SourceKey, quint64> m_filingsBySource;
    std::map<qint64, quint64> m_waiting; // download order -> the filing it waits for
    // The serial of the last beginning that opened each file: read and
    // written on the worker only.
    std::map<FileId, quint64> m_holders;
    std::unique_ptr<SlicedWork> m_pruning;
    bool m_closing = false;
    // Last: they go first, waiting for the step being done, which may use
    // the members above.
    OrderedWorker m_worker;
    OrderedWorker m_looks;
};
