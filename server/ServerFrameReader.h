#pragma once
// Reads the fields of one server frame. The first field that runs out (or a
// string or count above the stream bound) makes Ok() false for good, and every
// later read yields an empty value, so a handler reads all of its fields and
// then checks Ok() once before it changes anything.
#include "UserStats.h"
#include "store/MemStream.h"
#include "store/ToQString.h"
#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

class ServerFrameReader {
public:
    explicit ServerFrameReader(const QByteArray& fields)
        : m_stream(fields)
    {
    }

    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_stream.Remaining() == 0; }
    qint64 Remaining() const { return m_stream.Remaining(); }

    quint8 U8()
    {
        quint8 v = 0;
        Check(m_ok && m_stream.ReadUInt8(v));
        return m_ok ? v : 0;
    }
    quint16 U16()
    {
        quint16 v = 0;
        Check(m_ok && m_stream.ReadUInt16(v));
        return m_ok ? v : 0;
    }
    quint32 U32()
    {
        quint32 v = 0;
        Check(m_ok && m_stream.ReadUInt32(v));
        return m_ok ? v : 0;
    }
    qint32 I32()
    {
        qint32 v = 0;
        Check(m_ok && m_stream.ReadInt32(v));
        return m_ok ? v : 0;
    }
    quint64 U64()
    {
        quint64 v = 0;
        Check(m_ok && m_stream.ReadUInt64(v));
        return m_ok ? v : 0;
    }
    bool Bool()
    {
        bool v = false;
        Check(m_ok && m_stream.ReadBool(v));
        return m_ok && v;
    }
    // A list count, at most the stream bound.
    quint32 Count()
    {
        quint32 v = 0;
        Check(m_ok && m_stream.ReadCount(v));
        return m_ok ? v : 0;
    }
    // 8-bit text as the server sent it (item values keep these bytes).
    std::string Str()
    {
        std::string v;
        Check(m_ok && m_stream.ReadString(v));
        return m_ok ? v : std::string();
    }
    // The same as display text.
    QString Text() { return ToQString(Str()); }
    // Passes over a string, keeping nothing (a long list is checked whole
    // before it is read a slice at a time).
    void SkipStr()
    {
        std::string_view v;
        QByteArray scratch;
        Check(m_ok && m_stream.ReadStringView(v, scratch));
    }
    UserStats Stats()
    {
        UserStats s;
        Check(m_ok && s.Read(m_stream));
        return m_ok ? s : UserStats();
    }
    // Every byte not read yet.
    QByteArray Rest()
    {
        QByteArray v(qsizetype(m_stream.Remaining()), Qt::Uninitialized);
        if (m_ok && !v.isEmpty())
            Check(m_stream.ReadBytes(v.data(), v.size()));
        return m_ok ? v : QByteArray();
    }

private:
    void Check(bool ok)
    {
        if (!ok)
            m_ok = false;
    }

    MemStream m_stream;
    bool m_ok = true;
};
