// One's own share read for the window without holding it: the upload browse
// view asks for it, and the added-folder reports that the add-folder dialog and
// the first start wait for.
#include "ShareListPrebuild.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/SlicedWork.h"

void SharedFoldersManager::RequestSharedFilesAsUserShare(
    const QString& user, QObject* context, UserShareReady ready)
{
    auto build = std::make_unique<UserShareBuild>();
    build->user = user;
    build->context = context;
    build->ready = std::move(ready);
    m_userShareBuilds.push_back(std::move(build));
    if (!m_userShareTimer.isActive())
        m_userShareTimer.start();
}

void SharedFoldersManager::UserShareSlice()
{
    while (!m_userShareBuilds.empty() && !m_userShareBuilds.front()->context)
        m_userShareBuilds.pop_front();
    if (m_userShareBuilds.empty())
        return;
    UserShareBuild& b = *m_userShareBuilds.front();
    if (!b.started || b.generation != m_shapeGeneration) {
        b.started = true;
        b.generation = m_shapeGeneration;
        b.share.clear();
        b.folders.clear();
        b.next = 0;
        for (ItemPtr folder : GetUserSharedFolders(b.user).GetItems("shared_file_folder"))
            b.folders.push_back(folder.Get());
    }
    const QDeadlineTimer turn = SlicedWork::Turn();
    while (b.next < b.folders.size()) {
        AddFolderToShare(b.folders[b.next++], b.share);
        if (turn.hasExpired()) {
            m_userShareTimer.start();
            return;
        }
    }
    // The same cut as GetSharedFilesAsUserShare: what a receiver accepts.
    while (b.share.size() > kMaxRecords)
        b.share.erase(std::prev(b.share.end()));
    std::unique_ptr<UserShareBuild> done = std::move(m_userShareBuilds.front());
    m_userShareBuilds.pop_front();
    if (!m_userShareBuilds.empty())
        m_userShareTimer.start();
    // The receiver may ask again or destroy the context from here.
    AttributeTranslationTable table;
    if (done->context)
        done->ready(done->share, table);
}

void SharedFoldersManager::ReportAddedFolders(const QStringList& roots)
{
    for (const QString& root : roots) {
        if (!m_addsAwaited.erase(root))
            continue;
        int files = 0;
        if (ItemPtr folder = m_sharedFolderType->HasItem(Value(root))) {
            for (ItemPtr found : folder.GetItems(m_folderType))
                files += int(found.CountItems("shared_file"));
        }
        emit SharedFolderScanned(root, files);
    }
}
