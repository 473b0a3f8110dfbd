// Keeping the share index in step with the disk.
//
// Three kinds of walk, all run on the scanner thread and merged here in slices:
// - start-up: every shared folder; folders that the walk did not see leave the
//   index (with their files);
// - add: one newly shared folder; nothing outside it is touched;
// - rescan: every shared folder, counting the files added and removed; folders
//   that no shared folder reaches any more leave the index (with their files),
//   and the counts are reported by SharedFilesRescanned.
// A folder that could not be listed (an unmounted disk) keeps its items and is
// counted neither way. Files are matched by their exact name within their
// folder, so two files whose names differ only in letter case stay two files.
#include "ShareMerge.h"
#include "store/Data.h"
#include "store/Log.h"
#include <QTimer>

namespace {
// The longest a merge keeps the GUI thread in one slice.
constexpr qint64 kSliceMs = 40;

bool IsUnderPath(const QString& folder, const QString& path)
{
    return folder == path || (folder.startsWith(path) && (path.endsWith(u'/') || folder.at(path.size()) == u'/'));
}

bool IsMp3Name(const QString& name)
{
    return name.size() > 4 && (name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".MP3")));
}
}

void SharedFoldersManager::RescanShares()
{
    QStringList roots;
    for (ItemPtr folder : m_sharedFolderType->GetItems())
        roots << folder.AsString();
    RequestWalk(WalkKind::Rescan, roots);
}

void SharedFoldersManager::RequestWalk(WalkKind kind, const QStringList& roots)
{
    // A waiting rescan covers every later request.
    for (const WalkRequest& waiting : m_pendingWalks) {
        if (waiting.kind == WalkKind::Rescan && kind != WalkKind::Startup)
            return;
    }
    m_pendingWalks.push_back({ kind, roots });
    StartNextWalk();
}

void SharedFoldersManager::StartNextWalk()
{
    if (m_walkRunning || m_merge || m_pendingWalks.empty())
        return;
    m_runningWalk = std::move(m_pendingWalks.front());
    m_pendingWalks.pop_front();
    m_walkRunning = true;
    if (m_runningWalk.kind == WalkKind::Rescan)
        QMetaObject::invokeMethod(m_scanner, "RescanFolders", Qt::AutoConnection, Q_ARG(QStringList, m_runningWalk.roots));
    else
        QMetaObject::invokeMethod(m_scanner, "ScanFolders", Qt::AutoConnection, Q_ARG(QStringList, m_runningWalk.roots));
}

void SharedFoldersManager::OnFoldersRescanned()
{
    if (!m_walkRunning)
        return;
    m_walkRunning = false;
    BeginMerge(m_scanner->TakeResult());
}

void SharedFoldersManager::BeginMerge(FileScanner::Walk walk)
{
    Log(QStringLiteral("Profiling"), 1, QStringLiteral("OnFoldersRescanned begin"));
    m_merge = std::make_unique<Merge>();
    Merge& m = *m_merge;
    m.kind = m_runningWalk.kind;
    m.roots = m_runningWalk.roots;
    m.walk = std::move(walk);
    if (m.kind == WalkKind::Rescan) {
        m_addedCount = 0;
        m_removedCount = 0;
        // Every folder link is made anew by the walk; shared folders that
        // could not be read keep theirs.
        for (const QString& root : m.roots) {
            const auto unavailable = m.walk.unavailable.find(root);
            if (unavailable != m.walk.unavailable.end() && unavailable->second.count(root))
                continue;
            m_sharedFolderType->HasItem(Value(root)).Disconnect(m_folderType);
        }
    }
    for (const auto& [root, paths] : m.walk.unavailable) {
        for (const QString& path : paths) {
            Log(QStringLiteral("Shared"), 1,
                QStringLiteral("Could not read folder %1 of shared folder %2; its files stay shared as they were")
                    .arg(path, root));
        }
        if (ItemPtr rootItem = m_sharedFolderType->HasItem(Value(root)))
            KeepUnavailable(rootItem, paths);
    }
    m.root = m.walk.folders.begin();
    MergeSlice();
}

void SharedFoldersManager::KeepUnavailable(ItemPtr root, const std::set<QString>& paths)
{
    for (ItemPtr folder : m_folderType->GetItems()) {
        const QString value = folder.AsString();
        for (const QString& path : paths) {
            if (!IsUnderPath(value, path))
                continue;
            if (m_merge->kind == WalkKind::Startup)
                folder += m_scannedType->GetGlobalNullItem();
            else
                root += folder;
            break;
        }
    }
}

void SharedFoldersManager::MergeSlice()
{
    QElapsedTimer clock;
    clock.start();
    if (!MergeFolders(clock)) {
        QTimer::singleShot(0, this, [this] {
            if (m_merge)
                MergeSlice();
        });
        return;
    }
    FinishMerge();
}

bool SharedFoldersManager::MergeFolders(const QElapsedTimer& clock)
{
    Merge& m = *m_merge;
    for (;;) {
        if (m.folderOpen) {
            if (!MergeFiles(clock))
                return false;
            CloseFolder();
            ++m.folder;
        }
        if (!m.rootOpen) {
            if (m.root == m.walk.folders.end())
                return true;
            // A root unshared while the walk ran is skipped.
            m.rootItem = m_sharedFolderType->HasItem(Value(m.root->first));
            m.folder = m.root->second.begin();
            m.rootOpen = true;
        }
        if (!m.rootItem || m.folder == m.root->second.end()) {
            m.rootOpen = false;
            ++m.root;
            continue;
        }
        OpenFolder();
        if (clock.elapsed() >= kSliceMs)
            return false;
    }
}

void SharedFoldersManager::OpenFolder()
{
    Merge& m = *m_merge;
    m.folderItem = m_folderType->GetItem(Value(m.folder->first));
    m.rootItem += m.folderItem;
    if (m.kind == WalkKind::Startup)
        m.folderItem += m_scannedType->GetGlobalNullItem();
    m.previous.clear();
    m.leftovers.clear();
    m.folderItem.Get()->connections.ForEachOfType(m_fileType, [&](Item* file) {
        if (!m.previous.emplace(ItemPtr(file)[m_nameType].Text(), file).second)
            m.leftovers.push_back(file);
    });
    m.folderTokens = FolderTokens(m.folderItem);
    m.file = m.folder->second.begin();
    m.folderOpen = true;
}

bool SharedFoldersManager::MergeFiles(const QElapsedTimer& clock)
{
    Merge& m = *m_merge;
    const FileScanner::FileMap::iterator end = m.folder->second.end();
    for (int n = 1; m.file != end; ++m.file, ++n) {
        if (n % 64 == 0 && clock.elapsed() >= kSliceMs)
            return false;
        if (!m.folderItem)
            continue; // the folder item went away meanwhile
        const QString& name = m.file->first;
        const qint64 size = m.file->second;
        const QByteArray utf8 = name.toUtf8();
        const auto found = m.previous.find(std::string(utf8.constData(), size_t(utf8.size())));
        ItemPtr file;
        if (found != m.previous.end()) {
            file = found->second;
            m.previous.erase(found);
            if (file[m_sizeType].AsInt64() != size)
                file += m_sizeType->GetItem(Value(size));
        } else {
            file = NewSharedFile(m.folderItem, name, size);
            if (m.kind != WalkKind::Startup)
                ++m_addedCount;
        }
        if (IsMp3Name(name) && !file.IsConnected(m_scannedType))
            emit MP3ScanRequired(m.folder->first + u'/' + name);
        TokenizeFile(file.Get(), m.folderTokens);
    }
    return true;
}

ItemPtr SharedFoldersManager::NewSharedFile(ItemPtr folder, const QString& name, qint64 size)
{
    ItemPtr file = m_fileType->NewItem();
    file += folder;
    file += m_nameType->GetItem(Value(name));
    file += m_sizeType->GetItem(Value(size));
    return file;
}

void SharedFoldersManager::CloseFolder()
{
    Merge& m = *m_merge;
    std::vector<Item*> gone = std::move(m.leftovers);
    for (const auto& [name, file] : m.previous)
        gone.push_back(file);
    m.previous.clear();
    m.leftovers.clear();
    for (Item* file : gone) {
        ItemPtr(file).Remove();
        if (m.kind != WalkKind::Startup)
            ++m_removedCount;
    }
    m.folderOpen = false;
    m.folderItem = ItemPtr();
}

int SharedFoldersManager::RemoveFolderWithFiles(ItemPtr folder)
{
    // Removed explicitly: a file reachable through a name that a file still
    // shared also bears would outlive the store's sweep.
    const ItemSet files = folder.GetItems(m_fileType);
    const int count = int(files.Size());
    files.Remove();
    folder.Remove();
    return count;
}

void SharedFoldersManager::FinishMerge()
{
    Merge& m = *m_merge;
    if (m.kind == WalkKind::Startup) {
        // Folders the walk did not see leave the index, except those of shared
        // folders that were added after the walk began.
        const std::set<QString> walked(m.roots.begin(), m.roots.end());
        for (ItemPtr folder : m_folderType->GetItems()) {
            if (folder.IsConnected(m_scannedType))
                continue;
            bool later = false;
            for (ItemPtr root : folder.GetItems(m_sharedFolderType))
                later = later || !walked.count(root.AsString());
            if (!later)
                RemoveFolderWithFiles(folder);
        }
        m_scannedType->GetGlobalNullItem().Disconnect(m_folderType);
    } else if (m.kind == WalkKind::Rescan) {
        for (ItemPtr folder : m_folderType->GetItems()) {
            if (!folder.IsConnected(m_sharedFolderType))
                m_removedCount += RemoveFolderWithFiles(folder);
        }
        d.RemoveDisconnectedItems();
    }
    const WalkKind kind = m.kind;
    m_merge.reset();
    InvalidateShareLists();
    Log(QStringLiteral("Profiling"), 1, QStringLiteral("OnFoldersRescanned end"));
    if (kind == WalkKind::Rescan)
        emit SharedFilesRescanned(m_addedCount, m_removedCount);
    StartNextWalk();
}

void SharedFoldersManager::OnIndexItemRemoved(ItemPtr item)
{
    InvalidateShareLists();
    if (!m_merge)
        return;
    Merge& m = *m_merge;
    if (item.GetType() == m_fileType && m.folderOpen) {
        const auto found = m.previous.find(item[m_nameType].Text());
        if (found != m.previous.end() && found->second == item.Get())
            m.previous.erase(found);
        std::erase(m.leftovers, item.Get());
    } else if (item == m.folderItem) {
        m.folderItem = ItemPtr();
        m.previous.clear();
        m.leftovers.clear();
    } else if (item == m.rootItem) {
        m.rootItem = ItemPtr(); // its remaining folders are skipped
    }
}
