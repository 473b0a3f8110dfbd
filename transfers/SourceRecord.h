#pragma once
// What a file in the downloads folder was begun for.
//
// A partial file holds the start of one source's file: one user's file at one
// remote path with one size. Nothing in its bytes says which, and its name is
// shared by every file of that name in a folder of that name, whoever shares
// it. So each partial file the engine begins gets a small record of its
// source, kept apart from the files (in a hidden folder below the downloads
// folder, one record per file, named by a hash of the file's path relative to
// the downloads folder), written and synced before the file it describes is
// made or takes its name, and replaced atomically. The record lives as long as
// the file does: it follows the file into "complete", is replaced when a new
// file is begun at that path, and a record left at a name in "complete" by a
// file deleted since is removed before another file takes the name. The
// records of files that the user deleted are let go after a start (FindStale
// on a worker, RemoveStale where records are written). A partial file's record
// is believed only together with the bytes the peer sends again on a resume.
// A file without a record, or with a damaged one, belongs to no source: its
// bytes are never taken for any download's.
//
// The records folder is reached without following links (NoFollowFolder).
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class NoFollowFolder;

struct FileSource {
    QString user;
    // The remote folder, "\" and the file name, as the peer spells them, with
    // every "/" taken as "\".
    QByteArray remotePath;
    qint64 size = -1;

    bool SameFile(const FileSource& other) const
    {
        return user == other.user && remotePath == other.remotePath;
    }
    bool operator==(const FileSource& other) const { return SameFile(other) && size == other.size; }
};

// The record's bytes for the file at relativePath, and back: nullopt for
// bytes that are not such a record of that path.
QByteArray FormatSourceRecord(const QString& relativePath, const FileSource& source);
std::optional<FileSource> ParseSourceRecord(const QByteArray& bytes, const QString& relativePath);

// The records of the files below a downloads folder (root: "/" separators).
// Paths given are absolute, below root.
class SourceRecords {
public:
    explicit SourceRecords(const QString& root);

    // The source recorded for the file at the path; nullopt when there is
    // none (or it is damaged).
    std::optional<FileSource> Read(const QString& path) const;
    // Whether there is a record of the file, damaged or not.
    bool Exists(const QString& path) const;
    // False, with the system's reason, when the record could not be written.
    // Without sync it is not waited for on the disk: Sync() does that.
    bool Write(
        const QString& path, const FileSource& source, QString* error = nullptr, bool sync = true) const;
    bool Sync(const QString& path, QString* error = nullptr) const;
    // False when a record is there and could not be removed.
    bool Remove(const QString& path) const;

    // A record whose file is not on disk: its name in the records folder and
    // the file's path relative to the root; or a record's temporary file
    // (no path) left by a write that was cut short.
    struct Stale {
        QString name;
        QString relative;
    };
    // Reads every record: those of files no longer there, and temporary
    // files. For a worker.
    std::vector<Stale> FindStale() const;
    // Removes the record if its file is still not there. On the thread that
    // writes records and makes their files, so that a record written for a
    // file about to be made is never taken for a stale one.
    bool RemoveStale(const Stale& record) const;

private:
    static QString NameOf(const QString& relative);
    static bool IsTemporary(const QString& name);
    NoFollowFolder Folder(bool create) const;
    QString Relative(const QString& path) const;

    QString m_root;
};
