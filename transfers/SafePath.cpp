#include "SafePath.h"
#include "store/ToQString.h"
#include <QDir>

namespace {
constexpr int kMaxComponentBytes = 255;
}

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
    // Cap the length in bytes at a character boundary.
    while (out.toUtf8().size() > kMaxComponentBytes) {
        int cut = out.size() - 1;
        if (cut > 0 && out.at(cut).isLowSurrogate())
            --cut;
        out.truncate(cut);
    }
    return out;
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
