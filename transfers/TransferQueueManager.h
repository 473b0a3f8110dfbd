#pragma once
// The transfer engine: download and upload entries with their statuses, the
// download queue and the downloads folder, the upload queue with its serving
// order, slots and speed limit, the negotiation of each transfer with the
// peer, the file connections with one worker thread per transfer, and the
// half-minute checks. One object, reached through transferQueueManager; every
// member runs on the GUI thread except the speed-limit fields, which the
// upload threads share through SpeedLimit under its own mutex, and the static
// disk steps of a download's partial file (begun, emptied, filed), which run
// in turn on the disk worker of DownloadDiskSteps from what the GUI thread
// gathered.
//
// All state lives in the item store. Run-time objects of a running transfer
// (thread, socket, file, counters, clocks) are items whose value is the
// object's address. A worker thread is always stopped and waited for before
// its socket and file are closed, and it and its socket are freed with
// deleteLater, after any signal that it queued has been delivered: such a late
// signal finds no entry any more (its thread item is gone) and is ignored.
//
// Time-outs and schedules (negotiation time-outs, re-queues, place-in-line
// requests, the end of finish-uploads-and-quit) are decided on a monotonic
// clock kept beside the items; the local-time texts on the items are still
// written for the pages to show.
//
// Names that peers choose never leave the downloads folder: every folder
// component and file name is made safe (SafePath.h), each local path is
// checked to stay below the downloads folder before it is used, and its
// folders and files are made, opened, moved and removed without following
// any link below the downloads folder (NoFollowFolder).
#include "DownloadDiskSteps.h"
#include "FileStamp.h"
#include "QueuedUploads.h"
#include "SourceRecord.h"
#include "SpeedLimit.h"
#include "peers/FileInfo.h"
#include "store/DataLoadedEventHandler.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "store/SlicedWork.h"
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

class DownloadThread;
class UploadThread;
class QFile;
class QTcpSocket;
class QTimer;

class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler {
    Q_OBJECT
public:
    // Declares the engine's types, relations, saved types and setting
    // defaults, and connects to the peer network and the timers. Needs
    // gp_server, peerMessenger, timerManager, the settings types and the
    // share manager's types.
    explicit TransferQueueManager(QObject* parent = nullptr);
    // Ends the disk steps in flight, then stops every worker thread and
    // waits for it.
    ~TransferQueueManager() override;
    // Ends the disk steps in flight (for a bounded time) and applies their
    // outcomes, beginning no download: called before the queue is saved for
    // the last time.
    void FinishDiskSteps();

    void DataLoaded() override;
    void NoData() override;

    // The source of a download's file, and the records of what each file of
    // the downloads folder (of the setting, or the download's own) was begun for.
    static FileSource SourceOf(ItemPtr download);
    SourceRecords Records() const { return SourceRecords(DownloadRoot()); }
    SourceRecords RecordsOf(ItemPtr download) const { return SourceRecords(DownloadRootOf(download)); }

    // Status model (TransferStatus.cpp).
    void SetDownloadEntryStatus(ItemPtr download, const QString& status);
    void SetUploadEntryStatus(ItemPtr upload, const QString& status);

    // Download queue (DownloadQueue.cpp).
    ItemPtr AddDownload(const QString& user, const std::string& fileName, const std::string& remoteFolder,
        qint64 fileSize, bool singleDownload, int subfolderSaveLevel);
    ItemPtr GetDownloadEntry(
        const QString& user, const std::string& fileName, const std::string& remoteFolder) const;
    // One of many downloads asked for at once.
    struct WantedDownload {
        QString user;
        std::string fileName;
        std::string remoteFolder;
        qint64 size = 0;
        bool single = false;
        int subfolderSaveLevel = 0;
        // The text of the search that found it, kept with the download (or
        // empty).
        QString searchText;
    };
    // Adds the downloads in their order, each as AddDownload does, after
    // those asked for before, a slice of a turn at a time: the first at once
    // (a few are there on return), the rest in later turns, so that the
    // window answers while a folder of 100,000 files is queued.
    void AddDownloads(std::vector<WantedDownload> wanted);
    // Whether downloads asked for together still wait to be added.
    bool AddingDownloads() const;
    void RequeueDownload(ItemPtr download);
    void RequeueUserDownloads(ItemPtr user);
    void QueueDownloadIfUserOnline(ItemPtr download);
    void OnUserOnline(ItemPtr user);
    void RemoveDownload(ItemPtr download);
    void RequestDownloadPlaceInLine(ItemPtr download);
    bool HasExcludedDownloadExtension(const QString& fileName) const;
    bool IsActivelyDownloadingFromUser(const QString& user) const;
    int ActiveDownloadCount() const;
    // The remote folder, "\" and the file name, as stored.
    static std::string GetRemotePath(ItemPtr download);
    // The bytes that the download's partial file held when its transfer last
    // ended, or when the queue was loaded (found on a worker after the load,
    // each told with DownloadProgressed); 0 when nothing is known.
    qint64 HeldBytes(ItemPtr download) const;

    // Downloads folder (DownloadFolder.cpp). Paths use "\" separators. A
    // download keeps the downloads folder and the path of the file it writes
    // from the moment its partial file is begun (`download_folder`,
    // `download_file_path`, saved with it): the partial file path (complete
    // false) is that one, and once it is filed, the complete path is the
    // file's. A change of the setting applies to downloads not yet begun
    // (and to those whose partial file is gone).
    QString GetDownloadTargetFolder(ItemPtr download, bool complete) const;
    QString GetDownloadTargetPath(ItemPtr download, bool complete) const;
    QString GetDownloadRelativeDownloadFolder(ItemPtr download) const;
    // The file a complete download was filed as, to open it: the path kept
    // with it (the plain name for a row saved before paths were kept); empty
    // while it is not complete, or when the name it was filed under is not
    // known.
    QString GetCompleteFilePath(ItemPtr download) const;
    // Removes the folders below "downloading" that held only the partial
    // file (for the worker).
    static void RemoveDownloadDownloadingFolderIfAppropriate(const QString& root, const QString& partial);
    // The downloads folder of the setting, "/" separators, no trailing "/".
    QString DownloadRoot() const;
    // The downloads folder that holds the download's files: the one its
    // partial file was begun in, else the setting's.
    QString DownloadRootOf(ItemPtr download) const;
    // The path with "/" for the file system, or empty when it would leave the
    // downloads folder (the setting's, or one a download keeps).
    QString LocalPath(const QString& itemPath) const;

    // Upload queue (UploadQueue.cpp).
    void OrderNewUpload(ItemPtr upload);
    static bool UploadEntrySortCompare(ItemPtr a, ItemPtr b);
    static int GetUserGroupDownloadPriority(const QString& user);
    int QueuedUploadCount() const;
    void UnshareUser(const QString& user);
    void ReshareUser(const QString& user);
    void RemoveUpload(ItemPtr upload);

    // Upload slots and speed limit (UploadSlots.cpp).
    void StartNewUploads();
    // Gives every queued upload its number now: a long queue is numbered
    // afresh in later passes once the free slots are handed out (the numbers
    // shift at every start). What orders uploads finishes that first; a
    // place in line asked for meanwhile is answered when it is done.
    void FinishUploadWalk();
    // Whether one of the user's queued uploads may start: the user is online
    // and has none running.
    bool MayStartUploadOf(ItemPtr user) const;
    bool IsFreeToUpload() const;
    int ActiveUploadCount() const;
    void DetermineUploadSpeedLimit();
    int GetUploadSpeed() const;
    void SetUploadSlots(int count);
    void SetUploadSpeedLimit(int kilobytesPerSecond);
    void EnableUploadSpeedLimit(bool enabled);
    SpeedLimit& GetSpeedLimit() { return m_speedLimit; }

    // Pushed uploads (PushedUploads.cpp).
    void AddUpload(const QString& user, const QString& file);
    // Pushes the files to the user in their order, each as AddUpload does,
    // after what was asked for before with AddDownloads or AddUploads, a
    // slice of a turn at a time as AddDownloads adds downloads.
    void AddUploads(const QString& user, std::vector<QString> files);

    // Negotiation (TransferNegotiation.cpp).
    bool CanAcceptUserInitiatedUploadsFrom(const QString& user) const;

    // The monotonic clock of the time-outs, in milliseconds; tests move it on.
    qint64 MonotonicNow() const { return m_clock.elapsed() + m_clockSkew; }
    void AdvanceClock(qint64 milliseconds) { m_clockSkew += milliseconds; }

signals:
    void DownloadProgressed(ItemPtr download);
    void UploadProgressed(ItemPtr upload);
    void TransfersLoaded();
    void CompleteDownloadAdded(ItemPtr completeDownload);
    // A download was added, removed, asked for again after it had ended, or
    // completed: what the data file holds of the queue is out of date.
    void DownloadQueueChanged();

public slots:
    void OnFileTransferRequest(QString user, int direction, uint req, std::string file, qint64 fileSize);
    void OnFileConnection(QString user, QTcpSocket* socket, uint requestID);
    void OnQueueUploadRequested(QString user, QString file);
    void OnQueueDownloadRequested(QString user, std::string path, qint64 size);
    void OnFileConnectionAccepted(QString user, QTcpSocket* socket);
    void OnFileTransferResponse(
        QString user, uint req, bool accepted, bool receivedFileSize, qint64 fileSize, QString denialReason);
    void OnUploadFailedNotification(QString user, std::string path);
    void OnUploadDeniedNotification(QString user, std::string path, QString reason);
    void EveryHalfMinute();
    void OnDownloadPlaceInLine(QString user, std::string path, int place);
    void OnUploadError(QString reason);
    void OnUploadProgress(qint64 offset, int bytesPerSecond);
    void OnUploadComplete();
    void OnDownloadError(QString reason);
    void OnDownloadProgress(qint64 offset, int bytesPerSecond);
    void OnDownloadComplete();
    void DetermineUploadsEffectiveOrder();
    void OnUploadPlaceInLineRequested(QString user, QString file);
    void OnUserShare(QString user, FileInfoMap& folders, AttributeTranslationTable& attributes);
    // Our connection of the type that the user asked for through the server
    // failed: a file connection's reason is kept for the download's row.
    void OnConnectionForUserFailed(QString user, QString type, QString reason);

private:
    // TransferSchema.cpp.
    struct HeldSearch;
    // A complete row that keeps the path of its partial file: the outcome of
    // its filing was lost.
    static bool LostFiling(ItemPtr download);
    void FindHeldBytes();
    void FindHeldBytesSlice();
    void DeclareDownloadTypes();
    void DeclareUploadTypes();
    void DeclareCompleteTypes();
    void OnWritePositionRemoved(ItemPtr item);
    void OnLastReceiptTimeRemoved(ItemPtr item);
    void OnLastSpeedMeasurementTimeRemoved(ItemPtr item);
    void OnBytesPerSecondRemoved(ItemPtr item);
    void OnBytesSinceLastReceiptRemoved(ItemPtr item);
    void OnBytesUploadedRemoved(ItemPtr item);
    void OnUploadEntryRemoved(ItemPtr item);
    void OnDownloadEntryRemoved(ItemPtr item);

    // TransferStatus.cpp: stops and frees the run-time objects of an entry.
    void TearDownDownload(ItemPtr download, bool removeSpeedClock);
    void TearDownUpload(ItemPtr upload);
    static bool IsActive(ItemPtr entry, const char* statusType);
    static QString StatusOf(ItemPtr entry, const char* statusType);
    static QString NowText();

    // UploadQueue.cpp: an upload whose negotiation timed out goes behind the
    // others of its rank (a new arrival number).
    void MoveUploadBehindOthers(ItemPtr upload);
    // UploadQueue.cpp: the steps shared with pushed uploads.
    bool RequeueExistingUpload(ItemPtr user, ItemPtr upload);
    ItemPtr CreateUpload(ItemPtr user, ItemPtr sharedFile, const QString& fileAsRequested);
    static QString SharedFileLocalPath(ItemPtr sharedFile);
    // Records the shared file of the upload as it is now as the upload's
    // offer; the index learns a size that changed since the scan. False, the
    // upload dropped, when its path no longer leads to the file the walk
    // listed (OpenedSharedFile).
    bool OfferSharedFile(ItemPtr upload);
    // Tells the peer that the upload's file is not shared, says why in the
    // log, and drops the upload without starting others.
    void DropUnsharedUpload(ItemPtr upload, const QString& why);
    // Ends an upload whose file is no longer the one offered, telling the
    // peer why, and gives its slot to the next.
    void FailChangedUpload(ItemPtr upload);
    // Stops and removes the entry without starting others; true when it was
    // running.
    bool DropUpload(ItemPtr upload);
    ItemPtr FindSharedFile(const QString& file) const;

    // DownloadFolder.cpp: a finished download's file is checked against its
    // size and record and moved into "complete" on the worker, and the
    // download, found again (or the one added again that waits for it), is
    // told the outcome on the GUI thread.
    using Filing = DownloadDiskSteps::Filing;
    static void FileDownload(Filing& filing);
    void FinishFiling(qint64 order, const Filing& filing, const std::vector<qint64>& waiting);
    ItemPtr FiledDownload(qint64 order, const Filing& filing, const std::vector<qint64>& waiting);
    // Whether the download's source is filed in its complete folder (by the
    // file's record): it is complete then, with that file.
    bool CompleteIfFiled(ItemPtr download);

    // FileConnections.cpp.
    ItemPtr EntryOfSender(const char* threadType) const;
    void RefuseDownload(ItemPtr download, const QString& status, const QString& reason);

    // PartialFiles.cpp: which file of the downloads folder holds whose bytes
    // (DownloadDiskSteps). At most one running download writes a partial file.
    using PartialFile = DownloadDiskSteps::PartialFile;
    using PartialFileQuery = DownloadDiskSteps::PartialFileQuery;
    PartialFileQuery QueryPartialFile(ItemPtr download) const;
    static PartialFile ChoosePartialFile(const PartialFileQuery& query);
    // FileConnections.cpp: a download whose file connection arrived is begun
    // in three turns. On the GUI thread the store is read; on the worker the
    // partial file is chosen, its folders made, its record written and synced
    // and the file opened and its tail read; back on the GUI thread the
    // download, found again, starts its thread, or what the worker made for
    // it goes again when it is gone.
    using PreparedFile = DownloadDiskSteps::PreparedFile;
    void BeginPartialFile(qint64 order, QPointer<QTcpSocket> socket);
    static void PreparePartialFile(const PartialFileQuery& query, PreparedFile& prepared);
    void FinishBeginning(qint64 order, QPointer<QTcpSocket> socket, std::shared_ptr<PreparedFile> prepared);
    void StartDownload(ItemPtr download, QTcpSocket* socket, std::shared_ptr<PreparedFile> prepared);
    // A download begun in another downloads folder than the setting's whose
    // partial file is no longer there (looked at on the worker) is a download
    // not yet begun: it lets its folder go and follows the setting.
    void FollowFolderChange(ItemPtr download);
    // Keeps the file the download writes or wrote (absolute, "/") with it.
    void KeepDownloadFile(ItemPtr download, const QString& root, const QString& path);
    // The records of the files of every downloads folder in use whose files
    // are gone go.
    void LetStaleRecordsGo();
    // The finished file of the download's source in its complete folder, by
    // its record; empty when there is none. Static: the same from the plain
    // name in "complete", for a worker.
    QString FindCompleteFile(ItemPtr download) const;
    static QString FindFiledFile(
        const QString& plain, const SourceRecords& records, const FileSource& source);
    // Empties the download's partial file (never through a link) on the
    // worker, then says why in its row and, with askAgain, asks for it
    // again; when the file could not be emptied the download is a local
    // error.
    void StartPartialFileOver(
        ItemPtr download, const QString& path, const QString& why, bool askAgain = true);
    void SetDownloadNote(ItemPtr download, const QString& note);

    // DownloadQueue.cpp: downloads or pushed uploads asked for together
    // are queued behind those asked for before, and added a slice at a time.
    struct WantedBatch;
    void QueueWanted(std::unique_ptr<WantedBatch> batch);
    void AddWanted();
    // The other spellings of a remote folder that name the same folder (with
    // "/" where it has "\" or the reverse) held by downloads.
    std::vector<std::string> OtherSpellings(const std::string& remoteFolder) const;
    // Notes the remote folder of a download made.
    void NoteRemoteFolder(const std::string& remoteFolder) const;

    // TransferChecks.cpp: the monotonic stamps behind the text ones.
    void StampQueueRequest(const QString& user);
    void StampNextPlaceInLine(const QString& user, qint64 delayMilliseconds);
    // A download whose file connection could be opened neither way is asked
    // for again after a delay that doubles with each such failure in a row,
    // not at once: the row says why meanwhile.
    void PostponeRequeue(ItemPtr download);
    bool RequeuePostponed(ItemPtr download) const;
    void RequeueWhenDue();

    SpeedLimit m_speedLimit;
    ItemPtr lastOrderedUpload;
    QueuedUploads m_queuedUploads;
    // A walk of StartNewUploads through the queue that goes on in later
    // passes: the next place, the next number and what the walk found; the
    // places before `renumbered` may have had numbers given by walks begun
    // before it.
    struct UploadWalk {
        size_t next = 0;
        size_t renumbered = 0;
        long long number = 0;
        std::unordered_map<Item*, bool> userOnline;
        std::vector<QueuedUploads::Place> numbered;
        std::vector<QueuedUploads::Place> kept;
    };
    std::unique_ptr<UploadWalk> m_uploadWalk;
    bool m_inUploadWalk = false;
    // Walks on while slots are free, and after that until `until`; the rest
    // goes on in a later pass.
    void WalkUploads(int free, std::unordered_set<Item*>& busy, const QDeadlineTimer& until);
    void UploadWalkSlice();
    // Places in line asked for (user, file) while the queue was numbered,
    // answered in their order once it is.
    static constexpr size_t kHeldPlaceAsks = 4096;
    std::vector<std::pair<QString, QString>> m_placeAsks;
    void AnswerPlaceAsks();
    void AnswerPlaceInLine(const QString& user, const QString& file);

    QElapsedTimer m_clock;
    qint64 m_clockSkew = 0;
    // Monotonic stamps (MonotonicNow) of what the text stamps record.
    std::unordered_map<Item*, qint64> m_uploadStatusChanged;
    // The file of each upload as it was last offered to the peer.
    std::unordered_map<Item*, FileStamp> m_offers;
    std::map<QString, qint64> m_lastQueueRequest;
    std::map<QString, qint64> m_nextPlaceInLine;
    qint64 m_lastUploadStateChange = -1;
    qint64 m_finishModeSeen = -1; // the first check that saw finish-uploads-and-quit on
    // Downloads whose file connection failed: failures in a row, and when
    // they are asked for again (-1: asked, or by the user).
    struct Retry {
        int failures = 0;
        qint64 due = -1;
    };
    std::unordered_map<Item*, Retry> m_retries;
    // Why our last file connection to each user failed, and when.
    struct ConnectFailure {
        QString reason;
        qint64 at = 0;
    };
    std::map<QString, ConnectFailure> m_fileConnectFailures;
    std::unordered_map<Item*, qint64> m_heldBytes;
    // Downloads, and files pushed to a user, asked for together and not
    // added yet, in order.
    struct WantedBatch {
        std::vector<WantedDownload> downloads;
        QString pushedTo;
        std::vector<QString> pushed;
        SlicedWork work;
    };
    std::deque<std::unique_ptr<WantedBatch>> m_wanted;
    QTimer* m_wantedTimer = nullptr;
    bool m_addingWanted = false;
    // The remote folders of downloads spelled with a "/", by their spelling
    // with "\" only; made at the first look after a load.
    mutable std::unordered_map<std::string, std::vector<std::string>> m_slashFolders;
    mutable bool m_slashFoldersKnown = false;
    // Finds the sizes of the partial files of the queue after a load (their
    // paths worked out a slice at a time), and the records of files no
    // longer there.
    std::unique_ptr<HeldSearch> m_heldSearch;
    // The disk worker, with the steps in flight on it.
    DownloadDiskSteps m_disk;

    friend class TransferTestAccess;
};

extern TransferQueueManager* transferQueueManager;
