#pragma once
// Share lists built in the background: the folders of one set of visible
// folders are read from the index and written in slices on the GUI thread,
// then the list is compressed on a worker thread. The result joins the
// share-list cache and goes to every user who asked for it meanwhile, unless
// the index changed: then the build starts again on the new index.
#include "SharedFoldersManager.h"
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
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
    // The list as written so far: written on the GUI thread folder by folder,
    // so that no per-file record outlives its folder.
    MemStream body;
    // One entry per request waiting for this list (none for the list built
    // ahead for everybody).
    std::vector<QString> waiting;
    // Set on the GUI thread when the index changes while it is packed.
    std::atomic<bool> cancel { false };
    // Written by the worker thread; read once it has finished.
    bool packed = false;
    MemStream message;
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

// The share-list message (code 5) of a written list: compress2 at level 9 of
// the body after the code; false when stop() became true before it was done.
bool PackShareList(const QByteArray& body, const std::function<bool()>& stop, MemStream& message);
