// Keeping the share index in step with the disk.
//
// Three kinds of walk, all run on the scanner thread and merged here in slices:
// - start-up: every shared folder; folders that the walk did not see leave the
//   index (with their files);
// - add: one newly shared folder; nothing outside it is touched;
// - rescan: every shared folder, counting the files added and removed; folders
//   that no shared folder reaches any more leave the index (with their files),
//   and the counts are reported by SharedFilesRescanned. Links are only added
//   while the walk is merged and the stale ones are cut at its end, so a file
//   that stays shared is found all the while. A shared folder that no longer
//   exists loses its files (it stays listed as shared).
// A folder that could not be listed, or an empty shared folder (an unmounted
// disk) keeps its items and is counted neither way. Files are matched by their exact name within their
// folder, so two files whose names differ only in letter case stay two files.
//
// Each part of the walk is freed on a worker once merged, and MP3
// files are handed to the scanner thread in one request per slice, so no
// single step of a million-file merge holds the event loop.
#include "ShareMerge.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/SlicedWork.h"
#include "store/VectorState.h"
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <iterator>

namespace {
bool IsUnderPath(const QString& folder, const QString& path)
{
    return folder == path
        || (folder.startsWith(path) && (path.endsWith(u'/') || folder.at(path.size()) == u'/'));
}

// Frees on a worker what a merge is done with: letting a million names and
// folders go one by one cost the GUI thread a share of its merge time.
template <class T> void FreeOnWorker(T&& gone)
{
    auto* held = new std::decay_t<T>(std::move(gone));
    QThreadPool::globalInstance()->start([held] { delete held; });
}

// The text in UTF-8, into a string whose room is reused: plain ASCII (most
// names) without a converted copy on the heap.
void AssignUtf8(std::string& out, const QString& text)
{
    const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
    const size_t size = size_t(text.size());
    out.resize(size);
    for (size_t k = 0; k < size; ++k) {
        if (units[k] >= 0x80) {
            const QByteArray utf8 = text.toUtf8();
            out.assign(utf8.constData(), size_t(utf8.size()));
            return;
        }
        out[k] = char(units[k]);
    }
}

QString WithoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

bool IsMp3Name(const QString& name)
{
    return name.size() > 4 && (name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".MP3")));
}
}

void SharedFoldersManager::RescanShares()
{
    // The shared folders are listed when the walk starts, so that one shared
    // while the rescan waits is walked too.
    RequestWalk(WalkKind::Rescan, QStringList());
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
    if (m_runningWalk.kind == WalkKind::Rescan) {
        for (ItemPtr folder : m_sharedFolderType->GetItems())
            m_runningWalk.roots << folder.AsString();
    }
    Log(QStringLiteral("Profiling"), 1, QStringLiteral("OnFoldersRescanned begin"));
    m_merge = std::make_unique<Merge>();
    m_merge->kind = m_runningWalk.kind;
    m_merge->roots = m_runningWalk.roots;
    m_merge->root = m_merge->walk.folders.end();
    if (m_runningWalk.kind == WalkKind::Rescan) {
        m_addedCount = 0;
        m_removedCount = 0;
    }
    if (m_runningWalk.kind == WalkKind::Rescan)
        QMetaObject::invokeMethod(
            m_scanner, "RescanFolders", Qt::AutoConnection, Q_ARG(QStringList, m_runningWalk.roots));
    else
        QMetaObject::invokeMethod(
            m_scanner, "ScanFolders", Qt::AutoConnection, Q_ARG(QStringList, m_runningWalk.roots));
}

void SharedFoldersManager::OnFoldersListed()
{
    if (!m_walkRunning || !m_merge)
        return;
    for (FileScanner::Walk& part : m_scanner->TakeParts())
        AddWalkPart(std::move(part));
}

void SharedFoldersManager::OnFoldersRescanned()
{
    if (!m_walkRunning || !m_merge)
        return;
    m_walkRunning = false;
    for (FileScanner::Walk& part : m_scanner->TakeParts())
        AddWalkPart(std::move(part));
    EndWalk(m_scanner->TakeResult());
}

void SharedFoldersManager::AddWalkPart(FileScanner::Walk part)
{
    Merge& m = *m_merge;
    // The part's words continue the walk's numbering.
    m.words.resize(std::min<size_t>(m.words.size(), part.firstWordId));
    std::move(part.words.begin(), part.words.end(), std::back_inserter(m.words));
    part.words.clear();
    m.wordItems.resize(m.words.size());
    // Room in the value indexes before the slices, so that no slice has to
    // rebuild one for the first part's many names (a rescan finds most
    // names there already).
    size_t folders = 0, files = 0;
    for (const auto& [root, folderMap] : part.folders) {
        folders += folderMap.size();
        for (const auto& [path, fileMap] : folderMap)
            files += fileMap.size();
    }
    if (m.kind == WalkKind::Startup) {
        m_folderType->ReserveItems(folders);
        m_nameType->ReserveItems(files);
    }
    if (m.kind != WalkKind::Rescan)
        m_folderFold.Reserve(folders);
    m.parts.push_back(std::move(part));
    if (!m_sliceTimer.isActive())
        m_sliceTimer.start();
}

void SharedFoldersManager::EndWalk(FileScanner::Walk walk)
{
    Merge& m = *m_merge;
    // An empty shared folder whose files the index holds is taken for an
    // unmounted disk's mount point; one that had none is shared empty.
    for (const QString& root : walk.empty) {
        bool heldFiles = false;
        if (ItemPtr rootItem = m_sharedFolderType->HasItem(Value(root))) {
            for (ItemPtr folder : rootItem.GetItems(m_folderType))
                heldFiles = heldFiles || folder.IsConnected(m_fileType);
        }
        if (heldFiles)
            walk.unavailable[root].insert(root);
        else
            walk.folders[root][root];
    }
    if (m.kind == WalkKind::Rescan) {
        for (const QString& root : walk.missing) {
            Log(QStringLiteral("Shared"), 1,
                QStringLiteral("Shared folder %1 no longer exists; its files are no longer shared").arg(root));
        }
    } else {
        // Only a rescan lets a missing shared folder go: at start-up its disk
        // may not be mounted yet.
        for (const QString& root : walk.missing)
            walk.unavailable[root].insert(root);
    }
    for (const auto& [root, paths] : walk.unavailable) {
        for (const QString& path : paths) {
            Log(QStringLiteral("Shared"), 1,
                QStringLiteral("Could not read folder %1 of shared folder %2, or it is empty (a disk not "
                               "mounted?); its files stay shared as they were")
                    .arg(path, root));
        }
        if (ItemPtr rootItem = m_sharedFolderType->HasItem(Value(root)))
            KeepUnavailable(rootItem, paths);
    }
    for (const auto& [root, paths] : walk.links) {
        for (const QString& path : paths) {
            Log(QStringLiteral("Shared"), 1,
                QStringLiteral("Folder %1 of shared folder %2 is now a symbolic link; it is not shared")
                    .arg(path, root));
        }
    }
    for (const auto& [root, left] : walk.undecodable) {
        Log(QStringLiteral("Shared"), 1,
            QStringLiteral("%1 files or folders of shared folder %2 have names that are not valid UTF-8 "
                           "and are not shared: %3")
                .arg(left.first)
                .arg(root, left.second.join(QStringLiteral(", "))));
    }
    for (const auto& [root, identity] : walk.roots)
        m_walkedRoots[WithoutTrailingSlash(root)] = identity;
    walk.unavailable.clear();
    walk.links.clear();
    walk.undecodable.clear();
    walk.missing.clear();
    walk.empty.clear();
    m.walkDone = true;
    AddWalkPart(std::move(walk));
}

std::optional<FileIdentity> SharedFoldersManager::WalkedRoot(QString root) const
{
    const auto walked = m_walkedRoots.find(WithoutTrailingSlash(std::move(root)));
    return walked == m_walkedRoots.end() ? std::nullopt : std::optional<FileIdentity>(walked->second);
}

void SharedFoldersManager::KeepUnavailable(ItemPtr root, const std::set<QString>& paths)
{
    for (ItemPtr folder : m_folderType->GetItems()) {
        const QString value = folder.AsString();
        for (const QString& path : paths) {
            if (!IsUnderPath(value, path))
                continue;
            if (m_merge->kind == WalkKind::Startup)
                m_merge->seen.push_back(folder.Get()->serial);
            else
                m_merge->reached.emplace(root.Get(), folder.Get());
            break;
        }
    }
}

void SharedFoldersManager::MergeSlice()
{
    // Whatever ran on this thread since the last slice may have left the
    // wide registers' upper halves in use (Qt's string hashing does), which
    // slows the merge's copies and compares.
    ClearUpperVectorState();
    const QDeadlineTimer turn = SlicedWork::Turn();
    const bool merged = MergeFolders(turn);
    LinkPending();
    const bool done = merged && m_merge->walkDone && SweepFolders(turn);
    if (!m_merge->mp3.isEmpty()) {
        QMetaObject::invokeMethod(m_scanner, "OnMP3ScansRequired", Qt::AutoConnection,
            Q_ARG(QStringList, m_merge->mp3Roots), Q_ARG(QStringList, m_merge->mp3));
        m_merge->mp3.clear();
        m_merge->mp3Roots.clear();
    }
    if (merged && !m_merge->walkDone)
        return; // the next part of the walk starts the next slice
    if (!done) {
        // A timer, not a posted call: the next slice waits its turn behind
        // the timers and network events that came in meanwhile.
        m_sliceTimer.start();
        return;
    }
    FinishMerge();
}

bool SharedFoldersManager::MergeFolders(const QDeadlineTimer& turn)
{
    Merge& m = *m_merge;
    for (;;) {
        if (m.folderOpen) {
            if (!MergeFiles(turn))
                return false;
            CloseFolder();
            ++m.folder;
        }
        if (!m.rootOpen) {
            if (m.root == m.walk.folders.end()) {
                if (m.parts.empty())
                    return true;
                // A part is freed whole once merged.
                FreeOnWorker(std::move(m.walk));
                m.walk = std::move(m.parts.front());
                m.parts.pop_front();
                m.root = m.walk.folders.begin();
                continue;
            }
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
        if (turn.hasExpired())
            return false;
    }
}

void SharedFoldersManager::OpenFolder()
{
    Merge& m = *m_merge;
    m.folderItem = m_folderType->GetItem(Value(m.folder->first));
    m.rootItem += m.folderItem;
    if (m.kind == WalkKind::Startup)
        m.seen.push_back(m.folderItem.Get()->serial);
    else if (m.kind == WalkKind::Rescan)
        m.reached.emplace(m.rootItem.Get(), m.folderItem.Get());
    m.previous.clear();
    m.leftovers.clear();
    m.folderItem.Get()->connections.ForEachOfType(m_fileType, [&](Item* file) {
        if (!m.previous.emplace(ItemPtr(file)[m_nameType].Text(), file).second)
            m.leftovers.push_back(file);
    });
    std::vector<std::pair<Item*, Item*>>& links = PendingLinks();
    for (Item* token : FolderTokens(m.folderItem))
        links.emplace_back(m.folderItem.Get(), token);
    m.file = m.folder->second.begin();
    m.folderOpen = true;
}

bool SharedFoldersManager::MergeFiles(const QDeadlineTimer& turn)
{
    // Files go in runs of kRun between looks at the clock; their words are
    // linked in batches that span folders (LinkPending).
    constexpr int kRun = 64;
    Merge& m = *m_merge;
    const FileScanner::FileMap::iterator end = m.folder->second.end();
    m.runNames.resize(kRun);
    while (m.file != end) {
        if (turn.hasExpired())
            return false;
        if (!m.folderItem) {
            m.file = end; // the folder item went away meanwhile
            break;
        }
        std::vector<std::pair<Item*, Item*>>& links = PendingLinks();
        // The run's names first, so that where the store keeps each name is
        // fetched from memory a few files before it is looked up.
        constexpr int kAhead = 8;
        int count = 0;
        for (auto it = m.file; count < kRun && it != end; ++it, ++count) {
            RunName& run = m.runNames[size_t(count)];
            AssignUtf8(run.key, it->first);
            run.hash = Type::ValueHash(run.key);
            if (count < kAhead)
                m_nameType->PrefetchValue(run.hash);
        }
        for (int n = 0; n < count && m.folderItem; ++n, ++m.file) {
            if (n + kAhead < count)
                m_nameType->PrefetchValue(m.runNames[size_t(n + kAhead)].hash);
            const QString& name = m.file->first;
            const qint64 size = m.file->second.size;
            const RunName& run = m.runNames[size_t(n)];
            const auto found = m.previous.find(run.key);
            ItemPtr file;
            if (found != m.previous.end()) {
                file = found->second;
                m.previous.erase(found);
                if (file[m_sizeType].AsInt64() != size)
                    file += m_sizeType->GetItem(Value(size));
            } else {
                file = NewSharedFile(m.folderItem, run, size, m.file->second.wordCount);
                if (m.kind != WalkKind::Startup)
                    ++m_addedCount;
            }
            if (IsMp3Name(name) && !file.IsConnected(m_scannedType)) {
                m.mp3 << m.folder->first + u'/' + name;
                m.mp3Roots << m.root->first;
            }
            AddWalkWords(file.Get(), m.file->second, links);
        }
        if (links.size() >= 4096)
            LinkPending();
    }
    return true;
}

std::vector<std::pair<Item*, Item*>>& SharedFoldersManager::PendingLinks()
{
    // The items stay allocated until the links are made, even if removed
    // meanwhile (then they are not linked).
    Merge& m = *m_merge;
    if (!m.linking) {
        d.BeginBatch();
        m.linking = true;
    }
    return m.links;
}

void SharedFoldersManager::LinkPending()
{
    // Files and folders are linked to their words in batches of thousands,
    // so that the store fetches the words' lists ahead instead of waiting on
    // each; every slice ends with its links made.
    Merge& m = *m_merge;
    if (!m.linking)
        return;
    d.ConnectAll(m.links.data(), m.links.size());
    m.links.clear();
    m.linking = false;
    d.EndBatch();
}

void SharedFoldersManager::AddWalkWords(
    Item* file, const FileScanner::ScannedFile& scanned, std::vector<std::pair<Item*, Item*>>& links)
{
    // The walk cut the name; each distinct word is looked up in the store
    // once per merge, then reached by its number.
    Merge& m = *m_merge;
    if (m.wordsStale) {
        std::fill(m.wordItems.begin(), m.wordItems.end(), std::pair<quint64, Item*>());
        m.wordsStale = false;
    }
    const quint64 end = quint64(scanned.firstWord) + scanned.wordCount;
    if (end > m.walk.fileWords.size())
        return;
    // Linked in the words' creation order, each word goes last among the
    // file's links, and the store need not read the others' items to place it.
    std::vector<std::pair<quint64, Item*>>& words = m.fileWords;
    words.clear();
    for (quint64 k = scanned.firstWord; k < end; ++k) {
        const quint32 id = m.walk.fileWords[k];
        if (id >= m.wordItems.size())
            continue;
        auto& [serial, token] = m.wordItems[id];
        if (!token) {
            const std::string& word = m.words[id];
            token = m_tokenType->GetItemText(word, Type::ValueHash(word)).Get();
            serial = token->serial;
        }
        words.emplace_back(serial, token);
    }
    std::sort(words.begin(), words.end());
    for (const auto& [serial, token] : words)
        links.emplace_back(file, token);
}

ItemPtr SharedFoldersManager::NewSharedFile(ItemPtr folder, const RunName& name, qint64 size, quint32 words)
{
    ItemPtr file = m_fileType->NewItem();
    // Its folder, name, size and words, in one allocation.
    file.Get()->connections.Reserve(3 + words);
    file += folder;
    file += m_nameType->GetItemText(name.key, name.hash);
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

bool SharedFoldersManager::SweepFolders(const QDeadlineTimer& turn)
{
    // Folders that the walk did not reach leave the index with their files:
    // at start-up those not seen (except under shared folders added after the
    // walk began), after a rescan those that no shared folder links any more.
    Merge& m = *m_merge;
    if (m.kind == WalkKind::Add)
        return true;
    if (!m.sweeping) {
        m.sweeping = true;
        m.sweep.reserve(m_folderType->Count());
        for (ChunkedSet::Position p; m_folderType->Items().Valid(p); m_folderType->Items().Advance(p))
            m.sweep.push_back(m_folderType->Items().At(p));
        m.walked.insert(m.roots.begin(), m.roots.end());
        std::sort(m.seen.begin(), m.seen.end());
    }
    for (; m.sweepAt < m.sweep.size(); ++m.sweepAt) {
        if (m.sweepAt % 256 == 255 && turn.hasExpired())
            return false;
        ItemPtr folder = m.sweep[m.sweepAt];
        if (!folder)
            continue; // removed meanwhile
        bool gone;
        if (m.kind == WalkKind::Startup) {
            gone = !std::binary_search(m.seen.begin(), m.seen.end(), folder.Get()->serial);
            for (ItemPtr root : folder.GetItems(m_sharedFolderType))
                gone = gone && m.walked.count(root.AsString());
        } else {
            // A folder stays linked to each shared folder under which the
            // walk found it (or could not look) until now, so that none of
            // its files was hidden while the merge ran.
            for (ItemPtr root : folder.GetItems(m_sharedFolderType)) {
                if (m.walked.count(root.AsString()) && !m.reached.count({ root.Get(), folder.Get() }))
                    root.Disconnect(folder);
            }
            gone = !folder.IsConnected(m_sharedFolderType);
        }
        if (!gone)
            continue;
        m.sweep[m.sweepAt] = nullptr;
        m.ownRemoval = true;
        const int files = RemoveFolderWithFiles(folder);
        m.ownRemoval = false;
        if (m.kind == WalkKind::Rescan)
            m_removedCount += files;
    }
    return true;
}

void SharedFoldersManager::UnshareFolders(ItemPtr root)
{
    // A shared folder that goes (unshared by the user) takes at once the
    // folders that no other shared folder holds, with their files.
    const ItemSet folders = root.GetItems(m_folderType);
    for (ItemPtr folder : folders) {
        bool heldElsewhere = false;
        for (ItemPtr other : folder.GetItems(m_sharedFolderType))
            heldElsewhere = heldElsewhere || other != root;
        if (!heldElsewhere)
            RemoveFolderWithFiles(folder);
    }
    m_addsAwaited.erase(root.AsString());
    ScheduleShareCounts();
}

void SharedFoldersManager::ScheduleShareCounts()
{
    if (!m_countsTimer.isActive())
        m_countsTimer.start();
}

void SharedFoldersManager::FinishMerge()
{
    // Names, sizes and words left without files go with the store's periodic
    // sweep; nothing reaches a file through them meanwhile.
    const WalkKind kind = m_merge->kind;
    const QStringList roots = m_merge->roots;
    // What is left of a big merge (the walk's words, the folders seen, the
    // sweep's list) takes tens of milliseconds to free, so a worker frees
    // it. It holds no handle that the store tracks and nothing reads it
    // again.
    m_merge->rootItem = ItemPtr();
    m_merge->folderItem = ItemPtr();
    FreeOnWorker(std::move(*m_merge));
    m_merge.reset();
    InvalidateShareLists();
    Log(QStringLiteral("Profiling"), 1, QStringLiteral("OnFoldersRescanned end"));
    ReportAddedFolders(roots);
    ScheduleShareCounts();
    if (kind == WalkKind::Rescan)
        emit SharedFilesRescanned(m_addedCount, m_removedCount);
    StartNextWalk();
}

void SharedFoldersManager::OnIndexItemRemoved(ItemPtr item)
{
    InvalidateShareLists();
    if (item.GetType() == m_folderType)
        m_folderFold.Erase(item.Get());
    if (item.GetType() == m_sharedFolderType)
        UnshareFolders(item);
    if (!m_merge)
        return;
    Merge& m = *m_merge;
    if (item.GetType() == m_fileType && m.folderOpen) {
        const auto found = m.previous.find(item[m_nameType].Text());
        if (found != m.previous.end() && found->second == item.Get())
            m.previous.erase(found);
        std::erase(m.leftovers, item.Get());
    } else if (item.GetType() == m_folderType) {
        if (m.sweeping && !m.ownRemoval) {
            // Our own removals clear their entry first; look only for others.
            auto entry = std::find(m.sweep.begin() + qsizetype(m.sweepAt), m.sweep.end(), item.Get());
            if (entry != m.sweep.end())
                *entry = nullptr;
        }
        if (item != m.folderItem)
            return;
        m.folderItem = ItemPtr();
        m.previous.clear();
        m.leftovers.clear();
    } else if (item == m.rootItem) {
        m.rootItem = ItemPtr(); // its remaining folders are skipped
    }
}
