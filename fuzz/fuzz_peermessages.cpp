// Every peer message decoder, and the whole messaging dispatch (with the
// storing of search replies) in a client core of its own, each input within
// its heap budget and each decoded list within its byte budget. The first byte
// picks the decoder and whether the rest is compressed first, so the fuzzer
// reaches the bodies inside zlib streams too.
#include "HeapBudget.h"
#include "peers/FileInfo.h"
#include "peers/Inflate.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QCoreApplication>
#include <QDateTime>
#include <QtEndian>
#include <cstdint>
#include <cstdlib>

namespace {

PeerMessenger* Core()
{
    static PeerMessenger* messenger = [] {
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = { name, nullptr };
        new QCoreApplication(argc, argv);
        Settings::CreateTypes();
        new Server;
        gp_server->CreateData();
        settings.Set("username", "fuzz");
        auto* pm = new PeerMessenger;
        // Every reply to ticket 1 is stored.
        d.GetType("search_request")->NewItem(Value(1u));
        return pm;
    }();
    return messenger;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    PeerMessenger* pm = Core();
    // What the decoders may build: the inflated body (what the input can
    // inflate to), a search reply of at most kMaxSearchReplyBytes read and
    // read again, and, from the dispatch, its results in the store; a share
    // list in the records' footprints its reader counts. Repeated records
    // count each time: a reply of one record repeated must not get past.
    const size_t inflated = fuzz::Inflatable(size, kMaxInflatedSize);
    fuzz::HeapBudget budget(64 * inflated + 4 * kMaxSearchReplyBytes, "fuzz_peermessages");
    const quint8 selector = data[0];
    QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (selector & 0x80)
        rest = Deflate(rest);
    MemStream in(rest);
    switch (selector & 0x0f) {
    case 0: {
        TransferRequestMessage m;
        DecodeTransferRequest(in, m);
        break;
    }
    case 1: {
        TransferResponseMessage m;
        if (DecodeTransferResponse(in, m) && !m.accepted && m.hasSize)
            std::abort();
        break;
    }
    case 2: {
        UserInfoMessage m;
        if (DecodeUserInfo(in, m)
            && (m.picture.size() > qsizetype(kMaxPictureLength) || (!m.hasPicture && !m.picture.isEmpty())))
            std::abort();
        break;
    }
    case 3: {
        SearchReply reply;
        if (DecodeSearchReply(rest, reply)) {
            // What it holds is within its budget.
            quint64 footprint = 0;
            for (const FileInfo& file : reply.files)
                footprint += file.Footprint();
            if (footprint > kMaxSearchReplyBytes)
                std::abort();
            // What decodes re-encodes and decodes to the same records.
            SearchReply again;
            if (!DecodeSearchReply(EncodeSearchReply(reply).GetBuffer().mid(4), again)
                || again.files.size() != reply.files.size())
                std::abort();
        }
        break;
    }
    case 4: {
        FileInfoMap share;
        AttributeTranslationTable table;
        quint64 footprint = 0;
        if (DecodeSharedFileList(rest, share, table))
            for (const auto& [key, files] : share)
                for (const FileInfo& file : files)
                    footprint += file.Footprint();
        if (footprint > FileInfoMap::kMaxShareBytes)
            std::abort();
        break;
    }
    case 5: {
        FileInfoMap map;
        if (map.Read(in, 10000)) {
            MemStream out;
            map.Write(out);
            FileInfoMap back;
            if (!back.Read(out, 10000) || back.size() != map.size())
                std::abort();
        }
        break;
    }
    case 6: {
        DistributedSearch search;
        DecodeDistributedSearch(rest, search);
        SharedFolderInfo folder;
        MemStream again(rest);
        folder.Read(again);
        break;
    }
    default: {
        // The dispatch, as if a peer sent the frame; a search reply's ticket
        // is set to 1 so that it is stored.
        QByteArray frame = rest;
        if (frame.size() >= 4 && qFromLittleEndian<quint32>(frame.constData()) == PM_FILE_SEARCH_RESULT) {
            QByteArray body;
            if (InflateCapped(frame.constData() + 4, frame.size() - 4, 1 << 20, body) == InflateResult::Ok
                && body.size() >= 8) {
                const quint32 nameLength = qFromLittleEndian<quint32>(body.constData());
                if (nameLength < quint32(body.size()) - 8) {
                    qToLittleEndian<quint32>(1, body.data() + 4 + nameLength);
                    frame = frame.left(4) + Deflate(body);
                }
            }
        }
        pm->ProcessMessage(QStringLiteral("peer"), frame);
        pm->FinishShareLists();
        pm->FinishSearchReplies();
        // Nothing carries over to the next input: queued replies and attempts
        // expire, stored replies go.
        pm->ExpireStale(QDateTime::currentSecsSinceEpoch() + 100000);
        for (ItemPtr results : d.GetType("search_results")->GetItems())
            results.Remove();
        d.RemoveDisconnectedItems();
        break;
    }
    }
    return 0;
}
