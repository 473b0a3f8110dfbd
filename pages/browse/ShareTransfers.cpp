#include "ShareTransfers.h"
#include "ShareViewBase.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

// The files of a request whose rows are marked.
struct ShareTransfers::Marked {
    std::vector<ItemPtr> listed;
};

// One request: its folders (none for files chosen), then the files read.
struct ShareTransfers::Request : Marked {
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
};

// Files pushed to a user: the folders' and those given, then their paths.
struct ShareTransfers::Pushed : Marked {
    QString user;
    std::vector<ItemPtr> folders;
    std::vector<ItemPtr> files;
    std::vector<QString> paths;
};

ShareTransfers::ShareTransfers(ShareViewBase* view)
    : QObject(view)
    , m_view(view)
    , m_downloadIcon(QStringLiteral(":/icons/download_icon"))
    , m_uploadIcon(QStringLiteral(":/icons/upload_icon"))
{
    // A timer, not a posted call, between slices: the window paints and
    // takes input in between.
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &ShareTransfers::RunSlice);
}

void ShareTransfers::AddFolders(const QString& user, std::vector<ItemPtr> folders, bool below)
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

void ShareTransfers::AddFiles(const QString& user, std::vector<ItemPtr> files)
{
    if (files.empty())
        return;
    auto request = std::make_shared<Request>();
    request->user = user;
    for (ItemPtr file : files)
        request->files.emplace_back(0, file);
    Add(request);
}

void ShareTransfers::Add(const std::shared_ptr<Request>& request)
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
    MarkAndRun(request, m_downloadIcon);
}

void ShareTransfers::PushFolders(const QString& user, std::vector<ItemPtr> folders)
{
    if (folders.empty())
        return;
    auto pushed = std::make_shared<Pushed>();
    pushed->user = user;
    pushed->folders = std::move(folders);
    m_work.Then(pushed->folders.size(), [pushed](size_t f) {
        for (ItemPtr file : pushed->folders[f].GetItems("user_share_file"))
            pushed->files.push_back(file);
    });
    Push(pushed);
}

void ShareTransfers::PushFiles(const QString& user, std::vector<ItemPtr> files)
{
    if (files.empty())
        return;
    auto pushed = std::make_shared<Pushed>();
    pushed->user = user;
    pushed->files = std::move(files);
    Push(pushed);
}

void ShareTransfers::Push(const std::shared_ptr<Pushed>& pushed)
{
    if (!transferQueueManager)
        return;
    // Each file by its path in one's own share, as the engine finds it.
    m_work.Then([pushed] { return pushed->files.size(); },
        [this, pushed](size_t k) {
            ItemPtr file = pushed->files[k];
            ItemPtr folder = file["user_share_folder"];
            if (!folder)
                return;
            pushed->paths.push_back(QString::fromStdString(
                folder["user_share_folder_name"].Text() + "\\" + file["user_share_file_name"].Text()));
            if (m_view->RowOfFile(file))
                pushed->listed.push_back(file);
        });
    m_work.Then([pushed] {
        if (transferQueueManager)
            transferQueueManager->AddUploads(pushed->user, std::move(pushed->paths));
    });
    MarkAndRun(pushed, m_uploadIcon);
}

void ShareTransfers::MarkAndRun(const std::shared_ptr<Marked>& request, const QIcon& icon)
{
    // The listed rows marked quietly: the view would repaint each row and
    // the model tell of each change; the repaint that follows shows them.
    m_work.Then([request] { return request->listed.size(); },
        [this, request, icon](size_t k) {
            if (QTreeWidgetItem* row = m_view->RowOfFile(request->listed[k])) {
                const QSignalBlocker quiet(m_view->FileList()->model());
                row->setIcon(0, icon);
            }
        });
    m_work.Then([this] { m_view->FileList()->viewport()->update(); });
    RunSlice();
}

void ShareTransfers::Finish()
{
    m_timer.stop();
    m_work.Run(QDeadlineTimer(QDeadlineTimer::Forever));
    m_work = SlicedWork();
}

void ShareTransfers::RunSlice()
{
    if (!m_work.Run(SlicedWork::Turn())) {
        m_timer.start();
        return;
    }
    // The requests' steps go, and what they read with them.
    m_work = SlicedWork();
}
