#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Persistent.h"

// The largest string length and list count that a reader accepts. Everything
// read from a peer, the server or a file passes through this bound, so a
// hostile count can never make the reader allocate more than this many bytes
// (strings) or wait for more than this many records (lists).
constexpr quint32 kMaxStreamCount = 131072;

// The reading side of the byte streams: little-endian integers, 1-byte
// booleans, strings as a 32-bit byte count followed by the bytes, lists as a
// 32-bit count followed by the items.
//
// Every reader returns false when the input runs out or a length or count above
// kMaxStreamCount is met. The integer and string readers then leave their
// target as it was; a list or record may be partly filled, and its caller
// discards it. A failed read of a fixed-size value on a MemStream consumes
// nothing; a compound value (a string, a list, a record) may have consumed its
// leading fields.
//
// Speed: a derived stream may expose the bytes it holds in memory as a window
// [m_inCur, m_inEnd). The fixed-size readers take their bytes straight from the
// window and call the virtual ReadBytes only when the window is too short; a
// stream that keeps the window empty still works, just through ReadBytes.
class InputStream {
public:
    virtual ~InputStream();

    // Reads exactly n bytes into dst, or returns false when fewer are left.
    // An implementation that uses the window must consume it first.
    virtual bool ReadBytes(char* dst, qint64 n) = 0;

    bool ReadUInt8(quint8& value) { return ReadFixed(value); }
    bool ReadBool(bool& value);
    bool ReadUInt16(quint16& value) { return ReadFixed(value); }
    bool ReadUInt32(quint32& value) { return ReadFixed(value); }
    bool ReadInt32(qint32& value) { return ReadFixed(value); }
    bool ReadUInt64(quint64& value) { return ReadFixed(value); }
    bool ReadInt64(qint64& value) { return ReadFixed(value); }

    // A 32-bit count of at most kMaxStreamCount.
    bool ReadCount(quint32& count);

    // 8-bit text: the bytes up to the first NUL byte are kept (the whole count
    // is consumed). Item values never hold a NUL, so text written from them
    // reads back unchanged.
    bool ReadString(std::string& value);
    // The same text without a copy: a view into the stream's bytes when they
    // are in memory, else into scratch. Valid while those bytes are.
    bool ReadStringView(std::string_view& value, QByteArray& scratch);
    // The same, decoded from UTF-8 (invalid sequences become U+FFFD).
    bool ReadString(QString& value);
    // Binary bytes in the string wire form: every byte is kept. maxLength lets
    // a caller with a larger documented payload raise the bound.
    bool ReadByteArray(QByteArray& value, quint32 maxLength = kMaxStreamCount);

    bool Read(quint8& value) { return ReadUInt8(value); }
    bool Read(bool& value) { return ReadBool(value); }
    bool Read(quint16& value) { return ReadUInt16(value); }
    bool Read(quint32& value) { return ReadUInt32(value); }
    bool Read(qint32& value) { return ReadInt32(value); }
    bool Read(quint64& value) { return ReadUInt64(value); }
    bool Read(qint64& value) { return ReadInt64(value); }
    bool Read(std::string& value) { return ReadString(value); }
    bool Read(QString& value) { return ReadString(value); }
    bool Read(QByteArray& value) { return ReadByteArray(value); }
    bool Read(Persistent& record) { return record.Read(*this); }

    // A count, then that many items. On failure the list holds the items read
    // so far; the caller discards it.
    template <class T> bool Read(std::vector<T>& list) { return ReadList(list); }
    template <class T> bool Read(QList<T>& list) { return ReadList(list); }

protected:
    InputStream() = default;
    InputStream(const InputStream&) = default;
    InputStream& operator=(const InputStream&) = default;

    // The in-memory window of bytes not read yet (see above).
    const char* m_inCur = nullptr;
    const char* m_inEnd = nullptr;

private:
    bool ReadRaw(void* dst, qint64 n)
    {
        if (m_inEnd - m_inCur >= n) [[likely]] {
            std::memcpy(dst, m_inCur, size_t(n));
            m_inCur += n;
            return true;
        }
        return ReadBytes(static_cast<char*>(dst), n);
    }

    template <class T> bool ReadFixed(T& value)
    {
        T raw;
        if (!ReadRaw(&raw, sizeof(T)))
            return false;
        value = qFromLittleEndian(raw);
        return true;
    }

    // Reads a length-prefixed run of bytes of at most maxLength: either points
    // *data into the window (no copy) or fills scratch and points there.
    bool ReadRun(const char*& data, quint32& length, QByteArray& scratch, quint32 maxLength);

    template <class List> bool ReadList(List& list)
    {
        quint32 count;
        if (!ReadCount(count))
            return false;
        list.clear();
        // Reserve only what a small block holds: the items must actually arrive
        // before a hostile count can cost memory.
        using Item = typename List::value_type;
        const quint32 bound = quint32(std::max<size_t>(1, 65536 / sizeof(Item)));
        list.reserve(std::min(count, bound));
        for (quint32 i = 0; i < count; ++i) {
            Item item {};
            if (!Read(item))
                return false;
            list.push_back(std::move(item));
        }
        return true;
    }
};

inline bool InputStream::ReadBool(bool& value)
{
    quint8 byte;
    if (!ReadUInt8(byte))
        return false;
    value = byte != 0;
    return true;
}

inline bool InputStream::ReadCount(quint32& count)
{
    quint32 n;
    if (!ReadUInt32(n) || n > kMaxStreamCount)
        return false;
    count = n;
    return true;
}
