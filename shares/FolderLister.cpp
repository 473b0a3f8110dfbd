#include "FolderLister.h"
#include <QFile>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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
    if (m_threads.empty()) {
        const bool stopping = m_stopping();
        Listing listing;
        listing.path = path;
        if (!stopping)
            List(listing);
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
        m_queue.push_back(path);
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
        Listing listing;
        listing.path = std::move(m_queue.back());
        m_queue.pop_back();
        lock.unlock();
        const bool stopping = m_stopping();
        if (!stopping)
            List(listing);
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

void FolderLister::List(Listing& listing)
{
    const int fd = ::open(QFile::encodeName(listing.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        listing.error = errno;
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        listing.error = errno;
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
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
    ::closedir(dir);
}
