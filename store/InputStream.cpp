#include "InputStream.h"
#include "ToQString.h"

InputStream::~InputStream() = default;

bool InputStream::ReadRun(const char*& data, quint32& length, QByteArray& scratch, quint32 maxLength)
{
    quint32 n;
    if (!ReadUInt32(n) || n > maxLength)
        return false;
    if (m_inEnd - m_inCur >= qint64(n)) {
        data = m_inCur;
        m_inCur += n;
    } else {
        // Allocating n bytes here is bounded by maxLength.
        scratch.resize(qsizetype(n));
        if (!ReadBytes(scratch.data(), n))
            return false;
        data = scratch.constData();
    }
    length = n;
    return true;
}

static quint32 LengthBeforeNul(const char* data, quint32 length)
{
    const void* nul = length ? std::memchr(data, 0, length) : nullptr;
    return nul ? quint32(static_cast<const char*>(nul) - data) : length;
}

bool InputStream::ReadString(std::string& value)
{
    QByteArray scratch;
    std::string_view text;
    if (!ReadStringView(text, scratch))
        return false;
    value.assign(text);
    return true;
}

bool InputStream::ReadStringView(std::string_view& value, QByteArray& scratch)
{
    const char* data;
    quint32 length;
    if (!ReadRun(data, length, scratch, kMaxStreamCount))
        return false;
    value = std::string_view(data, LengthBeforeNul(data, length));
    return true;
}

bool InputStream::ReadString(QString& value)
{
    const char* data;
    quint32 length;
    QByteArray scratch;
    if (!ReadRun(data, length, scratch, kMaxStreamCount))
        return false;
    value = Utf8Text(data, qsizetype(LengthBeforeNul(data, length)));
    return true;
}

bool InputStream::ReadByteArray(QByteArray& value, quint32 maxLength)
{
    const char* data;
    quint32 length;
    QByteArray scratch;
    if (!ReadRun(data, length, scratch, maxLength))
        return false;
    if (data == scratch.constData() && length)
        value = std::move(scratch);
    else
        value = QByteArray(data, qsizetype(length));
    return true;
}
