#pragma once
// Share lists built in the background: the folders of one set of visible
// folders are read from the index and written in slices on the GUI thread,
// and a worker thread compresses the list as it is written, a chunk at a
// time, so that the whole list never sits in memory uncompressed. The result
// joins the share-list cache and goes to every user who asked for it
// meanwhile, unless the index changed: then the build starts again on the
// new index.
#include "SharedFoldersManager.h"
#include <QByteArray>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct SharedFoldersManager::SharePrebuild {
    // The index it was begun on: a change of shape restarts it; any other
    // change only keeps it out of the cache.
    quint64 generation = 0;
    quint64 shape = 0;
    std::vector<quint64> key;
    // The folders to list, then with their keys (made in slices too), then
    // in key order (a key may repeat).
    std::vector<Item*> unkeyed;
    std::vector<std::pair<std::string, Item*>> folders;
    bool sorted = false;
    size_t next = 0;
    // The folder being written, over as many slices as it takes: its key
    // (an index into folders), the file items of every folder with that key
    // and how many of them are read into records, then the records not yet
    // written (each freed once written).
    bool inFolder = false;
    bool headed = false;
    size_t folderKey = 0;
    std::vector<Item*> items;
    size_t read = 0;
    FileInfoSet files;
    // The chunk being written: written on the GUI thread folder by folder,
    // so that no per-file record outlives its folder, and handed to the
    // packer once it is big enough.
    MemStream body;
    // Whether the packer has been started on this list.
    bool feeding = false;
    // One entry per request waiting for this list (none for the list built
    // ahead for everybody).
    std::vector<QString> waiting;
    // Set on the GUI thread when the index changes while it is packed, or
    // when the manager goes.
    std::atomic<bool> cancel { false };
    // Written by the worker thread; read once it has finished.
    bool packed = false;
    MemStream message;

    // GUI thread: hands the chunk written so far to the packer (the last one
    // may be empty); bytes handed over and not yet compressed.
    void Feed(bool last);
    qint64 Backlog();
    void Cancel();
    // Worker thread: the share-list message (code 5) of the chunks as they
    // come, the bytes compress2 at level 9 gives for the whole body; false
    // once cancelled.
    bool Pack();

private:
    std::mutex m_lock;
    std::condition_variable m_fed;
    std::deque<QByteArray> m_chunks;
    qint64 m_backlog = 0;
    bool m_last = false;
};

// One's own share read for RequestSharedFilesAsUserShare (OwnShareBuild.cpp).
struct SharedFoldersManager::UserShareBuild {
    QString user;
    QPointer<QObject> context;
    UserShareReady ready;
    // The index shape the folders were taken from: a change (a removal among
    // them) starts the reading again, so no folder is read once gone.
    quint64 generation = 0;
    bool started = false;
    std::vector<Item*> folders;
    size_t next = 0;
    FileInfoMap share;
};
