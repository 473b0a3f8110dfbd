#pragma once
// The upload speed limit shared by the GUI thread and every upload thread.
//
// Three fields under one mutex:
// - the total limit in kilobytes (1024 bytes) per second, 0 = no limit;
// - the per-upload limit, each running upload's share of it, 0 = no limit and
//   at least 1 while a limit is in force;
// - the spare-byte pool: allowance that an upload earned but did not use
//   (because its peer or disk was slower than its share), which any upload may
//   borrow to send without waiting.
//
// The GUI thread writes the limits (SetLimit / SetNoLimit); the upload threads
// read them and feed and borrow the pool. Every critical section is a few
// integer reads and writes, and no other lock is taken while this one is held.
//
// The pool never holds more than one second of the total limit, so uploads
// that were held back (slow peer, limit just switched on) cannot burst far
// past the limit afterwards.
#include <QMutex>
#include <QtGlobal>

class SpeedLimit {
public:
    SpeedLimit() = default;
    SpeedLimit(const SpeedLimit&) = delete;
    SpeedLimit& operator=(const SpeedLimit&) = delete;

    // A limit of limitKBps shared by activeUploads uploads: total = limitKBps,
    // per-upload = limitKBps / activeUploads (limitKBps when activeUploads is 0
    // or less), at least 1; the pool is emptied. A limit of 0 or less is no
    // limit (as SetNoLimit).
    void SetLimit(int limitKBps, int activeUploads);
    // No limit: both limits 0; the pool is left as it is.
    void SetNoLimit();

    // The total limit in KB/s, 0 when there is none.
    int TotalLimit() const;
    // Each upload's share in KB/s, 0 when there is no limit.
    int PerUploadLimit() const;
    qint64 SpareBytes() const;

    // Upload threads: pays owedBytes from the pool as far as it goes and
    // returns what is still owed (0 when the pool covered it all).
    qint64 BorrowSpare(qint64 owedBytes);
    // Upload threads: adds unused allowance to the pool (ignored when 0 or
    // less), capped at one second of the total limit.
    void AddSpare(qint64 bytes);

private:
    mutable QMutex m_mutex;
    qint32 m_totalLimit = 0;
    qint32 m_perUploadLimit = 0;
    qint64 m_spareBytes = 0;
};
