#pragma once
// The background build of the share list that everybody may see: its folders
// are read from the index in slices on the GUI thread, then written and
// compressed on a worker thread, and the result joins the share-list cache
// unless the index changed meanwhile.
#include "SharedFoldersManager.h"
#include <atomic>
#include <vector>

struct SharedFoldersManager::SharePrebuild {
    quint64 generation = 0;
    std::vector<quint64> key;
    std::vector<Item*> folders;
    size_t next = 0;
    FileInfoMap share;
};

// Writes the share-list message (code 5) of the share; false when stop was
// set before it was done.
bool PackShareList(const FileInfoMap& share, const std::atomic<bool>& stop, MemStream& message);
