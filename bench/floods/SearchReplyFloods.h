// The floods rows of replies streamed to the user's own search: peers send
// replies of ten results to the ticket of an open results tab as fast as
// their sockets take them, for kReplyFloodSeconds:
//   search_reply_stream: one peer;
//   search_reply_stream_50: fifty peers at once.
// Shown once the flood is over and the tab holds every result the search
// keeps (SearchReplyQueue::kMaxResultsPerSearch) and says how many were left
// out. Each also prints <row>_peak_memory and <row>_memory_after (MiB above
// where the row began; the results kept stay shown) and <row>_left_out (the
// results the tab says were left out).
#pragma once
#include "PeerFloods.h"
#include "SearchFloods.h"
#include "peers/SearchReplyQueue.h"
#include <QElapsedTimer>
#include <QLabel>

namespace {

constexpr int kReplyFloodSeconds = 20;

void AddReplyStreamRow(FloodRun& run, const QString& row, int peers)
{
    auto tab = std::make_shared<QPointer<SearchResultsForm>>();
    auto flooders = std::make_shared<std::vector<std::unique_ptr<StreamingPeer>>>();
    auto mark = std::make_shared<MemoryMark>();
    auto clock = std::make_shared<QElapsedTimer>();
    auto before = std::make_shared<size_t>();
    const auto leftOut = [tab] {
        const QString notice = *tab && (*tab)->NoticeLabel() ? (*tab)->NoticeLabel()->text() : QString();
        return notice.section(u' ', 0, 0).remove(u',').toLongLong();
    };
    const bool runs = run.Add(
        row,
        [=] {
            mark->Begin();
            *before = StoredResults();
            const QByteArray frame = Framed(SearchReplyFrame(QStringLiteral("streamer"), TicketOf(*tab), 10));
            for (int p = 0; p < peers; ++p) {
                flooders->push_back(PeerAtWindow(QStringLiteral("streamer%1").arg(p), QStringLiteral("P")));
                if (flooders->back())
                    flooders->back()->Stream(frame, std::numeric_limits<int>::max());
            }
            clock->start();
        },
        [=] {
            if (clock->elapsed() < kReplyFloodSeconds * 1000)
                return false;
            flooders->clear();
            return StoredResults() >= *before + SearchReplyQueue::kMaxResultsPerSearch && leftOut() > 0;
        },
        (kReplyFloodSeconds + 120) * 1000, [=] { *tab = OpenSearchTab(row); });
    if (runs)
        run.After([=] {
            FloodRun::Print(row + QStringLiteral("_left_out"), double(leftOut()), "results");
            PrintMemory(row, *mark, [] {});
        });
}

} // namespace

inline void AddSearchReplyFloodsRows(FloodRun& run)
{
    AddReplyStreamRow(run, QStringLiteral("search_reply_stream"), 1);
    AddReplyStreamRow(run, QStringLiteral("search_reply_stream_50"), 50);
}
