#include "ChatLog.h"
#include "ChatLogForm.h"
#include "store/Settings.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace ChatLog {

namespace {

// Longest name kept whole, in UTF-8 bytes; leaves room for the hash and ".log"
// within the usual 255-byte limit of a file name.
constexpr int kMaxNameBytes = 200;

bool NeedsEscape(QChar c, bool first)
{
    const char16_t u = c.unicode();
    return u < 0x20 || u == 0x7f || u == u'/' || u == u'\\' || (first && u == u'.') || c.category() == QChar::Other_Control
        || u == 0x2028 || u == 0x2029;
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

QString FileName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("%00.log");
    bool unsafe = false;
    for (qsizetype i = 0; i < name.size() && !unsafe; ++i)
        unsafe = NeedsEscape(name[i], i == 0);
    QString safe;
    if (!unsafe) {
        safe = name;
    } else {
        // "%" is escaped too here, so two different unsafe names never meet.
        for (qsizetype i = 0; i < name.size(); ++i) {
            const QChar c = name[i];
            safe += NeedsEscape(c, i == 0) || c == u'%' ? Escape(c) : QString(c);
        }
    }
    if (safe.toUtf8().size() > kMaxNameBytes) {
        QString cut;
        int bytes = 0;
        for (qsizetype i = 0; i < safe.size(); ++i) {
            const qsizetype len = safe[i].isHighSurrogate() && i + 1 < safe.size() ? 2 : 1;
            const int more = int(safe.mid(i, len).toUtf8().size());
            if (bytes + more > kMaxNameBytes - 12)
                break;
            cut += safe.mid(i, len);
            bytes += more;
            i += len - 1;
        }
        const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(10);
        safe = cut + QLatin1Char('~') + QString::fromLatin1(hash);
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
    if (!path.isEmpty() && QDir().mkpath(Folder(kind))) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(line.toUtf8());
            file.write("\n", 1);
        }
    }
    if (ChatLogForm* viewer = owner["chat_log_form"].AsPointer<ChatLogForm>())
        viewer->AddLine(line);
}

} // namespace ChatLog
