#include "Value.h"

Value::Value(const QString& text)
{
    // Display text becomes UTF-8 and is cut at its first NUL character.
    QByteArray utf8 = text.toUtf8();
    qsizetype nul = utf8.indexOf('\0');
    if (nul >= 0)
        utf8.truncate(nul);
    m_text.assign(utf8.constData(), size_t(utf8.size()));
}
