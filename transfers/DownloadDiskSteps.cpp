#include "DownloadDiskSteps.h"
#include "TransferFunctions.h"
#include "store/Log.h"
#include "store/NoFollowFolder.h"
#include "store/SlicedWork.h"
#include <QTimer>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::optional<DownloadDiskSteps::FileId> IdOf(int descriptor)
{
    struct stat info;
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0)
        return std::nullopt;
    return DownloadDiskSteps::FileId { info.st_dev, info.st_ino };
}
} // namespace

QString DownloadDiskSteps::PreparedFile::RecordFailed(const QString& why)
{
    return QStringLiteral("Could not record the partial file's source, aborting. Error string: ") + why;
}

DownloadDiskSteps::PreparedFile::~PreparedFile()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

DownloadDiskSteps::DownloadDiskSteps(QObject* parent)
    : QObject(parent)
    , m_worker(std::numeric_limits<qsizetype>::max())
    , m_looks(std::numeric_limits<qsizetype>::max())
{
}

DownloadDiskSteps::~DownloadDiskSteps() = default;

DownloadDiskSteps::SourceKey DownloadDiskSteps::KeyOf(const FileSource& source)
{
    return { source.user, source.remotePath, source.size };
}

void DownloadDiskSteps::Beginning(qint64 order)
{
    m_beginning.insert(order);
}

bool DownloadDiskSteps::IsBeginning(qint64 order) const
{
    return m_beginning.count(order) > 0;
}

void DownloadDiskSteps::Begun(qint64 order)
{
    m_beginning.erase(order);
    if (m_pruning && !InFlight())
        QTimer::singleShot(0, this, &DownloadDiskSteps::PruneSlice);
}

void DownloadDiskSteps::Prepare(
    std::function<void(PreparedFile&)> prepare, std::function<void(std::shared_ptr<PreparedFile>)> done)
{
    auto prepared = std::make_shared<PreparedFile>();
    prepared->serial = m_nextSerial++;
    m_worker.Start(
        0,
        [this, prepared, prepare = std::move(prepare), done]() -> Outcome {
            prepare(*prepared);
            // The file opened is this beginning's now, whoever opened it before.
            prepared->file = IdOf(prepared->descriptor);
            if (prepared->file)
                m_holders[*prepared->file] = prepared->serial;
            return [prepared, done] { done(prepared); };
        },
        [prepared, done](const QString& why) {
            if (prepared->descriptor >= 0) {
                ::close(prepared->descriptor);
                prepared->descriptor = -1;
            }
            prepared->error = PreparedFile::RecordFailed(why);
            done(prepared);
        });
}

void DownloadDiskSteps::Undo(std::shared_ptr<PreparedFile> prepared)
{
    if (prepared->descriptor < 0)
        return;
    m_worker.Start(
        0,
        [this, prepared]() -> Outcome {
            // Held by a later beginning: that one's now.
            const auto holder = prepared->file ? m_holders.find(*prepared->file) : m_holders.end();
            if (holder == m_holders.end() || holder->second != prepared->serial)
                return [] {};
            m_holders.erase(holder);
            if (!prepared->Fresh())
                return [] {};
            const QString& path = prepared->partial.path;
            const QStringList components = NoFollowFolder::ComponentsBelow(prepared->root, path);
            const NoFollowFolder folder
                = NoFollowFolder::Open(prepared->root, components.mid(0, components.size() - 1), false);
            struct stat made;
            struct stat there;
            if (::fstat(prepared->descriptor, &made) == 0 && made.st_size == 0 && folder.IsOpen()
                && folder.Stat(components.last(), &there) && there.st_dev == made.st_dev
                && there.st_ino == made.st_ino && folder.RemoveFile(components.last()))
                SourceRecords(prepared->root).Remove(path);
            return [] {};
        },
        [](const QString&) {});
}

void DownloadDiskSteps::File(std::shared_ptr<Filing> filing, std::function<void(Filing&)> file,
    std::function<void(const Filing&, const std::vector<qint64>& waiting)> done)
{
    const quint64 serial = m_nextSerial++;
    const SourceKey key = KeyOf(filing->source);
    m_filings[serial] = InFlightFiling { key, {} };
    m_filingsBySource.emplace(key, serial);
    const auto landed = [this, serial, key, filing, done] {
        std::vector<qint64> waiting;
        if (const auto found = m_filings.find(serial); found != m_filings.end()) {
            waiting = std::move(found->second.waiting);
            m_filings.erase(found);
        }
        for (auto [at, end] = m_filingsBySource.equal_range(key); at != end; ++at) {
            if (at->second == serial) {
                m_filingsBySource.erase(at);
                break;
            }
        }
        for (qint64 waiter : waiting)
            m_waiting.erase(waiter);
        done(*filing, waiting);
        if (m_pruning && !InFlight())
            QTimer::singleShot(0, this, &DownloadDiskSteps::PruneSlice);
    };
    m_worker.Start(
        0,
        [this, filing, file = std::move(file), landed]() -> Outcome {
            file(*filing);
            // Filed or not, the file the thread wrote is no beginning's now.
            if (filing->written)
                m_holders.erase(*filing->written);
            return landed;
        },
        [filing, landed](const QString& why) {
            filing->status = QStringLiteral("local error");
            filing->reason
                = QStringLiteral("Could not move the file into the complete folder %1. ").arg(filing->folder)
                + why;
            landed();
        });
}

bool DownloadDiskSteps::WaitForFiling(const FileSource& source, qint64 order)
{
    const auto found = m_filingsBySource.find(KeyOf(source));
    if (found == m_filingsBySource.end())
        return false;
    m_filings[found->second].waiting.push_back(order);
    m_waiting[order] = found->second;
    return true;
}

bool DownloadDiskSteps::WaitsForFiling(qint64 order) const
{
    return m_waiting.count(order) > 0;
}

bool DownloadDiskSteps::IsFiling(const FileSource& source) const
{
    return m_filingsBySource.count(KeyOf(source)) > 0;
}

void DownloadDiskSteps::Run(std::function<Outcome()> work, Refusal refused)
{
    m_worker.Start(0, std::move(work), std::move(refused));
}

void DownloadDiskSteps::Look(std::function<Outcome()> work, Refusal refused)
{
    m_looks.Start(0, std::move(work), std::move(refused));
}

void DownloadDiskSteps::PruneStaleRecords(const QStringList& roots)
{
    using Found = std::vector<std::pair<QString, SourceRecords::Stale>>;
    Look(
        [this, roots]() -> Outcome {
            auto stale = std::make_shared<Found>();
            for (const QString& root : roots) {
                for (SourceRecords::Stale& record : SourceRecords(root).FindStale())
                    stale->emplace_back(root, std::move(record));
            }
            return [this, stale] {
                if (stale->empty())
                    return;
                Log(kArea, 2,
                    QStringLiteral("Letting %1 records of files no longer there go").arg(stale->size()));
                m_pruning = std::make_unique<SlicedWork>();
                m_pruning->Then(stale->size(),
                    [stale](size_t i) { SourceRecords((*stale)[i].first).RemoveStale((*stale)[i].second); });
                PruneSlice();
            };
        },
        [](const QString& why) {
            Log(kArea, 1, QStringLiteral("Could not look for records of files no longer there: %1").arg(why));
        });
}

void DownloadDiskSteps::PruneSlice()
{
    // Goes on once no step is in flight.
    if (!m_pruning || InFlight())
        return;
    if (!m_pruning->Run(SlicedWork::Turn()))
        QTimer::singleShot(0, this, &DownloadDiskSteps::PruneSlice);
    else
        m_pruning.reset();
}

void DownloadDiskSteps::Finish(int boundMs)
{
    m_closing = true;
    m_pruning.reset();
    const bool done = m_worker.Finish(QDeadlineTimer(boundMs));
    m_closing = false;
    if (!done)
        Log(kArea, 1,
            QStringLiteral("Steps on the downloads' files did not end in time; their files are found "
                           "again by their records at the next start."));
}
