#include "ToQString.h"
#include <QStringDecoder>
#include <cstring>

namespace {
FallbackDecoder& Fallback()
{
    static FallbackDecoder decoder;
    return decoder;
}
}

void SetFallbackDecoder(FallbackDecoder decoder) { Fallback() = std::move(decoder); }

QString Utf8Text(const char* text, qsizetype size)
{
    // QString::fromUtf8 drops a leading U+FEFF as a byte-order mark; at the
    // start of a name it is a character like any other. The decoder that
    // keeps it takes twice as long, so only such text goes through it.
    if (size < 3 || std::memcmp(text, "\xEF\xBB\xBF", 3) != 0)
        return QString::fromUtf8(text, size);
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(text, size));
}

bool IsValidUtf8(const char* text, qsizetype size)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    qsizetype i = 0;
    while (i < size) {
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        quint32 cp;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= size)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static const quint32 minimum[] = { 0, 0x80, 0x800, 0x10000 };
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

QString ToQString(const char* text, qsizetype size)
{
    // Plain ASCII, as most names are, widens directly.
    qsizetype ascii = 0;
    while (ascii < size && static_cast<unsigned char>(text[ascii]) < 0x80)
        ++ascii;
    if (ascii == size)
        return QString::fromLatin1(text, size);
    if (IsValidUtf8(text + ascii, size - ascii))
        return Utf8Text(text, size);
    if (Fallback())
        return Fallback()(QByteArray(text, size));
    return QString::fromLatin1(text, size);
}

QString ToQString(const std::string& text) { return ToQString(text.data(), qsizetype(text.size())); }
