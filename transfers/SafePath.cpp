#include "SafePath.h"
#include "store/ToQString.h"
#include <QDir>
#include <QTextBoundaryFinder>

namespace {
constexpr qsizetype kMaxComponentBytes = 255;
// A longer "extension" is part of the name, not a type: it may be cut.
constexpr qsizetype kMaxExtensionBytes = 32;

// Where the extension starts: the last dot, unless it leads the name or the
// rest is too long to be one. The size of the name when there is none.
qsizetype ExtensionStart(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || name.mid(dot).toUtf8().size() > kMaxExtensionBytes)
        return name.size();
    return dot;
}

// How much of the text fits in `room` bytes of UTF-8, cut between
// characters.
qsizetype FittingLength(const QString& text, qsizetype room)
{
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    qsizetype cut = 0;
    qsizetype bytes = 0;
    for (qsizetype at = boundaries.toNextBoundary(); at > 0; at = boundaries.toNextBoundary()) {
        bytes += QStringView(text).mid(cut, at - cut).toUtf8().size();
        if (bytes > room)
            break;
        cut = at;
    }
    return cut;
}

// stem + tail, the stem cut between characters so that the whole holds at
// most kMaxComponentBytes of UTF-8 (between code points when its first
// character alone, a letter under a pile of marks, is too long).
QString FitStem(const QString& stem, const QString& tail)
{
    const qsizetype room = kMaxComponentBytes - tail.toUtf8().size();
    if (stem.toUtf8().size() <= room)
        return stem + tail;
    qsizetype cut = FittingLength(stem, room);
    if (cut == 0) {
        // No UTF-16 unit takes more than 3 bytes, a pair 4.
        cut = room / 3;
        if (cut > 0 && stem.at(cut - 1).isHighSurrogate())
            --cut;
    }
    return stem.left(cut) + tail;
}
} // namespace

QString SafePathComponent(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'/' || u == u'\\' || u < 0x20 || u == 0x7f)
            out += QLatin1Char('_');
        else
            out += c;
    }
    bool dotsOnly = true;
    for (QChar c : out) {
        if (c != QLatin1Char('.')) {
            dotsOnly = false;
            break;
        }
    }
    if (out.isEmpty())
        out = QStringLiteral("_");
    else if (dotsOnly)
        out.fill(QLatin1Char('_'));
    if (out.toUtf8().size() <= kMaxComponentBytes)
        return out;
    const qsizetype extension = ExtensionStart(out);
    return FitStem(out.left(extension), out.mid(extension));
}

QString NumberedPathComponent(const QString& name, int n)
{
    const qsizetype extension = ExtensionStart(name);
    return FitStem(name.left(extension), QStringLiteral(" (%1)").arg(n) + name.mid(extension));
}

QStringList SafeFolderComponents(const std::string& folder)
{
    const QString text = Utf8Text(folder.data(), qsizetype(folder.size()));
    QStringList out;
    QString current;
    auto flush = [&] {
        if (!current.isEmpty())
            out << SafePathComponent(current);
        current.clear();
    };
    for (QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('/'))
            flush();
        else
            current += c;
    }
    flush();
    return out;
}

bool IsPathUnder(const QString& root, const QString& path)
{
    if (root.isEmpty() || path.isEmpty() || !root.startsWith(QLatin1Char('/'))
        || !path.startsWith(QLatin1Char('/')))
        return false;
    if (path.contains(QChar(0)))
        return false;
    QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    if (!cleanRoot.endsWith(QLatin1Char('/')))
        cleanRoot += QLatin1Char('/');
    return cleanPath.startsWith(cleanRoot) && cleanPath.size() > cleanRoot.size();
}
