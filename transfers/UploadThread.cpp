#include "UploadThread.h"
#include "SpeedLimit.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QtEndian>
#include <climits>
#include <memory>

namespace {
// Under a limit a block is about a tenth of a second of it, but not tiny.
constexpr qint64 kMinLimitedBlock = 1024;
constexpr double kNsPerSecond = 1e9;

qint64 BlockFor(int limitKBps)
{
    if (limitKBps <= 0)
        return TransferThread::kBlockSize;
    return qBound(kMinLimitedBlock, qint64(limitKBps) * 1024 / 10, TransferThread::kBlockSize);
}
}

UploadThread::UploadThread(
    QTcpSocket* socket, QFile* file, int req, SpeedLimit* speedLimit, FileStamp offered)
    : TransferThread(socket, file)
    , m_req(req)
    , m_speedLimit(speedLimit)
    , m_offered(offered)
{
}

QString UploadThread::FileChangedReason()
{
    return QStringLiteral("The file changed after it was offered.");
}

bool UploadThread::StillAsOffered()
{
    if (FileStamp::OfDescriptor(m_file->handle()) == m_offered)
        return true;
    m_fileChanged = true;
    m_errorText = FileChangedReason();
    return false;
}

void UploadThread::run()
{
    const bool ok = PerformUpload();
    HandSocketBack();
    if (ok)
        emit UploadComplete();
    else
        emit UploadError(m_errorText);
}

bool UploadThread::ReadStartOffset(qint64& offset)
{
    uchar bytes[8];
    qint64 have = 0;
    while (have < 8) {
        const qint64 n = Receive(reinterpret_cast<char*>(bytes) + have, 8 - have,
            QStringLiteral("Waiting for initialization data to read failed."));
        if (n < 0)
            return false;
        have += n;
    }
    offset = qFromLittleEndian<qint64>(bytes);
    return true;
}

// Pays what this upload owes: first from the shared pool, then by sleeping
// until the time since the last payment has earned it at this upload's share.
// Time that had already passed (sending, reading the file) counts; if it
// earned more than was owed, the rest goes to the pool for any upload.
UploadThread::ThrottleResult UploadThread::Throttle(int limit, qint64& owed)
{
    const double bytesPerSecond = double(limit) * 1024;
    owed = m_speedLimit->BorrowSpare(owed);
    const qint64 dueNs = qint64(double(owed) * kNsPerSecond / bytesPerSecond);
    for (;;) {
        const qint64 leftNs = dueNs - m_throttle.nsecsElapsed();
        if (leftNs <= 0)
            break;
        if (ExitRequested())
            return Exit;
        // A new limit (or none) is taken up at once, not after a long sleep.
        if (m_speedLimit->PerUploadLimit() != limit)
            return LimitChanged;
        QThread::usleep(qMin<qint64>(leftNs / 1000 + 1, kSliceMs * 1000));
    }
    const qint64 earned = qint64(bytesPerSecond * double(m_throttle.nsecsElapsed()) / kNsPerSecond);
    m_throttle.restart();
    owed -= earned;
    if (owed < 0) {
        m_speedLimit->AddSpare(-owed);
        owed = 0;
    }
    return Paid;
}

bool UploadThread::PerformUpload()
{
    if (!TakeOverSocket())
        return false;
    uchar req[4];
    qToLittleEndian<quint32>(quint32(m_req), req);
    if (!Send(reinterpret_cast<const char*>(req), 4))
        return false;
    qint64 offset = 0;
    if (!ReadStartOffset(offset))
        return false;
    if (!m_offered.Valid())
        m_offered = FileStamp::OfDescriptor(m_file->handle());
    if (!StillAsOffered())
        return false;
    const qint64 size = m_offered.size;
    // An offset equal to the size is a downloader that already holds every
    // byte (or a 0-byte file): nothing to send, and the transfer completes.
    if (offset < 0 || offset > size) {
        m_errorText = QStringLiteral("Won't seek to offset %1 in file of size %2").arg(offset).arg(size);
        return false;
    }
    if (!m_file->seek(offset)) {
        m_errorText = QStringLiteral("Seeking to starting offset %1 failed. Error string: ").arg(offset)
            + m_file->errorString();
        return false;
    }

    QElapsedTimer clock;
    clock.start();
    m_throttle.start();
    qint64 startMs = 0;
    qint64 sentSinceStart = 0;
    qint64 owed = 0;
    qint64 lastReport = 0;
    qint64 position = offset;
    int lastLimit = m_speedLimit ? m_speedLimit->TotalLimit() : 0;
    std::unique_ptr<char[]> buffer(new char[size_t(qMin(kBlockSize, qMax<qint64>(size - offset, 1)))]);

    for (;;) {
        if (ExitRequested())
            return false;
        const int limit = m_speedLimit ? m_speedLimit->PerUploadLimit() : 0;
        if (limit != lastLimit) {
            if (lastLimit == 0) {
                owed = 0;
                m_throttle.restart();
            }
            // Never sleep long on what was sent under an older, higher limit.
            owed = qMin(owed, BlockFor(limit));
            startMs = clock.elapsed();
            sentSinceStart = 0;
            lastLimit = limit;
        }
        if (limit != 0) {
            const ThrottleResult paid = Throttle(limit, owed);
            if (paid == Exit)
                return false;
            if (paid == LimitChanged)
                continue;
        }

        const qint64 block = qMin(BlockFor(limit), size - position);
        if (block > 0) {
            const qint64 read = m_file->read(buffer.get(), block);
            // Bytes read while the file changed may be of either version:
            // they are not sent.
            if (!StillAsOffered())
                return false;
            if (read != block) {
                m_errorText
                    = QStringLiteral("Reading from file failed. Error string: ") + m_file->errorString();
                return false;
            }
            if (!Send(buffer.get(), block))
                return false;
        }
        position += block;
        sentSinceStart += block;
        owed += block;

        const qint64 now = clock.elapsed();
        const bool done = position >= size;
        if (done || now - lastReport >= kProgressMs) {
            emit UploadProgress(position, BytesPerSecond(sentSinceStart, now - startMs));
            if (done)
                return WaitForPeerClose();
            lastReport = now;
        }
    }
}
