#include "SourceRecord.h"
#include "store/NoFollowFolder.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray kMagic = QByteArrayLiteral("marrowby-source 1");
// No record of ours comes near this; a longer file is not one.
constexpr qint64 kMaxRecordBytes = 64 * 1024;
const QString kFolder = QStringLiteral(".download-sources");
const QString kTemporary = QStringLiteral(".new");
// Records name other users and their files: readable by the user alone.
constexpr mode_t kRecordMode = 0600;

// The lines of a record: six, the last empty, the first the magic.
std::optional<QList<QByteArray>> RecordLines(const QByteArray& bytes)
{
    if (bytes.size() > kMaxRecordBytes)
        return std::nullopt;
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() != 6 || lines[0] != kMagic || !lines[5].isEmpty())
        return std::nullopt;
    return lines;
}

QByteArray ReadRecord(const NoFollowFolder& folder, const QString& name)
{
    const int descriptor = folder.OpenFile(name, O_RDONLY, nullptr);
    if (descriptor < 0)
        return QByteArray();
    QByteArray bytes(kMaxRecordBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(descriptor, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(descriptor);
    bytes.truncate(got);
    return bytes;
}

bool WriteAll(int descriptor, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}
} // namespace

QByteArray FormatSourceRecord(const QString& relativePath, const FileSource& source)
{
    return kMagic + '\n' + relativePath.toUtf8().toPercentEncoding() + '\n'
        + source.user.toUtf8().toPercentEncoding() + '\n' + source.remotePath.toPercentEncoding() + '\n'
        + QByteArray::number(source.size) + '\n';
}

std::optional<FileSource> ParseSourceRecord(const QByteArray& bytes, const QString& relativePath)
{
    const std::optional<QList<QByteArray>> lines = RecordLines(bytes);
    if (!lines || QByteArray::fromPercentEncoding(lines->at(1)) != relativePath.toUtf8())
        return std::nullopt;
    FileSource source;
    source.user = QString::fromUtf8(QByteArray::fromPercentEncoding(lines->at(2)));
    source.remotePath = QByteArray::fromPercentEncoding(lines->at(3));
    bool ok = false;
    source.size = lines->at(4).toLongLong(&ok);
    if (!ok || source.size < 0)
        return std::nullopt;
    return source;
}

SourceRecords::SourceRecords(const QString& root)
    : m_root(root)
{
}

QString SourceRecords::Relative(const QString& path) const
{
    return QDir(m_root).relativeFilePath(path);
}

QString SourceRecords::NameOf(const QString& relative)
{
    return QString::fromLatin1(QCryptographicHash::hash(relative.toUtf8(), QCryptographicHash::Sha1).toHex());
}

bool SourceRecords::IsTemporary(const QString& name)
{
    static const QRegularExpression temporary(QStringLiteral("^[0-9a-f]{40}\\.new$"));
    return temporary.match(name).hasMatch();
}

NoFollowFolder SourceRecords::Folder(bool create) const
{
    return NoFollowFolder::Open(m_root, { kFolder }, create);
}

std::optional<FileSource> SourceRecords::Read(const QString& path) const
{
    const NoFollowFolder folder = Folder(false);
    if (!folder.IsOpen())
        return std::nullopt;
    const QString relative = Relative(path);
    return ParseSourceRecord(ReadRecord(folder, NameOf(relative)), relative);
}

bool SourceRecords::Exists(const QString& path) const
{
    struct stat info;
    const NoFollowFolder folder = Folder(false);
    return folder.IsOpen() && folder.Stat(NameOf(Relative(path)), &info);
}

bool SourceRecords::Write(const QString& path, const FileSource& source, QString* error, bool sync) const
{
    const NoFollowFolder folder = Folder(true);
    const QString relative = Relative(path);
    const QString name = NameOf(relative);
    const QString temporary = name + kTemporary;
    QString reason = folder.Error();
    // A temporary file left by a write that was cut short goes first; the
    // new one is made afresh, never opened through whatever is there.
    int descriptor = -1;
    if (folder.IsOpen() && folder.RemoveFile(temporary))
        descriptor = folder.OpenFile(temporary, O_WRONLY | O_CREAT | O_EXCL, &reason, kRecordMode);
    bool ok = descriptor >= 0;
    if (ok) {
        // Whole before it counts (synced, unless the caller syncs it later),
        // then renamed over the old record in one step, so that a reader
        // sees the old one or the new one, never half of either.
        ok = WriteAll(descriptor, FormatSourceRecord(relative, source))
            && (!sync || ::fsync(descriptor) == 0);
        if (!ok)
            reason = qt_error_string(errno);
        ::close(descriptor);
        if (ok
            && ::renameat(folder.Descriptor(), QFile::encodeName(temporary).constData(), folder.Descriptor(),
                   QFile::encodeName(name).constData())
                != 0) {
            ok = false;
            reason = qt_error_string(errno);
        }
        if (!ok)
            folder.RemoveFile(temporary);
    } else if (folder.IsOpen() && reason.isEmpty()) {
        reason = qt_error_string(errno);
    }
    if (!ok && error)
        *error = reason;
    return ok;
}

bool SourceRecords::Sync(const QString& path, QString* error) const
{
    const NoFollowFolder folder = Folder(false);
    QString reason = folder.Error();
    const int descriptor = folder.IsOpen() ? folder.OpenFile(NameOf(Relative(path)), O_RDONLY, &reason) : -1;
    const bool ok = descriptor >= 0 && ::fsync(descriptor) == 0;
    if (descriptor >= 0) {
        if (!ok)
            reason = qt_error_string(errno);
        ::close(descriptor);
    }
    if (!ok && error)
        *error = reason;
    return ok;
}

bool SourceRecords::Remove(const QString& path) const
{
    const NoFollowFolder folder = Folder(false);
    return !folder.IsOpen() || folder.RemoveFile(NameOf(Relative(path)));
}

std::vector<SourceRecords::Stale> SourceRecords::FindStale() const
{
    std::vector<Stale> stale;
    const NoFollowFolder folder = Folder(false);
    const int listing = folder.IsOpen() ? ::dup(folder.Descriptor()) : -1;
    std::unique_ptr<DIR, int (*)(DIR*)> entries(listing >= 0 ? ::fdopendir(listing) : nullptr, ::closedir);
    if (!entries) {
        if (listing >= 0)
            ::close(listing);
        return stale;
    }
    while (const dirent* entry = ::readdir(entries.get())) {
        const QString name = QFile::decodeName(entry->d_name);
        // A record being written when the program was killed: never renamed
        // into its place, it belongs to no file.
        if (IsTemporary(name)) {
            stale.push_back({ name, QString() });
            continue;
        }
        const std::optional<QList<QByteArray>> lines = RecordLines(ReadRecord(folder, name));
        if (!lines)
            continue;
        const QString relative = QString::fromUtf8(QByteArray::fromPercentEncoding(lines->at(1)));
        const QStringList components = relative.split(QLatin1Char('/'));
        if (name != NameOf(relative) || components.contains(QStringLiteral("..")))
            continue;
        struct stat info;
        if (::lstat(QFile::encodeName(m_root + QLatin1Char('/') + relative).constData(), &info) != 0
            && (errno == ENOENT || errno == ENOTDIR))
            stale.push_back({ name, relative });
    }
    return stale;
}

bool SourceRecords::RemoveStale(const Stale& record) const
{
    if (record.relative.isEmpty()) {
        const NoFollowFolder folder = Folder(false);
        return IsTemporary(record.name) && folder.IsOpen() && folder.RemoveFile(record.name);
    }
    struct stat info;
    if (::lstat(QFile::encodeName(m_root + QLatin1Char('/') + record.relative).constData(), &info) == 0
        || (errno != ENOENT && errno != ENOTDIR))
        return false;
    const NoFollowFolder folder = Folder(false);
    return folder.IsOpen() && folder.RemoveFile(record.name);
}
