#include "SourceRecord.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QList>
#include <cerrno>
#include <cstdio>

namespace {
const QByteArray kMagic = QByteArrayLiteral("marrowby-source 1");
// No record of ours comes near this; a longer file is not one.
constexpr qint64 kMaxRecordBytes = 64 * 1024;
const QString kFolder = QStringLiteral("/.download-sources/");
} // namespace

QByteArray FormatSourceRecord(const QString& relativePath, const FileSource& source)
{
    return kMagic + '\n' + relativePath.toUtf8().toPercentEncoding() + '\n'
        + source.user.toUtf8().toPercentEncoding() + '\n' + source.remotePath.toPercentEncoding() + '\n'
        + QByteArray::number(source.size) + '\n';
}

std::optional<FileSource> ParseSourceRecord(const QByteArray& bytes, const QString& relativePath)
{
    if (bytes.size() > kMaxRecordBytes)
        return std::nullopt;
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() != 6 || lines[0] != kMagic || !lines[5].isEmpty()
        || QByteArray::fromPercentEncoding(lines[1]) != relativePath.toUtf8())
        return std::nullopt;
    FileSource source;
    source.user = QString::fromUtf8(QByteArray::fromPercentEncoding(lines[2]));
    source.remotePath = QByteArray::fromPercentEncoding(lines[3]);
    bool ok = false;
    source.size = lines[4].toLongLong(&ok);
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

QString SourceRecords::RecordPath(const QString& path) const
{
    const QByteArray hash = QCryptographicHash::hash(Relative(path).toUtf8(), QCryptographicHash::Sha1);
    return m_root + kFolder + QString::fromLatin1(hash.toHex());
}

std::optional<FileSource> SourceRecords::Read(const QString& path) const
{
    QFile in(RecordPath(path));
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ParseSourceRecord(in.read(kMaxRecordBytes + 1), Relative(path));
}

bool SourceRecords::Write(const QString& path, const FileSource& source, QString* error) const
{
    const QString record = RecordPath(path);
    const QString temporary = record + QStringLiteral(".new");
    QDir().mkpath(m_root + kFolder);
    QFile out(temporary);
    const QByteArray bytes = FormatSourceRecord(Relative(path), source);
    bool ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
    if (ok)
        ok = out.flush();
    QString reason = out.errorString();
    out.close();
    // rename() replaces the old record in one step: a reader sees the old one
    // or the new one, never half of either.
    if (ok
        && std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(record).constData())
            != 0) {
        ok = false;
        reason = qt_error_string(errno);
    }
    if (!ok) {
        QFile::remove(temporary);
        if (error)
            *error = reason;
    }
    return ok;
}

void SourceRecords::Remove(const QString& path) const
{
    QFile::remove(RecordPath(path));
}
