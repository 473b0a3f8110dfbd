#pragma once
// The local share: shared folders and who may see them, the share index in the
// item store (folders, files, names, sizes, audio attributes, search tokens),
// answers to other users' searches, and the share lists and folder replies
// that peers ask for.
//
// Disk walks never run on the GUI thread. Every walk (the start-up walk, a newly
// shared folder, the user's rescan) runs on the scanner thread; its result is
// merged into the index on the GUI thread a slice per turn of the event loop
// (SlicedWork::kTurnMs), so the event loop keeps turning while a million files
// are merged. Walks and merges run one at a time in request order; a request made
// while one runs waits for it.
//
// A shared folder that cannot be listed when it is walked (an unmounted disk)
// is logged and left as it is: its files are neither dropped nor counted as
// removed until it can be read again.
#include "CaseFoldIndex.h"
#include "FileScanner.h"
#include "FolderReplyQueue.h"
#include "peers/FileInfo.h"
#include "store/OrderedWorker.h"
#include "server/UserStats.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "store/MemStream.h"
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class SearchAnswerQueue;
class Type;

class SharedFoldersManager : public QObject, public DataHandler {
    Q_OBJECT
public:
    // The most records one reply may hold: what a receiver accepts.
    static constexpr quint32 kMaxRecords = 131072;

    explicit SharedFoldersManager(QObject* parent = nullptr);
    ~SharedFoldersManager() override;

    // Hands every shared folder to the scanner thread (once, after the data
    // file has been loaded).
    void Init();

    // Index and lookups (SharedFoldersManager.cpp).
    // The shared folder of the path, new or existing; a new one is walked in
    // the background.
    ItemPtr AddSharedFolder(const QString& path);
    // The shared file of a full local path ("/" separators in the folder
    // part). A file whose folder and name match exactly wins; otherwise a match
    // that ignores letter case; a null handle when there is none.
    ItemPtr GetSharedFileItem(const QString& path) const;
    // A file found to have another size than the scan gave it (when it is
    // offered for upload): searches and share lists give the new one.
    void SetSharedFileSize(ItemPtr file, qint64 size);
    void RemoveUserShare(const QString& user);
    void OnSharedFileFolderAdded(ItemPtr folder);

    // Visibility (ShareVisibility.cpp).
    ItemSet GetUserSharedFolders(const QString& user) const;
    bool IsFileSharedWithUser(ItemPtr file, const QString& user) const;

    // Searches (ShareSearch.cpp).
    static bool IsSearchTokenSeparator(QChar c);
    // Links the words of the file's name to the file and the words of its
    // folder's path, from its shared folder's own name downward, to the folder
    // (the path above the share takes no part). A file is found by a word
    // linked to it or to its folder.
    void TokenizeSharedFile(ItemPtr file);
    // Answers a search at once; true when a reply was sent.
    bool ProcessSearch(const QString& user, unsigned int ticket, const QString& query);
    // The complete search-result message (code 9) for a search, or false when
    // the search gets no reply; built at once (the searches of the server and
    // the tree are answered a slice at a time instead, SearchReplyBuild.cpp).
    bool BuildSearchReply(
        const QString& user, unsigned int ticket, const QString& query, MemStream& message) const;

    // MP3 attributes (ShareMp3.cpp).
    static QString GetFileItemDisplayString(ItemPtr item);

    // Walks and merges (ShareIndexMerge.cpp).
    void RescanShares();
    // The folder that the shared folder's path (a trailing "/" aside) led to
    // when it was last walked; none before its first walk of this run. A
    // file is sent only from that folder: another one put at the path since
    // (a link swapped in) is shared once a rescan has walked it.
    std::optional<FileIdentity> WalkedRoot(QString root) const;
    // True while a walk or a merge is under way or waiting.
    bool IsScanning() const { return m_merge || m_walkRunning || !m_pendingWalks.empty(); }

    // Share lists and folder replies (ShareMessages.cpp).
    void GetSharedFilesAsUserShare(
        const QString& user, FileInfoMap& share, AttributeTranslationTable& table) const;
    // One's own share as `user` may see it (what GetSharedFilesAsUserShare
    // gives), for the upload browse view, without keeping the window waiting:
    // the share is read from the index in short slices on the GUI thread and
    // `ready` is called later from the event loop with the whole of it, unless
    // `context` has been destroyed meanwhile (then nothing is called). A change
    // of the index while it is read starts the reading again, so `ready` sees
    // one consistent index. Use this, not GetSharedFilesAsUserShare, from the
    // window: a share of a million files takes seconds to read.
    using UserShareReady = std::function<void(FileInfoMap& share, AttributeTranslationTable& table)>;
    void RequestSharedFilesAsUserShare(const QString& user, QObject* context, UserShareReady ready);
    // Builds the user's share list at once (unless it is cached): for callers
    // off the peer network only, since a large share takes seconds.
    MemStream GetSharedFilesMessage(const QString& user);
    // A peer's request for the user's share list: true, with the message, when
    // it is cached; otherwise false, and the list is built in the background
    // and sent to the user, once for every request, when it is ready.
    bool RequestSharedFilesMessage(const QString& user, MemStream& message);
    // Whether the user's share list is ready to send without building it.
    bool IsShareListReady(const QString& user) const;
    // The folder reply (code 37), or false when the user may see no such
    // folder; built at once (a peer's request is built in turns instead,
    // FolderReplyBuild.cpp).
    bool BuildFolderReply(
        const QString& user, quint32 request, const QString& folder, MemStream& message) const;
    // Folder replies waiting to be built for peers, the one under way included.
    size_t FolderRepliesWaiting() const;
    // zlib at level 9 of the bytes, after a 32-bit code.
    static MemStream CompressedMessage(quint32 code, const QByteArray& body);

    // The upload state that search replies carry; the transfer engine installs
    // it (free slot, number of queued uploads). Without it: free, none queued.
    void SetUploadStateProvider(std::function<bool()> isFreeToUpload, std::function<int()> queuedUploadCount);

    FileScanner* Scanner() const { return m_scanner; }

public slots:
    // Answer a search now. The searches of the server and the tree do not
    // come here: they wait in a queue that answers them a slice per turn and
    // drops the oldest of a flood (SearchAnswerQueue), each reply compressed
    // on a worker thread; SearchProcessed follows once a reply is sent.
    void OnDNetSearchRequest(QString user, quint32 ticket, QString query);
    void OnDirectFileSearch(QString user, quint32 ticket, QString query);
    void OnMP3Scanned(
        QString path, int mpegVersion, QString channelMode, int frequencyIndex, bool vbr, int bitrate);
    void OnConnectedToServer();
    // Searches from the server and the tree wait in the answer queue while
    // the user is logged in; a logout drops them.
    void QueueSearch(QString user, quint32 ticket, QString query);
    void OnLoggedOut();
    // The share's folder and file counts to the server (kept for the next
    // login while not logged in).
    void SendShareCounts();
    void OnReceivedUserStats(QString user, UserStats stats);
    void OnFoldersRescanned();
    void OnFoldersListed();

signals:
    void MP3ScansRequired(QStringList roots, QStringList paths);
    void SharedFilesRescanned(int added, int removed);
    void SearchProcessed(QString query, bool answered);
    // A folder given to AddSharedFolder has been walked and merged: its files
    // are in the index and found by searches. `files` is the number of files
    // shared under it now. Sent once per added folder, also when a rescan
    // requested meanwhile did the walk; a folder unshared before its walk was
    // merged is reported with 0 files. The add-folder dialog and the first
    // start wait for it (IsScanning() tells whether any walk is still going).
    void SharedFolderScanned(QString path, int files);

private:
    enum class WalkKind { Startup, Add, Rescan };
    struct WalkRequest {
        WalkKind kind;
        QStringList roots;
    };
    struct Merge;
    struct SharePrebuild;
    struct UserShareBuild;

    // ShareNetwork.cpp: the wiring to the peer network and the search tree, and
    // sending.
    void ConnectNetwork();
    void DisconnectNetwork();
    void SendToUser(const QString& user, MemStream& message);

    // ShareIndexMerge.cpp.
    void RequestWalk(WalkKind kind, const QStringList& roots);
    void StartNextWalk();
    void AddWalkPart(FileScanner::Walk part);
    void EndWalk(FileScanner::Walk walk);
    void MergeSlice();
    bool MergeFolders(const QDeadlineTimer& turn);
    void OpenFolder();
    bool MergeFiles(const QDeadlineTimer& turn);
    void CloseFolder();
    bool SweepFolders(const QDeadlineTimer& turn);
    void FinishMerge();
    void FileStep(ItemPtr file, const QString& folderPath, const QString& name, qint64 size);
    struct RunName;
    ItemPtr NewSharedFile(ItemPtr folder, const RunName& name, qint64 size, quint32 words);
    std::vector<std::pair<Item*, Item*>>& PendingLinks();
    void LinkPending();
    void AddWalkWords(
        Item* file, const FileScanner::ScannedFile& scanned, std::vector<std::pair<Item*, Item*>>& links);
    void KeepUnavailable(ItemPtr root, const std::set<QString>& paths);
    int RemoveFolderWithFiles(ItemPtr folder);
    void UnshareFolders(ItemPtr root);
    // The server hears the share's counts soon after they change.
    void ScheduleShareCounts();
    void OnIndexItemRemoved(ItemPtr item);
    // The candidates of a search: the files that every token reaches, each once.
    std::vector<Item*> FilesWithTokens(const std::vector<Item*>& tokens) const;

    // SearchReplyBuild.cpp: a search's reply built a slice at a time.
    struct SearchReply;
    // False when the search gets no reply.
    bool BeginSearchReply(SearchReply& reply) const;
    void AddSearchRecord(SearchReply& reply, ItemPtr file) const;
    // Goes on until the turn is over; true once done.
    bool ContinueSearchReply(SearchReply& reply, const QDeadlineTimer& turn) const;
    // The answer to a search from the server or the tree, in turns.
    std::function<bool(const QDeadlineTimer&)> AnswerInTurns(
        const QString& user, quint32 ticket, const QString& query);

    // FolderReplyBuild.cpp: folder replies to peers, built a slice at a time.
    struct FolderReply;
    // The folder of the path (a peer's, "\\"-separated) when the user may see it.
    ItemPtr VisibleFolder(const QString& user, const QString& folder) const;
    FileInfo FolderRecord(Item* file) const;
    static MemStream FolderReplyMessage(
        quint32 request, const QString& folder, const SharedFolderInfo& files);
    FolderReplyQueue::Work FolderReplyInTurns(const FolderReplyQueue::Request& request);
    void AnswerFolderRequest(quint64 connection, const MemStream* reply);

    // ShareSearch.cpp.
    std::vector<Item*> FolderTokens(ItemPtr folder) const;
    void CutTokens(std::string_view lowerUtf8, std::vector<Item*>& tokens) const;
    void TokenizeFile(Item* file);

    // ShareMessages.cpp.
    static void AddAudioAttributes(ItemPtr file, FileInfo& info);
    // The index changed: cached lists are stale, and the list that everybody
    // may see is built anew in the background once the index is quiet. A
    // change of the index's shape (items removed, visibility) also restarts
    // the lists being built; a change of a file's audio attributes does not,
    // so that a stream of MP3 results never keeps a list from being answered.
    void InvalidateShareLists(bool shape = true);
    void AddFolderToShare(ItemPtr folder, FileInfoMap& share) const;
    void AddFolderFiles(Item* folder, FileInfoSet& files) const;
    // The share-list record of one file item.
    FileInfo FileRecord(Item* file) const;
    std::vector<quint64> ShareListKey(const ItemSet& folders) const;
    // ShareListPrebuild.cpp: share lists built in the background.
    bool CachedOrQueued(const QString& user, MemStream& message);
    SharePrebuild& QueueBuild(std::vector<quint64> key, const ItemSet& visible);
    void StartPrebuild();
    void ScheduleSlice(int ms = 1);
    void PrebuildSlice();
    // Gives the folders of the build their keys until the slice is over;
    // true once all have one and are in key order.
    bool KeyFolders(SharePrebuild& build, const QDeadlineTimer& turn);
    // Takes the file items of the next key's folders; then reads them into
    // records and writes the folder until the slice is over, true once it is
    // written (a big folder takes several slices).
    void BeginFolder(SharePrebuild& build);
    bool WriteFolder(SharePrebuild& build, const QDeadlineTimer& turn);
    // Starts the packer on the build about to be written; false while the
    // packer is busy with the one before.
    bool StartPacking(const std::shared_ptr<SharePrebuild>& build);
    void PackingDone(const std::shared_ptr<SharePrebuild>& build);
    void RestartBuild(SharePrebuild& build);
    void StoreShareList(const std::vector<quint64>& key, const MemStream& message);
    // OwnShareBuild.cpp: one's own share read for the upload browse view.
    void UserShareSlice();
    void ReportAddedFolders(const QStringList& roots);

    QThread m_scannerThread;
    FileScanner* m_scanner;
    int m_addedCount = 0;
    int m_removedCount = 0;

    Type* m_sharedFolderType;
    Type* m_fileType;
    Type* m_folderType;
    Type* m_nameType;
    Type* m_sizeType;
    Type* m_scannedType;
    Type* m_tokenType;
    Type* m_userType;
    // Folder paths by their lower-case form; names are compared within a folder.
    CaseFoldIndex m_folderFold;

    std::deque<WalkRequest> m_pendingWalks;
    WalkRequest m_runningWalk;
    bool m_walkRunning = false;
    std::unique_ptr<Merge> m_merge;
    QTimer m_sliceTimer;
    QTimer m_countsTimer;

    std::function<bool()> m_isFreeToUpload;
    std::function<int()> m_queuedUploadCount;

    // Compressed share lists by the visible folders they were built for; all
    // dropped whenever the index changes.
    quint64 m_indexGeneration = 0;
    quint64 m_shapeGeneration = 0; // advanced by changes of shape only
    quint64 m_cacheGeneration = 0;
    std::map<std::vector<quint64>, MemStream> m_shareListCache;
    QTimer m_prebuildTimer;
    // Builds under way: collected one at a time in order (the front one) and
    // packed by m_packer while it is written; once written, a build waits in
    // m_packing for the packer to finish it (the next one is written after).
    std::deque<std::shared_ptr<SharePrebuild>> m_collecting;
    std::deque<std::shared_ptr<SharePrebuild>> m_packing;
    bool m_sliceQueued = false;
    QThread* m_packer = nullptr;

    // Searches from the server and the tree, answered a turn at a time;
    // their replies are compressed by m_replyPacker, one at a time. A logout
    // starts a new session: what was asked before is not answered after it.
    SearchAnswerQueue* m_searches;
    OrderedWorker* m_replyPacker;
    bool m_replyPacking = false;
    quint64 m_answerSession = 0;
    bool m_loggedOut = false; // from a logout to the next login
    // Folder replies for peers, read a turn at a time; compressed by
    // m_folderPacker, one at a time.
    FolderReplyQueue* m_folderReplies;
    OrderedWorker* m_folderPacker;
    quint64 m_folderPacking = 0; // the connection of the reply being packed
    // Shares being read for RequestSharedFilesAsUserShare, the front one first.
    std::deque<std::unique_ptr<UserShareBuild>> m_userShareBuilds;
    QTimer m_userShareTimer;
    // Folders given to AddSharedFolder whose walk has not been merged yet.
    std::set<QString> m_addsAwaited;
    // The folder each shared folder's path led to at its last walk of this
    // run, by the path without a trailing "/".
    std::map<QString, FileIdentity> m_walkedRoots;
};

extern SharedFoldersManager* sharedFoldersManager;
