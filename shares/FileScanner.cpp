#include "FileScanner.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <cerrno>
#include <dirent.h>

FileScanner::FileScanner()
    : QObject(nullptr)
{
}

FileScanner::FolderState FileScanner::ProbeFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    DIR* dir = ::opendir(native.constData());
    if (dir) {
        ::closedir(dir);
        return Readable;
    }
    return errno == ENOENT || errno == ENOTDIR ? Missing : Unreadable;
}

void FileScanner::Quit()
{
    QMutexLocker lock(&m_mutex);
    m_stop = true;
}

bool FileScanner::IsStopping() const
{
    QMutexLocker lock(&m_mutex);
    return m_stop;
}

FileScanner::Walk FileScanner::TakeResult()
{
    Walk taken = std::move(m_walk);
    if (taken.words.empty())
        taken.words = m_words.TakeWords();
    m_walk = Walk();
    return taken;
}

void FileScanner::ScanFolders(QStringList roots)
{
    WalkRoots(roots, true);
}

void FileScanner::RescanFolders(QStringList roots)
{
    WalkRoots(roots, false);
}

void FileScanner::WalkRoots(const QStringList& roots, bool shareVisited)
{
    std::set<QString> visited;
    for (const QString& root : roots) {
        if (!shareVisited)
            visited.clear();
        // A root that cannot be listed, an empty one (perhaps an unmounted
        // disk's mount point) and one that is gone are reported apart, so
        // that the merge can keep their files instead of dropping them.
        if (IsStopping())
            continue;
        const FolderState state = ProbeFolder(root);
        if (state == Missing) {
            m_walk.missing.insert(root);
            continue;
        }
        if (state == Unreadable) {
            m_walk.unavailable[root].insert(root);
            continue;
        }
        if (QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            m_walk.empty.insert(root);
            continue;
        }
        ScanFolder(root, root, visited);
    }
    // Handed over whole, so that taking the result costs the owner nothing.
    m_walk.words = m_words.TakeWords();
    emit FoldersScanned();
}

void FileScanner::ScanFolder(const QString& root, const QString& path, std::set<QString>& visited)
{
    if (IsStopping())
        return;
    if (path.indexOf(root) != 0)
        return;
    if (!visited.insert(path).second)
        return;
    if (path != root && ProbeFolder(path) == Unreadable) {
        m_walk.unavailable[root].insert(path);
        return;
    }
    const QFileInfoList entries = QDir(
        path, QString(), QDir::NoSort, QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot)
                                      .entryInfoList();
    FileMap& files = m_walk.folders[root][path];
    for (const QFileInfo& entry : entries) {
        if (entry.isFile())
            AddFile(files, entry.fileName(), entry.size());
        else if (entry.isDir())
            ScanFolder(root, entry.absoluteFilePath(), visited);
    }
}

void FileScanner::AddFile(FileMap& files, const QString& name, qint64 size)
{
    ScannedFile& file = files[name];
    file.size = size;
    // Plain ASCII names (most) are lower-cased in place of the round trip
    // through QString::toLower, which gives the same bytes for them.
    std::string& lower = m_lower;
    lower.resize(size_t(name.size()));
    const QChar* units = name.constData();
    bool ascii = true;
    for (qsizetype k = 0; k < name.size() && ascii; ++k) {
        const char16_t u = units[k].unicode();
        ascii = u < 0x80;
        lower[size_t(k)] = char(u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u);
    }
    if (!ascii)
        lower = name.toLower().toStdString();
    m_scratch.clear();
    SearchWords::Cut(lower, m_scratch);
    file.firstWord = quint32(m_walk.fileWords.size());
    file.wordCount = quint32(m_scratch.size());
    for (std::string_view word : m_scratch)
        m_walk.fileWords.push_back(m_words.Id(word));
}

bool FileScanner::ScanMP3(
    const QString& path, int& mpegVersion, QString& channelMode, int& frequencyIndex, bool& vbr, int& bitrate)
{
    Mp3Attributes attributes;
    if (!ScanMp3File(path, attributes, [this] { return IsStopping(); }))
        return false;
    mpegVersion = attributes.version;
    channelMode = attributes.channelMode;
    frequencyIndex = attributes.frequencyIndex;
    vbr = attributes.vbr;
    bitrate = attributes.bitrate;
    return true;
}

void FileScanner::OnMP3ScanRequired(QString path)
{
    int version, frequency, bitrate;
    QString channel;
    bool vbr;
    if (ScanMP3(path, version, channel, frequency, vbr, bitrate))
        emit MP3Scanned(path, version, channel, frequency, vbr, bitrate);
}

void FileScanner::OnMP3ScansRequired(QStringList paths)
{
    for (const QString& path : paths) {
        if (IsStopping())
            return;
        OnMP3ScanRequired(path);
    }
}
