#include "ChatLog.h"
#include "ChatLogForm.h"
#include "store/PrivateFiles.h"
#include "store/Settings.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>
#include <utility>

namespace ChatLog {

namespace {

// Longest file name made, in UTF-8 bytes, ".log" not counted: within the
// usual 255-byte limit of a file name.
constexpr int kMaxNameBytes = 200;

bool NeedsEscape(QChar c, bool first)
{
    const char16_t u = c.unicode();
    return u < 0x20 || u == 0x7f || u == u'/' || u == u'\\' || (first && u == u'.') || c.category() == QChar::Other_Control
        || u == 0x2028 || u == 0x2029;
}

bool IsEscapeDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

// "%" followed by two digits of an escape ("%2F"): what escaping writes.
bool LooksEscaped(const QString& name, qsizetype i)
{
    return name[i] == u'%' && i + 2 < name.size() && IsEscapeDigit(name[i + 1]) && IsEscapeDigit(name[i + 2]);
}

QString Escape(QChar c)
{
    QString out;
    for (char b : QString(c).toUtf8())
        out += QStringLiteral("%%1").arg(uint(uchar(b)), 2, 16, QLatin1Char('0')).toUpper();
    return out;
}

} // namespace

QString Folder(Kind kind)
{
    return QDir::homePath() + (kind == Rooms ? QStringLiteral("/Marrowby Chat Logs/Rooms")
                                             : QStringLiteral("/Marrowby Chat Logs/Users"));
}

// Three disjoint kinds of file name keep the mapping one-to-one:
// - a name needing no escape and holding nothing that reads as an escape is
//   its own file name: it holds no "%" followed by two escape digits;
// - any other name is escaped, "%" included: every "%" of the result starts
//   an escape, and at least one does;
// - the empty name and names too long for a file name hold "%%" followed by
//   escape digits, which neither of the others can: "%%00" for the empty
//   name, and for a long one the start of its file name, "%%" and the SHA-256
//   of the whole name.
QString FileName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("%%00.log");
    bool escaped = false;
    for (qsizetype i = 0; i < name.size() && !escaped; ++i)
        escaped = NeedsEscape(name[i], i == 0) || LooksEscaped(name, i);
    QString safe;
    if (!escaped) {
        safe = name;
    } else {
        for (qsizetype i = 0; i < name.size(); ++i) {
            const QChar c = name[i];
            safe += NeedsEscape(c, i == 0) || c == u'%' ? Escape(c) : QString(c);
        }
    }
    if (safe.toUtf8().size() > kMaxNameBytes) {
        const QByteArray hash
            = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().toUpper();
        const int room = kMaxNameBytes - 2 - int(hash.size());
        QString cut;
        int bytes = 0;
        for (qsizetype i = 0; i < safe.size(); ++i) {
            const qsizetype len = safe[i].isHighSurrogate() && i + 1 < safe.size() ? 2 : 1;
            const int more = int(safe.mid(i, len).toUtf8().size());
            if (bytes + more > room)
                break;
            cut += safe.mid(i, len);
            bytes += more;
            i += len - 1;
        }
        safe = cut + QStringLiteral("%%") + QString::fromLatin1(hash);
    }
    return safe + QStringLiteral(".log");
}

QString FilePath(Kind kind, const QString& name)
{
    const QString folder = QDir::cleanPath(Folder(kind));
    const QString path = QDir::cleanPath(folder + QLatin1Char('/') + FileName(name));
    // A belt to the escaping above: the file must sit directly in its folder.
    if (QFileInfo(path).absolutePath() != folder || !path.startsWith(folder + QLatin1Char('/')))
        return QString();
    return path;
}

bool IsLogFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString folder = QFileInfo(QDir::cleanPath(path)).absolutePath();
    return folder == QDir::cleanPath(Folder(Rooms)) || folder == QDir::cleanPath(Folder(Users));
}

QString OneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        const char16_t u = c.unicode();
        if (u == u'\n' || u == u'\r' || u == 0 || u == 0x0b || u == 0x0c || u == 0x85 || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return line;
}

QString LongTime(const QDateTime& time)
{
    return time.toString(QStringLiteral("MMM d h:mm:ss ap"));
}

QString ChatLine(const QString& user, const QString& text)
{
    return OneLine(QStringLiteral("[%1][%2] %3").arg(LongTime(QDateTime::currentDateTime()), user, text));
}

QString ActionLine(const QString& status)
{
    return OneLine(QStringLiteral("[%1] * %2").arg(LongTime(QDateTime::currentDateTime()), status));
}

void Write(Kind kind, const QString& name, ItemPtr owner, const char* setting, const QString& line)
{
    if (!settings.IsYes(setting))
        return;
    const QString path = FilePath(kind, name);
    if (!path.isEmpty()) {
        // Logs of conversations are the user's alone. Folders left open to
        // others by an older version are closed once a run; the folder is
        // made when it is missing (as the first time, or after someone
        // removed it), not looked at for every line.
        static bool folderChecked[2] = { false, false };
        if (!std::exchange(folderChecked[kind], true)) {
            PrivateFiles::KeepToOwner(QFileInfo(Folder(kind)).path());
            PrivateFiles::KeepToOwner(Folder(kind));
        }
        int fd = PrivateFiles::OpenForAppend(path);
        if (fd < 0 && PrivateFiles::MakeFolder(Folder(kind)))
            fd = PrivateFiles::OpenForAppend(path);
        QFile file;
        if (fd >= 0 && file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle))
            file.write(line.toUtf8() + '\n');
        else if (fd >= 0)
            ::close(fd);
    }
    if (ChatLogForm* viewer = owner["chat_log_form"].AsPointer<ChatLogForm>())
        viewer->AddLine(line);
}

} // namespace ChatLog
