#include "SharedFoldersManager.h"
#include "SearchAnswerQueue.h"
#include "ShareListPrebuild.h"
#include "ShareMerge.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include <QDir>
#include <algorithm>
#include <limits>

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace {

void SaveWhenLinked(const char* type, const char* other)
{
    if (dataSaver)
        dataSaver->AddSavedByConnectionType(type, other);
}

void SaveWhole(const char* type)
{
    if (dataSaver)
        dataSaver->AddSavedType(type);
}
}

SharedFoldersManager::SharedFoldersManager(QObject* parent)
    : QObject(parent)
    , m_scanner(new FileScanner)
{
    sharedFoldersManager = this;

    m_sharedFolderType = d.DeclareType("shared_folder", kEntity);
    SaveWhole("shared_folder");
    m_fileType = d.DeclareType("shared_file", kLink, true);
    m_nameType = d.DeclareType("shared_file_name", kLink);
    d.DeclareType("shared_file_lowercase_name", kAttribute);
    m_folderType = d.DeclareType("shared_file_folder", kLink);
    d.DeclareType("shared_file_folder_lowercase_name", kAttribute);
    m_sizeType = d.DeclareType("shared_file_size", kAttribute);
    d.DeclareType("shared_public", kAttribute, true);
    d.DeclareType("shared_userlist", kAttribute, true);
    m_scannedType = d.DeclareType("is_scanned", kAttribute, true);
    d.DeclareType("shared_folder_id", kAttribute);

    d.RelateTypes("shared_folder", "shared_file_folder", Many, Many);
    d.RelateTypes("shared_file", "shared_file_folder", Many, One);
    d.RelateTypes("shared_file_folder", "shared_file_folder_lowercase_name", Many, One);
    d.RelateTypes("shared_file", "shared_file_name", Many, One);
    d.RelateTypes("shared_file_name", "shared_file_lowercase_name", Many, One);
    d.RelateTypes("shared_file", "shared_file_size", Many, One);
    d.RelateTypes("shared_folder", "shared_public", Many, One);
    d.RelateTypes("shared_folder", "shared_userlist", Many, One);
    d.RelateTypes("shared_file_folder", "is_scanned", Many, One);
    d.RelateTypes("shared_folder", "user_list_group", Many, Many);
    d.RelateTypes("shared_folder", "shared_folder_id", One, One);
    for (const char* type : { "shared_public", "shared_userlist", "shared_folder_id" })
        SaveWhenLinked(type, "shared_folder");

    Subscribe(m_folderType->itemAdded, &SharedFoldersManager::OnSharedFileFolderAdded);

    d.DeclareType("user_share", kEntity, true);
    d.DeclareType("user_share_folder", kLink, true);
    d.DeclareType("user_share_folder_parent", kLink, true);
    d.DeclareType("user_share_folder_child", kLink, true);
    d.DeclareType("user_share_folder_name", kAttribute);
    d.DeclareType("user_share_file", kLink, true);
    d.DeclareType("user_share_file_name", kAttribute);
    d.RelateTypes("user_share", "user", One, One);
    d.RelateTypes("user_share", "user_share_folder", One, Many);
    d.RelateTypes("user_share_folder", "user_share_folder_name", Many, One);
    d.RelateTypes("user_share_folder", "user_share_file", One, Many);
    d.RelateTypes("user_share_folder", "user_share_folder_parent", One, One);
    d.RelateTypes("user_share_folder", "user_share_folder_child", One, Many);
    d.RelateTypes("user_share_folder_parent", "user_share_folder_child", One, One);
    d.RelateTypes("user_share_file", "user_share_file_name", Many, One);
    d.RelateTypes("user_share_file", "file_size", Many, One);

    m_tokenType = d.DeclareType("search_token", kAttribute);
    d.RelateTypes("search_token", "shared_file", Many, Many);
    d.RelateTypes("search_token", "shared_file_folder", Many, Many);

    for (const char* attribute :
        { "mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate" })
        d.RelateTypes("shared_file", attribute, Many, One);
    d.RelateTypes("shared_file", "is_scanned", Many, One);
    SaveWhole("is_scanned");
    SaveWhenLinked("shared_file", "shared_file_folder");
    SaveWhenLinked("shared_file_folder", "shared_folder");
    for (const char* type : { "shared_file_name", "shared_file_size", "mpeg_version", "channel_mode",
             "audio_frequency", "bitrate_mode", "bitrate" })
        SaveWhenLinked(type, "shared_file");
    for (const char* attribute : { "bitrate_mode", "bitrate", "length_seconds" })
        d.RelateTypes("user_share_file", attribute, Many, One);

    m_scannerThread.start(QThread::InheritPriority);
    m_scanner->moveToThread(&m_scannerThread);
    connect(this, &SharedFoldersManager::MP3ScansRequired, m_scanner, &FileScanner::OnMP3ScansRequired);
    connect(m_scanner, &FileScanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
        connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);
    }

    d.DeclareType("unshared", kAttribute, true);
    d.RelateTypes("user", "unshared", Many, One);
    SaveWhole("unshared");
    SaveWhenLinked("user", "unshared");

    settings.Set("shared_folder_counter", 1);

    m_searches = new SearchAnswerQueue(
        [this](const QString& user, quint32 ticket, const QString& query) {
            return AnswerInTurns(user, ticket, query);
        },
        this);
    m_replyPacker = new OrderedWorker(std::numeric_limits<qsizetype>::max(), this);
    m_folderReplies = new FolderReplyQueue(
        [this](const FolderReplyQueue::Request& request) { return FolderReplyInTurns(request); },
        [this](quint64 connection) { AnswerFolderRequest(connection, nullptr); }, this);
    m_folderPacker = new OrderedWorker(std::numeric_limits<qsizetype>::max(), this);
    if (gp_server) {
        connect(gp_server, &Server::DirectFileSearch, this, &SharedFoldersManager::QueueSearch);
        connect(gp_server, &Server::Disconnected, this, &SharedFoldersManager::OnLoggedOut);
    }
    connect(m_scanner, &FileScanner::FoldersScanned, this, &SharedFoldersManager::OnFoldersRescanned);
    // The walk is merged while it goes on, in parts of this many files.
    m_scanner->SetPartSize(16384);
    connect(m_scanner, &FileScanner::FoldersListed, this, &SharedFoldersManager::OnFoldersListed);
    ConnectNetwork();

    m_userType = d.GetType("user");
    m_prebuildTimer.setSingleShot(true);
    m_prebuildTimer.setInterval(2000);
    connect(&m_prebuildTimer, &QTimer::timeout, this, &SharedFoldersManager::StartPrebuild);
    m_countsTimer.setSingleShot(true);
    m_countsTimer.setInterval(0);
    connect(&m_countsTimer, &QTimer::timeout, this, &SharedFoldersManager::SendShareCounts);
    m_userShareTimer.setSingleShot(true);
    m_userShareTimer.setInterval(0);
    connect(&m_userShareTimer, &QTimer::timeout, this, &SharedFoldersManager::UserShareSlice);
    m_sliceTimer.setSingleShot(true);
    m_sliceTimer.setInterval(0);
    connect(&m_sliceTimer, &QTimer::timeout, this, [this] {
        if (m_merge)
            MergeSlice();
    });
    // Any change of the shared folders or their links (visibility, folders
    // found under them) and any removal from the index makes the cached share
    // lists stale; changes made by the merges say so themselves.
    auto stale = [this](ConnectionInfo&) { InvalidateShareLists(); };
    SubscribeFunction(m_sharedFolderType->connected, stale);
    SubscribeFunction(m_sharedFolderType->disconnected, stale);
    for (Type* type : { m_sharedFolderType, m_folderType, m_fileType })
        Subscribe(type->itemRemoved, &SharedFoldersManager::OnIndexItemRemoved);
    SubscribeFunction(m_tokenType->itemRemoved, [this](ItemPtr) {
        if (m_merge)
            m_merge->wordsStale = true;
    });
}

SharedFoldersManager::~SharedFoldersManager()
{
    DisconnectNetwork();
    // Every folder request taken is answered, if with nothing.
    m_folderReplies->RefuseAll();
    if (m_folderPacking)
        AnswerFolderRequest(m_folderPacking, nullptr);
    if (m_packer) {
        for (const auto* builds : { &m_collecting, &m_packing })
            for (const std::shared_ptr<SharePrebuild>& build : *builds)
                build->Cancel();
        m_packer->wait();
        delete m_packer;
    }
    m_scanner->Quit();
    m_scannerThread.exit(0);
    m_scannerThread.wait();
    delete m_scanner;
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

void SharedFoldersManager::Init()
{
    QStringList roots;
    for (ItemPtr folder : m_sharedFolderType->GetItems())
        roots << folder.AsString();
    RequestWalk(WalkKind::Startup, roots);
}

ItemPtr SharedFoldersManager::AddSharedFolder(const QString& path)
{
    const std::string key = path.toUtf8().toStdString();
    if (ItemPtr existing = m_sharedFolderType->HasItemText(key))
        return existing;
    ItemPtr folder = m_sharedFolderType->GetItem(Value(key));
    const int number = settings.GetInt("shared_folder_counter");
    settings.Set("shared_folder_counter", number + 1);
    folder += d.GetType("shared_folder_id")
                  ->GetItem(Value(QStringLiteral("[%1]%2").arg(number).arg(QDir(path).dirName())));
    m_addsAwaited.insert(path);
    RequestWalk(WalkKind::Add, QStringList { path });
    return folder;
}

ItemPtr SharedFoldersManager::GetSharedFileItem(const QString& path) const
{
    QString exact = path;
    if (exact.endsWith(u'/') || exact.endsWith(u'\\'))
        exact.chop(1);
    const std::string exactUtf8 = exact.toUtf8().toStdString();
    const std::string exactName = GetFileName(exactUtf8);
    const std::string exactFolder = GetFolder(exactUtf8);
    const std::string lower = GetAbsoluteFileName(path).toUtf8().toStdString();

    // The exact path (MP3 scans, most requests): the file of both the folder
    // and the name, looked for among the fewer of the folder's files and the
    // files bearing the name (a folder of 100,000 files, or "cover.jpg" in
    // 20,000 albums).
    if (ItemPtr name = m_nameType->HasItemText(exactName)) {
        if (ItemPtr file = d.GetItem(m_folderType->HasItemText(exactFolder), name, "shared_file"))
            return file;
    }
    // Otherwise the files of the folders that match ignoring case, whose
    // names match ignoring case too, compared one by one.
    const std::string lowerName = GetFileName(lower);
    ItemPtr first;
    for (Item* folderItem : m_folderFold.Find(GetFolder(lower))) {
        ItemPtr folder(folderItem);
        for (ItemPtr file : folder.GetItems(m_fileType)) {
            const std::string name = file[m_nameType].Text();
            if (CaseFoldIndex::Key(name) != lowerName)
                continue;
            if (name == exactName && folder.Text() == exactFolder)
                return file;
            if (!first || file.Serial() < first.Serial())
                first = file;
        }
    }
    return first;
}

void SharedFoldersManager::SetSharedFileSize(ItemPtr file, qint64 size)
{
    if (!file || file[m_sizeType].AsInt64() == size)
        return;
    file += m_sizeType->GetItem(Value(static_cast<long long>(size)));
    InvalidateShareLists(false);
}

void SharedFoldersManager::OnSharedFileFolderAdded(ItemPtr folder)
{
    m_folderFold.Insert(folder.Get());
}

void SharedFoldersManager::RemoveUserShare(const QString& user)
{
    ItemPtr userItem = m_userType->HasItem(Value(user));
    ItemPtr share = userItem["user_share"];
    if (!userItem || !share)
        return;
    const ItemSet folders = share.GetItems("user_share_folder");
    folders.GetItems("user_share_file").Remove();
    folders.Remove();
    share.Remove();
    d.RemoveDisconnectedItems();
}

void SharedFoldersManager::OnConnectedToServer()
{
    m_loggedOut = false;
    if (!gp_server)
        return;
    SendShareCounts();
    gp_server->GetUserStats(settings.Get("username"));
}

void SharedFoldersManager::SendShareCounts()
{
    if (gp_server)
        gp_server->SendFilesFolders(int(m_folderType->Count()), int(m_fileType->Count()));
}

void SharedFoldersManager::OnReceivedUserStats(QString user, UserStats stats)
{
    if (user != settings.Get("username"))
        return;
    settings.Set("upload_speed", qint32(stats.averageSpeed));
}

void SharedFoldersManager::SetUploadStateProvider(
    std::function<bool()> isFreeToUpload, std::function<int()> queuedUploadCount)
{
    m_isFreeToUpload = std::move(isFreeToUpload);
    m_queuedUploadCount = std::move(queuedUploadCount);
}
