#include "SpeedLimit.h"

void SpeedLimit::SetLimit(int limitKBps, int activeUploads)
{
    if (limitKBps <= 0) {
        SetNoLimit();
        return;
    }
    const int perUpload = qMax(1, activeUploads > 0 ? limitKBps / activeUploads : limitKBps);
    QMutexLocker lock(&m_mutex);
    m_totalLimit = limitKBps;
    m_perUploadLimit = perUpload;
    m_spareBytes = 0;
}

void SpeedLimit::SetNoLimit()
{
    QMutexLocker lock(&m_mutex);
    m_totalLimit = 0;
    m_perUploadLimit = 0;
}

int SpeedLimit::TotalLimit() const
{
    QMutexLocker lock(&m_mutex);
    return m_totalLimit;
}

int SpeedLimit::PerUploadLimit() const
{
    QMutexLocker lock(&m_mutex);
    return m_perUploadLimit;
}

qint64 SpeedLimit::SpareBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_spareBytes;
}

qint64 SpeedLimit::BorrowSpare(qint64 owedBytes)
{
    if (owedBytes <= 0)
        return owedBytes;
    QMutexLocker lock(&m_mutex);
    if (owedBytes < m_spareBytes) {
        m_spareBytes -= owedBytes;
        return 0;
    }
    owedBytes -= m_spareBytes;
    m_spareBytes = 0;
    return owedBytes;
}

void SpeedLimit::AddSpare(qint64 bytes)
{
    if (bytes <= 0)
        return;
    QMutexLocker lock(&m_mutex);
    const qint64 cap = qint64(m_totalLimit) * 1024;
    m_spareBytes = qMin(cap, m_spareBytes + qMin(bytes, cap));
}
