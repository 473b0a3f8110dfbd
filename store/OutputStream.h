#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <cstring>
#include <string_view>
#include <string>
#include <vector>

#include "Persistent.h"

// The writing side of the byte streams, in the encoding that InputStream reads:
// little-endian integers, 1-byte booleans (1 or 0), strings as a 32-bit byte
// count followed by the bytes, lists as a 32-bit count followed by the items.
//
// Writers return false only when the underlying device fails.
//
// Speed: a derived stream may expose free space of its buffer as a window
// [m_outCur, m_outEnd); the writers fill it directly and call the virtual
// WriteBytes only when it is too short.
class OutputStream {
public:
    virtual ~OutputStream();

    // Writes n bytes from src; false when the device fails.
    // An implementation that uses the window must append after its contents.
    virtual bool WriteBytes(const char* src, qint64 n) = 0;

    bool WriteUInt8(quint8 value) { return WriteFixed(value); }
    bool WriteBool(bool value) { return WriteFixed(quint8(value ? 1 : 0)); }
    bool WriteUInt16(quint16 value) { return WriteFixed(value); }
    bool WriteUInt32(quint32 value) { return WriteFixed(value); }
    bool WriteInt32(qint32 value) { return WriteFixed(value); }
    bool WriteUInt64(quint64 value) { return WriteFixed(value); }
    bool WriteInt64(qint64 value) { return WriteFixed(value); }

    // 8-bit text, byte for byte as it is held.
    bool WriteString(const std::string& value) { return WriteRun(value.data(), value.size()); }
    bool WriteText(std::string_view value) { return WriteRun(value.data(), value.size()); }
    // Display text: converted to UTF-8 and cut at its first NUL character; the
    // count is the number of UTF-8 bytes written.
    bool WriteString(const QString& value);
    // Binary bytes in the string wire form, every byte kept.
    bool WriteByteArray(const QByteArray& value) { return WriteRun(value.constData(), size_t(value.size())); }

    bool Write(quint8 value) { return WriteUInt8(value); }
    bool Write(bool value) { return WriteBool(value); }
    bool Write(quint16 value) { return WriteUInt16(value); }
    bool Write(quint32 value) { return WriteUInt32(value); }
    bool Write(qint32 value) { return WriteInt32(value); }
    bool Write(quint64 value) { return WriteUInt64(value); }
    bool Write(qint64 value) { return WriteInt64(value); }
    bool Write(const std::string& value) { return WriteString(value); }
    bool Write(const QString& value) { return WriteString(value); }
    bool Write(const QByteArray& value) { return WriteByteArray(value); }
    bool Write(const char* value) { return WriteRun(value, value ? std::strlen(value) : 0); }
    bool Write(const Persistent& record) { return record.Write(*this); }

    // A char would silently become a 32-bit integer, and any other pointer a
    // bool: say what is meant with a cast instead.
    bool Write(char) = delete;
    template <class T> bool Write(const T*) = delete;

    template <class T> bool Write(const std::vector<T>& list) { return WriteList(list); }
    template <class T> bool Write(const QList<T>& list) { return WriteList(list); }

protected:
    OutputStream() = default;
    OutputStream(const OutputStream&) = default;
    OutputStream& operator=(const OutputStream&) = default;

    // The free space of the buffer that the writers may fill (see above).
    char* m_outCur = nullptr;
    char* m_outEnd = nullptr;

private:
    bool WriteRaw(const void* src, qint64 n)
    {
        if (m_outEnd - m_outCur >= n) [[likely]] {
            std::memcpy(m_outCur, src, size_t(n));
            m_outCur += n;
            return true;
        }
        return WriteBytes(static_cast<const char*>(src), n);
    }

    template <class T> bool WriteFixed(T value)
    {
        const T raw = qToLittleEndian(value);
        return WriteRaw(&raw, sizeof(T));
    }

    bool WriteRun(const char* data, size_t length)
    {
        // Both parts are accepted or the device failed; the count is a u32.
        return WriteUInt32(quint32(length)) && (length == 0 || WriteRaw(data, qint64(length)));
    }

    template <class List> bool WriteList(const List& list)
    {
        if (!WriteUInt32(quint32(list.size())))
            return false;
        for (const auto& item : list) {
            if (!Write(item))
                return false;
        }
        return true;
    }
};
