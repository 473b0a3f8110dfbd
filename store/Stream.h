#pragma once

#include <QIODevice>

#include <memory>

#include "InputStream.h"
#include "OutputStream.h"

// The stream encoding over a QIODevice (a file), buffered in large blocks so
// that reading or writing the data file costs a device call per block rather
// than per value.
//
// Meant for files and other devices whose read() only comes back short at the
// end of the data: a short read is taken as the end of the input.
//
// Writes are gathered in the buffer and reach the device when it is full, on
// Flush() and on destruction. A device failure shows on the write that
// flushes the block or on Flush(), and sticks: every later write and Flush()
// returns false too, so checking Flush() at the end of a save is enough.
//
// One Stream may read and write the same device in turn: switching from
// reading to writing gives the unread read-ahead back to the device (seeking
// back on a random-access device), switching from writing to reading flushes.
//
// Not copyable. The device is not owned and must outlive the Stream or be
// detached with SetDevice(nullptr) first.
class Stream : public InputStream, public OutputStream {
public:
    static constexpr qint64 kDefaultBlockSize = 256 * 1024;

    explicit Stream(QIODevice* device = nullptr, qint64 blockSize = kDefaultBlockSize);
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() override;

    // Flushes pending writes to the old device (result ignored), then uses the
    // new one; read-ahead of the old device is dropped and the failure flag is
    // cleared.
    void SetDevice(QIODevice* device);
    QIODevice* GetDevice() const { return m_device; }

    bool ReadBytes(char* dst, qint64 n) override;
    bool WriteBytes(const char* src, qint64 n) override;

    // Writes the gathered bytes to the device; false when this or any earlier
    // write failed.
    bool Flush();

private:
    enum class Mode { Idle, Reading, Writing };

    char* Block() const { return m_block.get(); }
    // Switch the buffer between read-ahead and gathered writes.
    void StartWriting();
    bool StartReading();
    void DropReadAhead();
    bool DeviceWrite(const char* src, qint64 n);
    // Reads until n bytes came or the device has no more; returns the count.
    qint64 DeviceRead(char* dst, qint64 n);

    QIODevice* m_device = nullptr;
    Mode m_mode = Mode::Idle;
    qint64 m_blockSize;
    std::unique_ptr<char[]> m_block;
    bool m_failed = false;
};
