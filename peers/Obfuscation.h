#pragma once
// The obfuscated port's XOR scheme.
//
// Each frame is preceded by a fresh random u32 key sent in clear (little-
// endian). The frame's bytes (its length field included) are then taken in
// blocks of 4, the last one possibly shorter; before each block the key is
// rotated left by one bit, and the block's bytes are XORed with the rotated
// key's bytes in little-endian order (byte 0 with bits 0-7, and so on). So
// the first block uses rotl(key, 1), the second rotl(key, 2), ...
// XOR undoes itself: the same cipher reads what it wrote.
#include <QByteArray>
#include <QtGlobal>

class ObfuscationCipher {
public:
    // Starts a frame under the key.
    void Reset(quint32 key)
    {
        m_key = key;
        m_offset = 0;
    }
    // XORs the next n bytes of the frame in place.
    void Apply(char* data, qint64 n);

    static quint32 RotateLeft(quint32 v) { return (v << 1) | (v >> 31); }

private:
    quint32 m_key = 0;
    int m_offset = 0; // position inside the current block; 0 = a new block
};

// The bytes to write for one frame: the key in clear, then the obfuscated frame.
QByteArray ObfuscateFrame(const QByteArray& frame, quint32 key);
// A fresh random key.
quint32 NewObfuscationKey();
