// Rows of the floods benchmark for crowds asking for a big folder's contents,
// over real loopback sockets from peers on threads of their own (Totals.h),
// the folder one of 5,000 files whose names compress little:
//   peers_left_folders: 384 peers from four addresses (a full table) each
//     introduce themselves and ask 2,000 times for the folder in one write,
//     read nothing and close after 5 s; once their seats are free, a peer
//     from a fifth address asks for the user's information; shown when it
//     is answered. Also prints peers_left_folders_seats_free (ms from the
//     close until the table holds none of them) and _answer (ms from the
//     ask to the answer);
//   folder_crowd: 380 peers from four addresses that read nothing each ask
//     for the folder 50 times a second, while one more asks for the user's
//     information every 200 ms; shown when it has had 25 answers. Also
//     prints folder_crowd_answer_median and _answer_longest (ms from its
//     ask to the answer).
// Each also prints its peak and after memory (FloodRun.h).
#pragma once
#include "Totals.h"

namespace {

constexpr int kCrowdFolderFiles = 5000;

// The shared folder of the crowds' asks (made and shared once), as a peer names it.
QString CrowdFolder()
{
    static const QString shared = ShareFolderOfFiles("crowd folders", kCrowdFolderFiles).replace(u'/', u'\\');
    return shared;
}

inline void AddPeersLeftRow(FloodRun& run)
{
    const QString row = QStringLiteral("peers_left_folders");
    auto crowd = std::make_shared<SocketCrowd>();
    auto asker = std::make_shared<Asker>();
    auto freedMs = std::make_shared<double>(-1);
    auto plan = std::make_shared<SocketCrowd::Plan>();
    const bool runs = run.Add(
        row,
        [=] {
            crowd->Arrive(*plan);
            const int before = peerMessenger->ConnectionCount();
            QTimer::singleShot(5000, [=] {
                crowd->Close();
                auto clock = std::make_shared<QElapsedTimer>();
                clock->start();
                auto* freed = new QTimer;
                QObject::connect(freed, &QTimer::timeout, [=] {
                    if (peerMessenger->ConnectionCount() > before)
                        return;
                    *freedMs = double(clock->elapsed());
                    freed->deleteLater();
                    asker->Ask(peerMessenger->ListeningPort(), 30, 1, 0);
                });
                freed->start(5);
            });
        },
        [=] { return asker->Answers() == 1; }, 120000,
        [=] {
            *plan = SocketCrowd::At(
                QStringLiteral("leaver"), kPictureAskers, FolderAsks(CrowdFolder(), 2000), 1);
            plan->deaf = true;
        });
    run.Memory(row);
    if (runs)
        run.After([=] {
            FloodRun::Print(row + QStringLiteral("_seats_free"), *freedMs, "ms");
            FloodRun::Print(row + QStringLiteral("_answer"), asker->Times().front(), "ms");
            asker->Leave();
            crowd->Leave();
        });
}

inline void AddFolderCrowdRow(FloodRun& run)
{
    AddProbedCrowdRow(
        run, QStringLiteral("folder_crowd"),
        [] {
            SocketCrowd::Plan plan
                = SocketCrowd::At(QStringLiteral("crowder"), 380, FolderAsks(CrowdFolder(), 1), 0);
            plan.deaf = true;
            plan.everyMs = 20;
            return plan;
        },
        31, [] { CrowdFolder(); });
}

inline void AddFolderCrowdsRows(FloodRun& run)
{
    AddPeersLeftRow(run);
    AddFolderCrowdRow(run);
}

} // namespace
