#include "FileScanner.h"
#include "store/VectorState.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace {
// The name as text, when the text stands for these very bytes.
bool Decoded(const char* name, size_t length, QString& text)
{
    text = QFile::decodeName(QByteArray::fromRawData(name, qsizetype(length)));
    return QFile::encodeName(text) == QByteArrayView(name, qsizetype(length));
}
} // namespace

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
    m_walk = Walk();
    return taken;
}

void FileScanner::SetPartSize(size_t files)
{
    m_partSize = files;
}

std::vector<FileScanner::Walk> FileScanner::TakeParts()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_parts, {});
}

void FileScanner::HandOverPart()
{
    Walk part;
    part.folders = std::move(m_walk.folders);
    part.fileWords = std::move(m_walk.fileWords);
    part.firstWordId = m_words.NewWordsStart();
    part.words = m_words.TakeNewWords();
    m_walk.folders.clear();
    m_walk.fileWords.clear();
    m_filesInPart = 0;
    bool first;
    {
        QMutexLocker lock(&m_mutex);
        first = m_parts.empty();
        m_parts.push_back(std::move(part));
    }
    // One signal for the parts that wait together.
    if (first)
        emit FoldersListed();
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
    // The queued call that started the walk may have left the wide
    // registers' upper halves in use, which slows every copy of the walk.
    ClearUpperVectorState();
    m_words.Clear();
    m_filesInPart = 0;
    std::set<QString> visited;
    FolderLister lister([this] { return IsStopping(); });
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
        WalkRoot(lister, root, visited);
    }
    // Handed over whole, so that taking the result costs the owner nothing.
    m_walk.firstWordId = m_words.NewWordsStart();
    m_walk.words = m_words.TakeNewWords();
    m_words.Clear();
    emit FoldersScanned();
}

bool FileScanner::FirstVisit(const QString& root, const QString& path, std::set<QString>& visited)
{
    return path.indexOf(root) == 0 && visited.insert(path).second;
}

void FileScanner::WalkRoot(FolderLister& lister, const QString& root, std::set<QString>& visited)
{
    // The folders are listed on the lister's threads, and what they hold is
    // recorded here as each listing comes back: a folder's files, then its
    // sub-folders queued. A stop drops the folders queued and the listings
    // not yet taken; the walk ends with what was recorded before it.
    if (!FirstVisit(root, root, visited)) {
        // Listed through a shared folder that holds it.
        struct stat info;
        if (::stat(QFile::encodeName(root).constData(), &info) == 0)
            m_walk.roots[root] = { info.st_dev, info.st_ino };
        return;
    }
    lister.Add(root);
    FolderLister::Listing listing;
    while (lister.Next(listing)) {
        const QString& path = listing.path;
        const int error = listing.error;
        if (error == ELOOP && path != root) {
            m_walk.links[root].insert(path);
            continue;
        }
        if (error && path != root && error != ENOENT && error != ENOTDIR) {
            m_walk.unavailable[root].insert(path);
            continue;
        }
        if (path == root && !error)
            m_walk.roots[root] = listing.identity;
        FileMap& files = m_walk.folders[root][path];
        for (const auto& [at, size] : listing.files) {
            if (!AddFile(files, listing.names.data() + at, size))
                LeaveOut(root, path, listing.names.data() + at);
        }
        const size_t partSize = m_partSize;
        if (partSize && m_filesInPart >= partSize)
            HandOverPart();
        if (listing.folders.empty() || IsStopping())
            continue;
        const QDir listed(path);
        for (size_t at : listing.folders) {
            const char* name = listing.names.data() + at;
            QString text;
            if (!Decoded(name, std::strlen(name), text)) {
                LeaveOut(root, path, name);
                continue;
            }
            const QString folder = listed.absoluteFilePath(text);
            if (FirstVisit(root, folder, visited))
                lister.Add(listing, at, folder);
        }
    }
}

void FileScanner::LeaveOut(const QString& root, const QString& folder, const char* name)
{
    auto& [count, shown] = m_walk.undecodable[root];
    if (++count <= 5)
        shown << folder + QLatin1Char('/') + QFile::decodeName(name);
}

bool FileScanner::AddFile(FileMap& files, const char* name, qint64 size)
{
    // Plain ASCII names (most) are taken and lower-cased as they are; others
    // go through QString, as the listing's text is read everywhere else.
    std::string& lower = m_lower;
    const size_t length = std::strlen(name);
    lower.resize(length);
    bool ascii = true;
    for (size_t k = 0; k < length && ascii; ++k) {
        const unsigned char c = static_cast<unsigned char>(name[k]);
        ascii = c < 0x80;
        lower[k] = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    QString text;
    if (ascii)
        text = QString::fromLatin1(name, qsizetype(length));
    else if (!Decoded(name, length, text))
        return false;
    if (!ascii)
        lower = text.toLower().toStdString();
    ScannedFile& file = files[text];
    file.size = size;
    ++m_filesInPart;
    m_scratch.clear();
    SearchWords::Cut(lower, m_scratch);
    file.firstWord = quint32(m_walk.fileWords.size());
    file.wordCount = quint32(m_scratch.size());
    for (std::string_view word : m_scratch)
        m_walk.fileWords.push_back(m_words.Id(word));
    return true;
}

bool FileScanner::ScanMP3(const QString& root, const QString& path, int& mpegVersion, QString& channelMode,
    int& frequencyIndex, bool& vbr, int& bitrate)
{
    Mp3Attributes attributes;
    if (!ScanMp3File(root, path, attributes, [this] { return IsStopping(); }))
        return false;
    mpegVersion = attributes.version;
    channelMode = attributes.channelMode;
    frequencyIndex = attributes.frequencyIndex;
    vbr = attributes.vbr;
    bitrate = attributes.bitrate;
    return true;
}

void FileScanner::OnMP3ScanRequired(QString root, QString path)
{
    int version, frequency, bitrate;
    QString channel;
    bool vbr;
    if (ScanMP3(root, path, version, channel, frequency, vbr, bitrate))
        emit MP3Scanned(path, version, channel, frequency, vbr, bitrate);
}

void FileScanner::OnMP3ScansRequired(QStringList roots, QStringList paths)
{
    for (qsizetype k = 0; k < paths.size() && k < roots.size(); ++k) {
        if (IsStopping())
            return;
        OnMP3ScanRequired(roots[k], paths[k]);
    }
}
