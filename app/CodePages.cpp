#include "CodePages.h"
#include <QStringDecoder>

QStringList AvailableCodePages()
{
    static const char* const kNames[] = { "windows-1250", "windows-1251", "windows-1252", "windows-1253",
        "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258", "windows-874", "ISO-8859-1",
        "ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5", "ISO-8859-6", "ISO-8859-7", "ISO-8859-8",
        "ISO-8859-9", "ISO-8859-10", "ISO-8859-13", "ISO-8859-14", "ISO-8859-15", "KOI8-R", "KOI8-U", "IBM437",
        "IBM850", "IBM866", "macintosh", "Shift_JIS", "EUC-JP", "ISO-2022-JP", "EUC-KR", "CP949", "GBK", "GB18030",
        "GB2312", "Big5", "Big5-HKSCS", "TIS-620" };
    QStringList names;
    for (const char* name : kNames) {
        if (QStringDecoder(name).isValid())
            names.append(QString::fromLatin1(name));
    }
    return names;
}
