#include "GeneralFunctions.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <string_view>

namespace {
bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The path without one trailing separator.
std::string_view DropTrailingSeparator(std::string_view path)
{
    if (!path.empty() && IsSeparator(path.back()))
        path.remove_suffix(1);
    return path;
}
}

std::string GetFileName(std::string_view path)
{
    std::string_view p = DropTrailingSeparator(path);
    const size_t last = p.find_last_of("\\/");
    if (last == std::string_view::npos)
        return std::string(p);
    return std::string(p.substr(last + 1));
}

std::string GetFolder(const std::string& path)
{
    std::string_view p = DropTrailingSeparator(path);
    const size_t last = p.find_last_of("\\/");
    if (last == std::string_view::npos)
        return std::string(p);
    return std::string(p.substr(0, last));
}

std::string GetParentFolder(const std::string& path)
{
    if (path.find_first_of("\\/") == std::string::npos)
        return path;
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '\\')
        --end;
    if (end == 0)
        return std::string();
    return GetFolder(path.substr(0, end));
}

QString GetAbsoluteFileName(const QString& path)
{
    QString result = path.toLower();
    if (result.endsWith(u'\\') || result.endsWith(u'/'))
        result.chop(1);
    return result;
}

std::string GetFileExtension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return ext;
}

std::string StringReplace(std::string subject, const std::string& from, const std::string& to)
{
    if (from.empty())
        return subject;
    size_t pos = 0;
    while ((pos = subject.find(from, pos)) != std::string::npos) {
        subject.replace(pos, from.size(), to);
        pos += to.size();
    }
    return subject;
}

bool GetBit(unsigned int value, int n)
{
    if (n < 1 || n > 32)
        return false;
    return (value >> (n - 1)) & 1u;
}

QString CommafyNumber(qint64 n)
{
    // Work on the magnitude as unsigned so that the smallest qint64 has one too.
    // Written backwards into a buffer: lists fill thousands of cells with it.
    const bool negative = n < 0;
    quint64 magnitude = negative ? quint64(0) - quint64(n) : quint64(n);
    char text[32]; // 20 digits, 6 commas and a sign at most
    qsizetype at = sizeof text;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0)
            text[--at] = ',';
        text[--at] = char('0' + magnitude % 10);
        magnitude /= 10;
        ++digits;
    } while (magnitude != 0);
    if (negative)
        text[--at] = '-';
    return QString::fromLatin1(text + at, qsizetype(sizeof text) - at);
}

QString FormatSeconds(long seconds)
{
    if (seconds < 0)
        seconds = 0;
    QString text = QStringLiteral("%1s").arg(seconds % 60);
    if (seconds >= 60)
        text.prepend(QStringLiteral("%1m:").arg((seconds / 60) % 60));
    if (seconds >= 3600)
        text.prepend(QStringLiteral("%1h:").arg(seconds / 3600));
    return text;
}

QString ReversePathname(const QString& path)
{
    static const QRegularExpression separators(QStringLiteral("[\\\\/]"));
    QStringList parts = path.split(separators, Qt::SkipEmptyParts);
    std::reverse(parts.begin(), parts.end());
    return parts.join(u'/');
}

QString EscapeHTML(const QString& text)
{
    QString result = text;
    result.replace(u'&', QStringLiteral("&amp;"));
    result.replace(u'<', QStringLiteral("&lt;"));
    result.replace(u'>', QStringLiteral("&gt;"));
    return result;
}

const QRegularExpression& WebAddresses()
{
    static const QRegularExpression links(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"));
    return links;
}

QString ConvertLinks(const QString& text)
{
    QString result = text;
    result.replace(WebAddresses(), QStringLiteral("<a href=\"\\1\">\\1</a>"));
    return result;
}
