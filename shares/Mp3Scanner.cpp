#include "Mp3Scanner.h"
#include "store/OpenBelowRoot.h"
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace {
const int kMpeg1Layer3[15] = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 };
const int kMpeg2Layer3[15] = { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 };
const char* const kChannelNames[4] = { "stereo", "joint stereo", "dual mono", "mono" };

// The index with the most votes; a tie goes to the higher index.
template <size_t N> int Majority(const qint64 (&votes)[N])
{
    int best = 0;
    for (int k = 1; k < int(N); ++k) {
        if (votes[k] >= votes[best])
            best = k;
    }
    return best;
}
}

int Mp3FrameCounter::BitrateKbps(int version, int index)
{
    if (index < 1 || index > 14)
        return 0;
    if (version == 1)
        return kMpeg1Layer3[index];
    if (version == 2)
        return kMpeg2Layer3[index];
    return 0;
}

void Mp3FrameCounter::Feed(const unsigned char* block, qint64 length, qint64 blockStart, qint64 fileSize)
{
    for (qint64 i = 1; i < length; ++i) {
        if (block[i - 1] != 0xFF || (block[i] & 0xE0) != 0xE0)
            continue;
        if (i + 3 >= length || blockStart + i + 3 >= fileSize)
            break;
        const unsigned h1 = block[i], h2 = block[i + 1], h3 = block[i + 2];
        int versionSlot; // MPEG-1, MPEG-2, MPEG-2.5
        switch ((h1 >> 3) & 3) {
        case 3:
            versionSlot = 0;
            break;
        case 2:
            versionSlot = 1;
            break;
        case 0:
            versionSlot = 2;
            break;
        default:
            continue;
        }
        ++m_versionVotes[versionSlot];
        if (((h1 >> 1) & 3) != 1)
            continue; // not Layer III
        const bool noCrc = h1 & 1;
        ++m_crcVotes[noCrc ? 0 : 1];
        const unsigned frequency = (h2 >> 2) & 3;
        if (frequency == 3)
            continue;
        ++m_frequencyVotes[frequency];
        const unsigned channel = (h3 >> 6) & 3;
        ++m_channelVotes[channel];
        const unsigned bitrateIndex = (h2 >> 4) & 0xF;
        if (bitrateIndex == 0 || bitrateIndex == 15)
            continue;
        ++m_frames[FrameKind(versionSlot, noCrc, int(frequency), int(channel), int(bitrateIndex))];
        ++m_frameCount;
    }
}

bool Mp3FrameCounter::Decide(Mp3Attributes& out) const
{
    int version;
    if (m_versionVotes[1] >= m_versionVotes[0]) {
        version = 2;
        if (m_versionVotes[2] >= m_versionVotes[1])
            return false;
    } else {
        version = 1;
        if (m_versionVotes[0] <= m_versionVotes[2])
            return false;
    }
    const bool noCrc = m_crcVotes[0] > m_crcVotes[1];
    const int frequency = Majority(m_frequencyVotes);
    const int channel = Majority(m_channelVotes);
    if (m_frameCount == 0)
        return false;

    // The frames that agree with every majority, by bit rate.
    qint64 histogram[321] = {};
    qint64 sum = 0;
    qint64 matched = 0;
    for (int index = 1; index <= 14; ++index) {
        const qint64 frames = m_frames[FrameKind(version - 1, noCrc, frequency, channel, index)];
        const int kbps = BitrateKbps(version, index);
        histogram[kbps] += frames;
        sum += frames * kbps;
        matched += frames;
    }
    if (matched == 0)
        return false;

    out.version = version;
    out.channelMode = QString::fromLatin1(kChannelNames[channel]);
    out.frequencyIndex = frequency;
    out.bitrate = int(sum / matched);
    out.vbr = true;
    for (int kbps = 1; kbps <= 320; ++kbps) {
        if (histogram[kbps] * 100 / matched > 98) {
            out.vbr = false;
            out.bitrate = kbps;
        }
    }
    return true;
}

bool ScanMp3File(const QString& path, Mp3Attributes& out, const std::function<bool()>& stopRequested)
{
    if (stopRequested && stopRequested())
        return false;
    // The file that the walk listed: a link put in its place since, or
    // anything but a regular file, is not read.
    const QFileInfo listed(path);
    const int fd = OpenRegularBelowRoot(listed.path(), listed.fileName());
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const qint64 size = file.size();
    if (size <= 0)
        return false;
    Mp3FrameCounter counter;
    std::vector<unsigned char> buffer(static_cast<size_t>(Mp3FrameCounter::kBlockSize));
    for (qint64 start = 0; start < size;) {
        if (stopRequested && stopRequested())
            return false;
        const qint64 want = std::min(Mp3FrameCounter::kBlockSize, size - start);
        const qint64 got = file.read(reinterpret_cast<char*>(buffer.data()), want);
        if (got < 0)
            return false;
        // A file that shrank while it was read: examine what arrived and stop.
        counter.Feed(buffer.data(), got, start, size);
        if (got < want)
            break;
        start += want;
    }
    return counter.Decide(out);
}
