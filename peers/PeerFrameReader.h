#pragma once
// Cuts a peer connection's byte stream into frames (u32 length, then that
// many bytes), plain or obfuscated (a u32 key in clear before each frame).
//
// The reader never asks for more bytes than the current frame needs
// (Wanted()), so a caller that reads exactly that much from a socket leaves
// whatever follows the frame in the socket: after the init frame of a file
// connection, the raw bytes stay there for whoever takes the socket.
// A length above the limit is an error before any of the body is buffered.
#include "Obfuscation.h"
#include <QByteArray>

class PeerFrameReader {
public:
    enum Result { NeedMore, FrameReady, TooLong };

    PeerFrameReader(bool obfuscated, quint32 maxLength)
        : m_obfuscated(obfuscated)
        , m_maxLength(maxLength)
    {
        Begin();
    }
    void SetMaxLength(quint32 maxLength) { m_maxLength = maxLength; }
    bool IsObfuscated() const { return m_obfuscated; }

    // How many bytes the reader needs next (always at least 1).
    qint64 Wanted() const;
    // Takes at most Wanted() bytes (more is a caller error and is refused
    // with TooLong). FrameReady: the frame's body is in TakeFrame().
    Result Feed(const char* data, qint64 n);
    QByteArray TakeFrame();
    // True while part of a frame has been read.
    bool InFrame() const
    {
        return m_have > 0 || m_stage == Stage::Body || (m_obfuscated && m_stage == Stage::Length);
    }

private:
    enum class Stage { Key, Length, Body };
    void Begin();

    bool m_obfuscated;
    quint32 m_maxLength;
    Stage m_stage = Stage::Key;
    char m_head[4] = {};
    qint64 m_have = 0; // bytes of the current stage read
    quint32 m_length = 0;
    QByteArray m_body;
    bool m_ready = false;
    ObfuscationCipher m_cipher;
};
