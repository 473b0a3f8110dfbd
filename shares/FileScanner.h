#pragma once
// Walks the shared folders and reads MP3 frame headers on a thread of its own.
//
// The scanner never touches the item store or the log: a walk fills an
// in-memory result and emits FoldersScanned(); the owner, on the GUI thread,
// takes the result over (TakeResult) and merges it. With a part size set, the
// walk also hands over what it has listed every so many files (TakeParts,
// announced by FoldersListed()), so that the owner merges while the walk goes
// on; what is left comes with FoldersScanned(). The stop flag and the parts
// waiting to be taken are the only state shared between the threads; they sit
// under the scanner's mutex. The flag is read before each folder of a walk
// and before each block of an MP3 read, so a stop request ends the work in
// well under a second.
//
// Folders are listed on a FolderLister's threads, several at once; the words
// of the names are cut and the result built on the scanner thread.
#include "FolderLister.h"
#include "Mp3Scanner.h"
#include "SearchWords.h"
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

class FileScanner : public QObject {
    Q_OBJECT
public:
    // A file as the folder listing gave it, and its search words: entries
    // [firstWord, firstWord + wordCount) of its part's fileWords.
    struct ScannedFile {
        qint64 size = 0;
        quint32 firstWord = 0;
        quint32 wordCount = 0;
    };
    // File name to what the walk found of it.
    typedef std::map<QString, ScannedFile> FileMap;
    // Folder path (the root itself, or an absolute sub-folder path) to its files.
    typedef std::map<QString, FileMap> FolderMap;
    // Root (a shared folder's path as given) to the folders walked under it.
    typedef std::map<QString, FolderMap> ScanResult;

    // What a walk found: the folders it listed, and the folders that exist
    // but could not be listed (an unmounted disk, a root that is missing or is
    // no folder), each under its root. The items of an unavailable folder are
    // left as they are until it can be read again.
    // The words of the file names are cut here, off the GUI thread: each
    // distinct word once in words, each file's words as numbers into it.
    // A root that no longer exists is listed in missing instead, and an
    // empty root in empty: it may be an unmounted disk's mount point, which
    // the owner tells by what the index holds under it.
    // A part of a walk carries the words first numbered in it: words[k] is
    // word number firstWordId + k of the walk.
    // A sub-folder found to be a symbolic link when its turn came (swapped
    // for one since its parent was listed) is left out, as links are, and
    // named in links under its root.
    // A file or folder whose name is not valid text (not UTF-8) is left out:
    // a peer asks for a file by its name as text, which would lead to no
    // file or to another whose name holds the replacement character. Each
    // root has the number left out, with the first few paths as shown.
    struct Walk {
        ScanResult folders;
        std::map<QString, std::set<QString>> unavailable;
        std::map<QString, std::set<QString>> links;
        std::map<QString, std::pair<size_t, QStringList>> undecodable;
        // The folder found at each root's path (following a link there, as
        // the user's choice), for an upload to tell it from another one
        // put in its place later.
        std::map<QString, FileIdentity> roots;
        std::set<QString> missing;
        std::set<QString> empty;
        std::vector<std::string> words;
        std::vector<quint32> fileWords;
        quint32 firstWordId = 0;
    };

    enum FolderState { Readable, Missing, Unreadable };
    // Whether a folder can be listed now (thread-safe; opens and closes it).
    static FolderState ProbeFolder(const QString& path);

    FileScanner();

    // Sets the stop flag; safe from any thread; waits for nothing.
    void Quit();
    bool IsStopping() const;

    // Hands the finished walk over and leaves the scanner's result empty. Called
    // on the owner's thread after FoldersScanned(), when no walk is running.
    Walk TakeResult();
    // Hand over parts of a walk every `files` files or so (0: the whole walk
    // at its end, as TakeResult gives it). Set before a walk starts.
    void SetPartSize(size_t files);
    // The parts listed since the last call, in walk order (thread-safe).
    std::vector<Walk> TakeParts();

    // path is a file listed under the shared folder root.
    bool ScanMP3(const QString& root, const QString& path, int& mpegVersion, QString& channelMode,
        int& frequencyIndex, bool& vbr, int& bitrate);

public slots:
    void ScanFolders(QStringList roots);
    // The same, but each root is walked on its own, so that a folder inside
    // two shared folders is recorded under both.
    void RescanFolders(QStringList roots);
    void OnMP3ScanRequired(QString root, QString path);
    // The same for each path in turn, listed under roots[k]; a stop request
    // skips the rest.
    void OnMP3ScansRequired(QStringList roots, QStringList paths);

signals:
    void FoldersScanned();
    // Parts of the running walk are waiting to be taken.
    void FoldersListed();
    void MP3Scanned(
        QString path, int mpegVersion, QString channelMode, int frequencyIndex, bool vbr, int bitrate);

private:
    void WalkRoots(const QStringList& roots, bool shareVisited);
    void WalkRoot(FolderLister& lister, const QString& root, std::set<QString>& visited);
    // Whether a folder lies under the root and this walk has not listed it yet.
    static bool FirstVisit(const QString& root, const QString& path, std::set<QString>& visited);
    // False, the file left out, when its name is not valid text.
    bool AddFile(FileMap& files, const char* name, qint64 size);
    void LeaveOut(const QString& root, const QString& folder, const char* name);
    void HandOverPart();

    Walk m_walk;
    std::atomic<size_t> m_partSize { 0 };
    size_t m_filesInPart = 0;
    std::vector<Walk> m_parts;
    SearchWords::Dictionary m_words;
    std::vector<std::string_view> m_scratch;
    std::string m_lower;
    bool m_stop = false;
    mutable QMutex m_mutex;
};
