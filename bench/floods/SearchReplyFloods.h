// The floods rows of replies streamed to the user's own search: peers send
// replies of ten results each (every result another file) to the ticket of
// an open results tab as fast as their sockets take them, for
// kReplyFloodSeconds:
//   search_reply_stream: one peer;
//   search_reply_stream_50: fifty peers at once.
// Shown once the flood is over and the tab holds every result the search
// keeps (SearchReplyQueue::kMaxResultsPerSearch) and says how many were left
// out. Each also prints <row>_left_out (results, as the tab says) and
// <row>_peak_memory and <row>_memory_after (MiB above where the row began,
// the results kept included: they stay shown).
#pragma once
#include "PeerFloods.h"
#include "SearchFloods.h"
#include "peers/SearchReplyQueue.h"
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>

namespace {

constexpr int kReplyFloodSeconds = 20;

// A peer that writes a block of frames again and again, topping its socket up
// as the system takes what it holds.
class BlockStreamer {
public:
    BlockStreamer(const QString& user, const QByteArray& block, quint16 port)
        : m_block(block)
    {
        QObject::connect(&m_peer.Socket(), &QTcpSocket::readyRead, [this] { m_peer.Socket().readAll(); });
        QObject::connect(&m_peer.Socket(), &QTcpSocket::bytesWritten, [this] { TopUp(); });
        if (m_peer.Connect(port)) {
            m_peer.SendFrame(PeerInitBody(user, QStringLiteral("P"), 0));
            TopUp();
        }
    }

private:
    // A slice at a time: what this process holds for the peers stays small.
    void TopUp()
    {
        constexpr qsizetype kSlice = 64 * 1024;
        if (m_peer.Socket().bytesToWrite() >= kSlice)
            return;
        const qsizetype n = std::min(kSlice, m_block.size() - m_offset);
        m_peer.Socket().write(m_block.constData() + m_offset, n);
        m_offset = (m_offset + n) % m_block.size();
    }
    RawPeer m_peer;
    QByteArray m_block;
    qsizetype m_offset = 0;
};

// Streaming peers on a thread of their own, so that what they cost is not
// counted as the window's.
class Streamers {
public:
    Streamers()
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }
    ~Streamers()
    {
        Stop();
        m_thread.quit();
        m_thread.wait();
    }
    void Start(int peers, const QByteArray& block)
    {
        const quint16 port = peerMessenger->ListeningPort();
        QMetaObject::invokeMethod(&m_context, [this, peers, block, port] {
            for (int p = 0; p < peers; ++p)
                m_peers.push_back(
                    std::make_unique<BlockStreamer>(QStringLiteral("streamer%1").arg(p), block, port));
        });
    }
    // Every peer is gone once this returns.
    void Stop()
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { m_peers.clear(); }, Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_context;
    std::vector<std::unique_ptr<BlockStreamer>> m_peers; // used on the thread only
};

// Replies of ten results to the ticket, 8,192 of them, no two with the same
// file.
QByteArray DistinctReplies(quint32 ticket)
{
    QByteArray block;
    SearchReply reply;
    reply.user = "streamer";
    reply.ticket = ticket;
    reply.freeSlot = true;
    reply.files.resize(10);
    for (int r = 0; r < 8192; ++r) {
        for (int i = 0; i < 10; ++i) {
            reply.files[i].name
                = "music\\album " + std::to_string(r) + "\\track " + std::to_string(i) + ".mp3";
            reply.files[i].size = 3000000 + r;
        }
        block += Framed(EncodeSearchReply(reply).GetBuffer());
    }
    return block;
}

void AddReplyStreamRow(FloodRun& run, const QString& row, int peers)
{
    auto tab = std::make_shared<QPointer<SearchResultsForm>>();
    auto flooders = std::make_shared<Streamers>();
    auto mark = std::make_shared<MemoryMark>();
    auto clock = std::make_shared<QElapsedTimer>();
    auto before = std::make_shared<size_t>();
    auto block = std::make_shared<QByteArray>();
    const auto leftOut = [tab] {
        const QString notice = *tab && (*tab)->NoticeLabel() ? (*tab)->NoticeLabel()->text() : QString();
        return notice.section(u' ', 0, 0).remove(u',').toLongLong();
    };
    const bool runs = run.Add(
        row,
        [=] {
            mark->Begin();
            *before = StoredResults();
            flooders->Start(peers, *block);
            clock->start();
        },
        [=] {
            if (clock->elapsed() < kReplyFloodSeconds * 1000)
                return false;
            flooders->Stop();
            return StoredResults() >= *before + SearchReplyQueue::kMaxResultsPerSearch && leftOut() > 0;
        },
        (kReplyFloodSeconds + 120) * 1000,
        [=] {
            *tab = OpenSearchTab(row);
            *block = DistinctReplies(TicketOf(*tab));
        });
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
