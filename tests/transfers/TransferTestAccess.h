#pragma once
// The transfer engine's disk worker as tests see it: held as a slow disk
// would hold it (SlowDisk), waited for, and asked what is in flight on it.
#include "store/OrderedWorker.h"
#include "transfers/TransferQueueManager.h"
#include <QSemaphore>
#include <QTest>
#include <memory>

class TransferTestAccess {
public:
    // Keeps the engine's disk worker busy, as a slow disk would, until the
    // gate is released once more.
    static void HoldDiskWorker(TransferQueueManager* tq, std::shared_ptr<QSemaphore> gate)
    {
        tq->m_disk.Run(
            [gate]() -> OrderedWorker::Outcome {
                gate->acquire();
                return [] {};
            },
            [](const QString&) {});
    }
    // Returns once the steps handed to the disk worker before are done.
    static bool DrainDiskWorker(TransferQueueManager* tq)
    {
        auto done = std::make_shared<bool>(false);
        tq->m_disk.Run([done]() -> OrderedWorker::Outcome { return [done] { *done = true; }; }, {});
        return QTest::qWaitFor([done] { return *done; }, 20000);
    }
    static bool BeingBegun(TransferQueueManager* tq, ItemPtr download)
    {
        return tq->m_disk.IsBeginning(download["download_order"].AsInt64());
    }
    static bool BeingFiled(TransferQueueManager* tq, ItemPtr download)
    {
        return tq->m_disk.IsFiling(TransferQueueManager::SourceOf(download));
    }
};

// The engine's disk worker held, as a slow disk holds it, from here until
// Release() or the holder's end.
class SlowDisk {
public:
    explicit SlowDisk(TransferQueueManager* tq) { TransferTestAccess::HoldDiskWorker(tq, m_gate); }
    ~SlowDisk() { Release(); }
    void Release() { m_gate->release(); } // again: harmless

private:
    std::shared_ptr<QSemaphore> m_gate = std::make_shared<QSemaphore>();
};
