#pragma once
// Turns a share list (folders with their files) into browsed-share items: one
// user_share, a user_share_folder per folder (named by its path as received)
// linked to its parent folder when the list holds it, and a user_share_file
// per file with its name, size and the audio attributes this client knows.
//
// A share list of a hundred thousand files takes a few hundred milliseconds to
// turn into items, so Start() builds in slices on the event loop and signals
// Finished() at the end; Run() builds everything at once. The user_share item
// exists from construction on, so its owner can connect it to a user at once.
// If the share is removed from the store while the build runs, the build
// stops and never signals.
//
// The list is copied into one block of text and two arrays: the caller's
// list is only lent for the duration of a signal, and copying a hundred
// thousand records one allocation at a time would keep the window waiting.
// A list whose owner lets the builder hold it is copied on a worker thread
// instead (a folder chain ten thousand deep is a hundred megabytes of paths);
// the slices start once the copy is done.
#include "peers/FileInfo.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QObject>
#include <QTimer>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

class Type;

class UserShareBuilder : public QObject, public DataHandler {
    Q_OBJECT
public:
    explicit UserShareBuilder(const FileInfoMap& share, QObject* parent = nullptr);
    // The same with a list the builder may hold until it is copied.
    explicit UserShareBuilder(std::shared_ptr<const FileInfoMap> share, QObject* parent = nullptr);

    ItemPtr Share() const { return m_share; }
    bool IsFinished() const { return m_finished; }

    // Builds in slices of a few milliseconds; Finished() at the end.
    void Start();
    // Builds what is left now.
    void Run();
    // Stops for good; what was built stays to its owner.
    void Stop();

signals:
    void Finished(ItemPtr share);

private:
    void Slice();
    // One folder, or as many of its files as the time allows; false when the
    // list is done.
    bool Step(const class QDeadlineTimer* turn);
    struct Folder {
        size_t key; // offset in m_text
        size_t keyLength;
        size_t firstFile;
        size_t fileCount;
    };
    struct File {
        size_t name;
        size_t nameLength;
        qint64 size;
        // The last value of each attribute the list gave; -1 for none.
        qint64 bitrate = -1;
        qint64 length = -1;
        qint64 mode = -1;
    };
    // The copy of the list.
    struct Flat {
        std::string text;
        std::vector<Folder> folders;
        std::vector<File> files;
    };
    static void Flatten(const FileInfoMap& share, Flat& flat);
    void Prepare();
    void Take(Flat& flat);
    bool m_ready = false; // the copy is done
    bool m_started = false;

    std::string_view Text(size_t at, size_t length) const { return std::string_view(m_text).substr(at, length); }
    void AddFolder(std::string_view path);
    void AddFile(const File& file);
    void OnShareRemoved(ItemPtr share);

    std::string m_text;
    std::vector<Folder> m_folderList;
    std::vector<File> m_fileList;
    size_t m_nextFolder = 0;
    size_t m_nextFile = 0; // within the current folder
    bool m_inFolder = false;
    ItemPtr m_share;
    ItemPtr m_folder;
    // The folders made so far by their path (the keys live in m_text).
    std::unordered_map<std::string_view, ItemPtr> m_folders;
    QTimer m_timer;
    bool m_finished = false;

    Type* m_folderType;
    Type* m_folderNameType;
    Type* m_parentType;
    Type* m_childType;
    Type* m_fileType;
    Type* m_fileNameType;
    Type* m_sizeType;
    Type* m_bitrateType;
    Type* m_lengthType;
    Type* m_modeType;
};
