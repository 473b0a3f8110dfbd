#pragma once
// The state of one merge of a walk into the share index, kept between the
// slices in which the merge runs on the GUI thread. The walk comes in parts
// while it goes on; each is merged as it comes, and what only the end of the
// walk can tell (folders that could not be read, empty and missing shared
// folders, folders no longer reached) is handled after the last.
#include "SharedFoldersManager.h"
#include <QStringList>
#include <deque>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// A file name of the run being merged, in UTF-8, and its hash in the store.
struct SharedFoldersManager::RunName {
    std::string key;
    quint64 hash = 0;
};

struct SharedFoldersManager::Merge {
    WalkKind kind = WalkKind::Startup;
    QStringList roots; // the shared folders the walk was asked for
    FileScanner::Walk walk; // the part being merged
    std::deque<FileScanner::Walk> parts; // parts waiting to be merged
    bool walkDone = false; // the last part has come
    std::vector<std::string> words; // the walk's words by number

    FileScanner::ScanResult::iterator root;
    FileScanner::FolderMap::iterator folder;
    FileScanner::FileMap::iterator file;
    bool rootOpen = false;
    bool folderOpen = false;

    ItemPtr rootItem;
    ItemPtr folderItem;
    // The folder's files before this visit, by exact name; what is left when
    // the folder is done has left the disk.
    std::unordered_map<std::string, Item*> previous;
    std::vector<RunName> runNames; // the names of MergeFiles' run
    std::vector<Item*> leftovers; // a second item with a name already seen
    // The creation numbers of the folders the start-up walk saw (sorted when
    // the sweep begins); a list, since a set of a hundred thousand folders
    // rehashes in one go for tens of milliseconds.
    std::vector<quint64> seen;
    // A rescan's (shared folder, folder) links that the walk reached or that
    // lie in a part it could not read: the links to keep.
    std::set<std::pair<Item*, Item*>> reached;
    QStringList mp3; // MP3 files to read, sent to the scanner once per slice
    QStringList mp3Roots; // the shared folder each was listed under
    // The token item of each of the walk's words with its creation number
    // (one read finds both), found on first use; all forgotten when a token
    // item is removed meanwhile.
    std::vector<std::pair<quint64, Item*>> wordItems;
    std::vector<std::pair<quint64, Item*>> fileWords; // one file's, by creation number
    bool wordsStale = false;
    std::vector<std::pair<Item*, Item*>> links; // (file or folder, word) to link in one go
    bool linking = false; // links are pending, in a batch of the store

    // The last phase: the folder items as they were when it began.
    bool sweeping = false;
    std::vector<Item*> sweep;
    size_t sweepAt = 0;
    bool ownRemoval = false;
    std::set<QString> walked;
};
