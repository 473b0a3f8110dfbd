#pragma once
// Lists folders on threads of its own, for the scanner's walk.
//
// A folder's listing is its regular files with their sizes and the names of
// its sub-folders; hidden entries (names that begin with "."), symbolic links
// and special files are left out. A sub-folder is opened from its parent's
// open descriptor without following a link, so a folder swapped for a link
// since its parent was listed is not listed through it (it comes back with
// ELOOP): the walk never reads outside the folders it was given.
//
// Listing a big tree is mostly waiting: on the disk for folder blocks and
// file records on a cold cache, on system calls on a warm one. With several
// folders asked at once, the disk answers them together and the calls share
// out over the processors, so a tree is listed several times faster than one
// folder after the other.
//
// The owner queues folders (Add) and takes their listings back (Next) in the
// order they are done. The threads share with it only the queue and the
// finished listings, under the lister's mutex. At most kMaxReady listings
// wait to be taken, so an owner slower than the disk holds the threads back
// instead of piling up names. A stop drops the folders queued and the
// listings not yet taken at once, however many: the owner gets nothing more,
// and the destructor waits only for the folders being listed. Each thread
// lists one folder at a time and runs at a lower priority than the rest
// of the program, so that a walk of a cached tree leaves the window its
// processor.
#include "store/NoFollowFolder.h"
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FolderLister {
    struct Opened;

public:
    struct Listing {
        QString path;
        // The error of a folder that could not be opened, else 0; ELOOP for
        // a sub-folder that is a symbolic link by now.
        int error = 0;
        // A folder added by its path: the folder that was opened there.
        FileIdentity identity { 0, 0 };
        // The entries' names one after the other, each ended by a zero byte.
        std::string names;
        // Each regular file: where its name begins in names, and its size.
        std::vector<std::pair<size_t, qint64>> files;
        // Each sub-folder: where its name begins in names.
        std::vector<size_t> folders;
        // The folder added by its path that this one lies in, and the folder
        // itself while it is held open for its sub-folders to be opened from
        // (at most kMaxHeld at once in the process; the sub-folders of the
        // others are opened component by component from their root).
        QString root;
        std::shared_ptr<const Opened> opened;
    };

    static constexpr int kThreads = 8;
    static constexpr size_t kMaxReady = 64;
    static constexpr int kMaxHeld = 128;

    // stopping() is asked before each folder, on the listing threads, and by
    // Next.
    explicit FolderLister(std::function<bool()> stopping, int threads = kThreads);
    ~FolderLister(); // waits for the threads; folders still queued are dropped
    FolderLister(const FolderLister&) = delete;
    FolderLister& operator=(const FolderLister&) = delete;

    // Adds a folder opened by its path, following any link on it: a shared
    // folder as the user gave it.
    void Add(const QString& path);
    // Adds the sub-folder of a listing whose name starts at `at` in its
    // names; path is its path, as the listing's are given.
    void Add(const Listing& parent, size_t at, const QString& path);
    // Waits for the next finished listing; false once every folder added
    // has been taken back, or once a stop was asked.
    bool Next(Listing& listing);

private:
    // A folder to list: its path, and the parent it is opened from by name
    // (none for one added by its path).
    struct Queued {
        QString path;
        QString root;
        std::shared_ptr<const Opened> parent;
        std::string name;
    };

    void Push(Queued queued);
    // Opens the folder to list: the descriptor, or -1 with the error.
    static int Open(const Queued& queued, int& error);
    // Lists one folder on the calling thread.
    static void List(Queued& queued, Listing& listing);
    void Run();
    // Drops what is queued and what waits to be taken; under the mutex.
    void Stop();

    std::function<bool()> m_stopping;
    std::mutex m_mutex;
    std::condition_variable m_work; // a folder to list, or room for a listing
    std::condition_variable m_done; // a listing is ready
    std::vector<Queued> m_queue; // taken last first, so the walk goes deep and the queue stays short
    std::deque<Listing> m_ready;
    size_t m_outstanding = 0; // added and not yet taken back
    int m_waiting = 0; // threads waiting for a folder or for room
    bool m_quit = false;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};
