#include "FolderLister.h"
#include "store/NoFollowFolder.h"
#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {
// Folders held open by every walk of the process together.
std::atomic<int> g_held { 0 };
}

// A folder held open while its sub-folders wait to be opened from it.
struct FolderLister::Opened {
    const int fd;
    explicit Opened(int descriptor)
        : fd(descriptor)
    {
    }
    ~Opened()
    {
        ::close(fd);
        g_held.fetch_sub(1, std::memory_order_relaxed);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
};

FolderLister::FolderLister(std::function<bool()> stopping, int threads)
    : m_stopping(std::move(stopping))
{
    m_threads.reserve(size_t(threads));
    try {
        for (int k = 0; k < threads; ++k)
            m_threads.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
        // Out of threads: the ones started do the work, or else Add does.
    }
}

FolderLister::~FolderLister()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void FolderLister::Add(const QString& path)
{
    Push({ path, path, nullptr, std::string() });
}

void FolderLister::Add(const Listing& parent, size_t at, const QString& path)
{
    Push({ path, parent.root, parent.opened, std::string(parent.names.data() + at) });
}

void FolderLister::Push(Queued queued)
{
    if (m_threads.empty()) {
        const bool stopping = m_stopping();
        Listing listing;
        if (!stopping)
            List(queued, listing);
        std::lock_guard lock(m_mutex);
        if (stopping)
            Stop();
        if (m_stopped)
            return;
        m_ready.push_back(std::move(listing));
        ++m_outstanding;
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_queue.push_back(std::move(queued));
        ++m_outstanding;
        if (!m_waiting || m_ready.size() >= kMaxReady)
            return;
    }
    m_work.notify_one();
}

bool FolderLister::Next(Listing& listing)
{
    const bool stopping = m_stopping();
    {
        std::unique_lock lock(m_mutex);
        if (stopping)
            Stop();
        m_done.wait(lock, [this] { return !m_ready.empty() || !m_outstanding || m_stopped; });
        if (m_ready.empty())
            return false;
        listing = std::move(m_ready.front());
        m_ready.pop_front();
        --m_outstanding;
        // Threads held back by a full list go on once half of it is taken:
        // waking one for each listing taken costs more than listing it.
        if (!m_waiting || m_ready.size() != kMaxReady / 2)
            return true;
    }
    m_work.notify_all();
    return true;
}

void FolderLister::Run()
{
    // Linux gives each thread a niceness of its own.
    ::setpriority(PRIO_PROCESS, 0, 5);
    std::unique_lock lock(m_mutex);
    for (;;) {
        while (!m_quit && (m_queue.empty() || m_ready.size() >= kMaxReady)) {
            ++m_waiting;
            m_work.wait(lock);
            --m_waiting;
        }
        if (m_quit)
            return;
        Queued queued = std::move(m_queue.back());
        m_queue.pop_back();
        lock.unlock();
        Listing listing;
        const bool stopping = m_stopping();
        if (!stopping)
            List(queued, listing);
        queued.parent.reset();
        lock.lock();
        if (stopping)
            Stop();
        // A folder listed while a stop was asked is dropped with the rest.
        if (m_stopped) {
            m_done.notify_all();
            continue;
        }
        m_ready.push_back(std::move(listing));
        m_done.notify_one();
    }
}

void FolderLister::Stop()
{
    m_stopped = true;
    m_queue.clear();
    m_ready.clear();
    m_outstanding = 0;
}

int FolderLister::Open(const Queued& queued, int& error)
{
    if (queued.name.empty()) {
        const int fd = ::open(QFile::encodeName(queued.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        error = fd < 0 ? errno : 0;
        return fd;
    }
    // A parent that could not be held open is opened again from the root,
    // with no link followed on the way; one that is a link by now is ELOOP.
    NoFollowFolder reopened;
    int parent = queued.parent ? queued.parent->fd : -1;
    if (parent < 0) {
        const QString above = queued.path.left(queued.path.lastIndexOf(QLatin1Char('/')));
        reopened
            = NoFollowFolder::Open(queued.root, NoFollowFolder::ComponentsBelow(queued.root, above), false);
        if (!reopened.IsOpen()) {
            error = errno;
            return -1;
        }
        parent = reopened.Descriptor();
    }
    const int fd = ::openat(parent, queued.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    // Linux says ENOTDIR for a link opened as a folder without following it.
    struct stat info;
    if ((error == ENOTDIR || error == ELOOP)
        && ::fstatat(parent, queued.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        error = S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
    return fd;
}

void FolderLister::List(Queued& queued, Listing& listing)
{
    int error = 0;
    const int fd = Open(queued, error);
    queued.parent.reset();
    listing.path = std::move(queued.path);
    listing.root = std::move(queued.root);
    if (fd < 0) {
        listing.error = error;
        return;
    }
    struct stat opened;
    if (queued.name.empty() && ::fstat(fd, &opened) == 0)
        listing.identity = { opened.st_dev, opened.st_ino };
    // The entries straight from the system, a buffer at a time: there is no
    // stream to set up for a folder, and it stays open for its sub-folders.
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t offset = 0; offset < got;) {
            const dirent64* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.')
                continue;
            unsigned char kind = entry->d_type;
            struct stat info;
            bool stated = false;
            if (kind == DT_UNKNOWN || kind == DT_REG) {
                if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone meanwhile
                stated = true;
                kind = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN;
            }
            if (kind != DT_DIR && !(kind == DT_REG && stated))
                continue;
            const size_t at = listing.names.size();
            listing.names.append(name, std::strlen(name) + 1);
            if (kind == DT_DIR)
                listing.folders.push_back(at);
            else
                listing.files.emplace_back(at, qint64(info.st_size));
        }
    }
    if (!listing.folders.empty() && g_held.fetch_add(1, std::memory_order_relaxed) < kMaxHeld) {
        listing.opened = std::make_shared<const Opened>(fd);
        return;
    }
    if (!listing.folders.empty())
        g_held.fetch_sub(1, std::memory_order_relaxed);
    ::close(fd);
}
