#pragma once

#include <QByteArray>

#include "InputStream.h"
#include "OutputStream.h"

// An input and output stream over a growable buffer in memory. Every protocol
// message is built in one (writes append at the write position and never
// fail) and every received frame is parsed in one (reads advance a read
// position that never passes the write position).
//
// Copying: a copy is an independent stream that shares the bytes with the
// original until either of them changes them (copy on write, through an
// implicitly shared QByteArray). Each keeps its own read and write position,
// so writing to one never shows in the other. Copies and GetBuffer() are cheap.
//
// Inside, m_buf.size() is the allocated length; the written bytes are
// [0, Size()) and the rest is spare room. Only the stream that holds a
// non-empty write window may fill that spare room, and the bytes below any
// copy's write position are never changed in place while they are shared, so
// copies never see each other's writes.
class MemStream : public InputStream, public OutputStream {
public:
    MemStream();
    // A stream whose bytes are the frame, ready to be read from its start.
    explicit MemStream(const QByteArray& bytes);
    MemStream(const MemStream& other);
    MemStream(MemStream&& other) noexcept;
    MemStream& operator=(const MemStream& other);
    MemStream& operator=(MemStream&& other) noexcept;
    ~MemStream() override;

    bool ReadBytes(char* dst, qint64 n) override;
    bool WriteBytes(const char* src, qint64 n) override;

    // Appends raw bytes (no count in front); never fails.
    bool WriteBuffer(const char* src, qint64 n) { return WriteBytes(src, n); }

    // The written bytes, from 0 to the write position.
    QByteArray GetBuffer() const;
    // The write position: how many bytes have been written.
    qint64 Size() const { return m_outCur - Base(); }
    qint64 ReadPosition() const { return m_inCur - Base(); }
    qint64 Remaining() const { return Size() - ReadPosition(); }
    // Moves the read position to pos (0 .. Size()); false, and no move, outside.
    bool SeekRead(qint64 pos);
    // Empties the stream: both positions back to 0.
    void Clear();

private:
    char* Base() const { return const_cast<char*>(m_buf.constData()); }
    // Points both windows at the buffer again after it moved.
    void SetWindows(qint64 readPos, qint64 size, bool writable);
    // Makes the buffer this stream's own with room for at least need bytes.
    void MakeRoom(qint64 need);

    QByteArray m_buf;
};
