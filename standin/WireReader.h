#pragma once

#include <QByteArray>
#include <QString>

// Reads the fields of one received message. A field that runs past the end,
// or a count or string length above MaxCount, marks the reader failed; every
// later read then yields zero or an empty string, and the caller drops the
// message when `ok()` is false.
class WireReader {
public:
    static constexpr quint32 MaxCount = 131072;

    explicit WireReader(const QByteArray& data)
        : m_data(data)
    {
    }

    quint8 u8();
    quint32 u32();
    qint32 i32() { return qint32(u32()); }
    quint64 u64();
    bool boolean() { return u8() != 0; }
    QString str();
    // A list count, refused above MaxCount.
    quint32 count();

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos >= m_data.size(); }

private:
    bool take(qsizetype size);

    QByteArray m_data;
    qsizetype m_pos = 0;
    bool m_ok = true;
};
