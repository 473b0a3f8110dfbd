#include "ShareDownloads.h"
#include "ShareViewBase.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

// One request: its folders (none for files chosen), then the files read.
struct ShareDownloads::Request {
    QString user;
    std::vector<ItemPtr> folders;
    bool below = false;
    std::vector<std::pair<size_t, ItemPtr>> files; // (folder, file), folder by folder
    std::vector<TransferQueueManager::WantedDownload> wanted;
    // Where each folder's downloads begin in wanted (its last, one further),
    // whether its names came out of their order, and the name read last.
    std::vector<size_t> starts;
    std::vector<char> unsorted;
    QString lastName;
    std::vector<ItemPtr> listed; // files whose rows are marked
};

ShareDownloads::ShareDownloads(ShareViewBase* view)
    : QObject(view)
    , m_view(view)
    , m_icon(QStringLiteral(":/icons/download_icon"))
{
    // A timer, not a posted call, between slices: the window paints and
    // takes input in between.
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &ShareDownloads::RunSlice);
}

void ShareDownloads::AddFolders(const QString& user, std::vector<ItemPtr> folders, bool below)
{
    if (folders.empty())
        return;
    auto request = std::make_shared<Request>();
    request->user = user;
    request->below = below;
    request->folders = std::move(folders);
    request->starts.assign(request->folders.size() + 1, 0);
    request->unsorted.assign(request->folders.size(), 0);
    // The files of each folder in the share's order.
    m_work.Then(request->folders.size(), [request](size_t f) {
        for (ItemPtr file : request->folders[f].GetItems("user_share_file"))
            request->files.emplace_back(f, file);
    });
    Add(request);
}

void ShareDownloads::AddFiles(const QString& user, std::vector<ItemPtr> files)
{
    if (files.empty())
        return;
    auto request = std::make_shared<Request>();
    request->user = user;
    for (ItemPtr file : files)
        request->files.emplace_back(0, file);
    Add(request);
}

void ShareDownloads::Add(const std::shared_ptr<Request>& request)
{
    if (!transferQueueManager)
        return;
    const bool chosen = request->folders.empty();
    // Their names and sizes, the excluded left out of folders; each folder's
    // are in the order of their names unless a name comes before the one
    // read last.
    m_work.Then([request] { return request->files.size(); },
        [this, request, chosen](size_t k) {
            const auto& [f, file] = request->files[k];
            std::string name = file["user_share_file_name"].Text();
            TransferQueueManager::WantedDownload wanted { request->user, std::string(), std::string(),
                file["file_size"].AsInt64(), chosen, chosen || (!request->below && f == 0) ? 0 : 1, QString() };
            if (chosen) {
                wanted.remoteFolder = file["user_share_folder"]["user_share_folder_name"].Text();
            } else {
                const QString shown = ToQString(name);
                if (transferQueueManager->HasExcludedDownloadExtension(shown))
                    return;
                if (request->starts[f + 1] == 0)
                    request->starts[f] = request->wanted.size();
                else if (QString::compare(request->lastName, shown, Qt::CaseSensitive) > 0)
                    request->unsorted[f] = 1;
                request->lastName = shown;
                wanted.remoteFolder = request->folders[f]["user_share_folder_name"].Text();
            }
            wanted.fileName = std::move(name);
            request->wanted.push_back(std::move(wanted));
            if (!chosen)
                request->starts[f + 1] = request->wanted.size();
            if (m_view->RowOfFile(file))
                request->listed.push_back(file);
        });
    // Each folder's downloads in the order of their names.
    m_work.Then([request] { return request->unsorted.size(); },
        [request](size_t f) {
            if (!request->unsorted[f])
                return;
            auto begin = request->wanted.begin() + std::ptrdiff_t(request->starts[f]);
            auto end = request->wanted.begin() + std::ptrdiff_t(request->starts[f + 1]);
            std::stable_sort(begin, end, [](const auto& a, const auto& b) {
                return QString::compare(ToQString(a.fileName), ToQString(b.fileName), Qt::CaseSensitive) < 0;
            });
        });
    m_work.Then([request] {
        if (transferQueueManager)
            transferQueueManager->AddDownloads(std::move(request->wanted));
    });
    // The listed rows marked quietly: the list, sorted by name, would look
    // for the place of each marked row again, a walk over all of them; the
    // repaint that follows shows the marks.
    m_work.Then([request] { return request->listed.size(); },
        [this, request](size_t k) {
            if (QTreeWidgetItem* row = m_view->RowOfFile(request->listed[k])) {
                const QSignalBlocker quiet(m_view->FileList()->model());
                row->setIcon(0, m_icon);
            }
        });
    m_work.Then([this] { m_view->FileList()->viewport()->update(); });
    RunSlice();
}

void ShareDownloads::Finish()
{
    m_timer.stop();
    m_work.Run(QDeadlineTimer(QDeadlineTimer::Forever));
    m_work = SlicedWork();
}

void ShareDownloads::RunSlice()
{
    if (!m_work.Run(SlicedWork::Turn())) {
        m_timer.start();
        return;
    }
    // The requests' steps go, and what they read with them.
    m_work = SlicedWork();
}
