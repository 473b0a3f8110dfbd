#pragma once
// MP3 attributes from MPEG audio Layer III frame headers.
//
// Every 11-bit frame sync in the file is examined (frames are not skipped by
// length) and votes for the version, protection, sample-rate index and channel
// mode; Layer III headers with a usable bit-rate index are recorded as frames.
// The majorities then choose the frames whose bit rates are averaged; one bit
// rate holding at least 99 percent of them makes the file constant bit rate.
#include <QString>
#include <QtGlobal>
#include <functional>

struct Mp3Attributes {
    int version = 0; // 1 or 2
    QString channelMode; // "stereo", "joint stereo", "dual mono", "mono"
    int frequencyIndex = 0; // sample-rate index of the header, 0 to 2
    bool vbr = false;
    int bitrate = 0; // kbps
};

class Mp3FrameCounter {
public:
    static constexpr qint64 kBlockSize = 65536;

    // Examines one block read from blockStart of a file of fileSize bytes.
    // A header whose next byte lies outside the block or the file is not
    // examined, so headers straddling two blocks are never counted.
    void Feed(const unsigned char* block, qint64 length, qint64 blockStart, qint64 fileSize);
    // Decides from the votes; false when no attributes can be derived.
    bool Decide(Mp3Attributes& out) const;

    // Kilobits per second of a Layer III bit-rate index (1 to 14) for version 1
    // or 2; 0 otherwise.
    static int BitrateKbps(int version, int index);

private:
    // Recorded frames counted by (version, no CRC, sample-rate index, channel
    // mode, bit-rate index) rather than listed: a file made of nothing but
    // frame syncs costs no memory.
    static constexpr int kFrameKinds = 3 * 2 * 3 * 4 * 16;
    static int FrameKind(int versionSlot, bool noCrc, int frequency, int channel, int bitrateIndex)
    {
        return (((versionSlot * 2 + (noCrc ? 1 : 0)) * 3 + frequency) * 4 + channel) * 16 + bitrateIndex;
    }
    qint64 m_frames[kFrameKinds] = {};
    qint64 m_frameCount = 0;
    qint64 m_versionVotes[3] = {}; // MPEG-1, MPEG-2, MPEG-2.5
    qint64 m_crcVotes[2] = {}; // no CRC, CRC
    qint64 m_frequencyVotes[3] = {};
    qint64 m_channelVotes[4] = {};
};

// Reads the file at path, listed in the shared folder root, in 64 KiB
// blocks; stopRequested is asked before each block, so a scan of a huge file
// ends promptly on shutdown (with false).
bool ScanMp3File(
    const QString& root, const QString& path, Mp3Attributes& out, const std::function<bool()>& stopRequested);
