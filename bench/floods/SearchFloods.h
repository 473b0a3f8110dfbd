// The floods rows of search replies and share lists: big replies, many
// replies, the tab that holds them closed, results with huge names, a reply
// of one record repeated, a share list of a very deep folder tree and one
// refused by the share-list cap. The replies and lists come from peers on
// loopback connections.
#pragma once
#include "FloodRun.h"
#include "helper_peers.h"
#include "helper_wirefixtures.h"
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultsForm.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "peers/SearchReplyQueue.h"
#include "shares/SharedFoldersManager.h"
#include "shell/TabWidget.h"
#include "store/LogSink.h"
#include <QPointer>
#include <QTextBrowser>
#include <QTreeWidget>
#include <zlib.h>

namespace {

// A reply of count results from the user to the search: folders of 12 tracks.
QByteArray SearchReplyFrame(const QString& user, quint32 ticket, int count)
{
    SearchReply reply;
    reply.user = user.toStdString();
    reply.ticket = ticket;
    reply.freeSlot = true;
    reply.uploadSpeed = 250000;
    reply.files.reserve(count);
    for (int i = 0; i < count; ++i) {
        FileInfo file;
        file.name = "music\\artist " + std::to_string(i / 1200) + "\\album " + std::to_string(i / 12) + "\\track "
            + std::to_string(i) + ".mp3";
        file.size = 3000000 + i;
        file.attributes.extension = "mp3";
        file.attributes.attributes = { { ATTR_BITRATE, 320 }, { ATTR_LENGTH, 240 } };
        reply.files.push_back(std::move(file));
    }
    return EncodeSearchReply(reply).GetBuffer();
}

// A new results tab, shown, for a search sent to the server.
QPointer<SearchResultsForm> OpenSearchTab(const QString& text)
{
    const quint32 token = gp_server->FileSearch(text, false);
    return searchForm->CreateSearchForm(token, text, ManualSearch);
}

quint32 TicketOf(SearchResultsForm* tab)
{
    return tab ? tab->WidgetItem().GetItems("search_request").First().AsUInt() : 0;
}

size_t StoredResults()
{
    return d.GetType("search_result_node")->Count();
}

// A share list whose folders nest levels deep, one file in each.
QByteArray DeepShareFrame(int levels)
{
    FileInfoMap share;
    std::string path;
    for (int i = 0; i < levels; ++i) {
        path += i ? "\\f" : "f";
        FileInfo file;
        file.name = "file " + std::to_string(i) + ".mp3";
        file.size = 1000 + i;
        share[path].insert(file);
    }
    MemStream body;
    share.Write(body);
    AttributeTranslationTable().Write(body);
    return SharedFoldersManager::CompressedMessage(PM_SHARED_FILE_LIST, body.GetBuffer()).GetBuffer();
}

// A share-list message that inflates past the cap: zeros, deflated.
QByteArray BombShareFrame()
{
    const QByteArray zeros(kMaxInflatedSize + 1024 * 1024, '\0');
    uLongf size = compressBound(uLong(zeros.size()));
    QByteArray packed(qsizetype(size), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(zeros.constData()),
        uLong(zeros.size()), 9);
    packed.truncate(qsizetype(size));
    QByteArray frame(4, '\0');
    qToLittleEndian<quint32>(PM_SHARED_FILE_LIST, frame.data());
    return frame + packed;
}

// The log says a search reply from the user was refused.
bool ReplyRefused(const QString& user)
{
    const auto lines = LogSink::Instance().AreaLines(QStringLiteral("Peer Messenger"));
    return std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) {
        return line.text.startsWith(QStringLiteral("Refused a search reply from ") + user + u':');
    });
}

// The tab shows its folder tree.
bool TreeShown(ShareForm* form)
{
    return form && form->FolderTree()->isVisibleTo(form) && form->FolderTree()->topLevelItemCount() > 0;
}

// Whether the command line asks for the row (no names: every row).
bool Wanted(const QString& name)
{
    const QStringList args = QCoreApplication::arguments();
    return args.size() < 2 || args.mid(1).contains(name);
}

} // namespace

inline void AddSearchFloodsRows(FloodRun& run)
{
    // The tabs and the messages are made before the clock runs.
    static size_t before = 0;

    // One reply of 131,072 results: the tab keeps what a search keeps and
    // says the rest were left out.
    static QPointer<SearchResultsForm> big;
    static QByteArray bigReply;
    if (Wanted(QStringLiteral("search_reply_131k"))) {
        big = OpenSearchTab(QStringLiteral("flood big"));
        bigReply = SearchReplyFrame(QStringLiteral("flooder"), TicketOf(big), 131072);
    }
    run.Add(
        QStringLiteral("search_reply_131k"),
        [&run] {
            before = StoredResults();
            run.Peers().Add(QStringLiteral("flooder"), { bigReply });
        },
        [] {
            return StoredResults()
                >= before + std::min<size_t>(131072, SearchReplyQueue::kMaxResultsPerSearch)
                && big && big->NoticeLabel();
        });
    run.Memory(QStringLiteral("search_reply_131k"));

    // 200 peers with 1,000 results each, all at once, to as many searches as
    // keep them all.
    constexpr int kPeersPerTab = int(SearchReplyQueue::kMaxResultsPerSearch / 1000);
    static std::vector<QPointer<SearchResultsForm>> many;
    static std::vector<QByteArray> manyReplies;
    if (Wanted(QStringLiteral("search_200_peers")) || Wanted(QStringLiteral("search_tab_close"))) {
        for (int p = 0; p < 200; ++p) {
            if (p % kPeersPerTab == 0)
                many.push_back(OpenSearchTab(QStringLiteral("flood many %1").arg(many.size())));
            manyReplies.push_back(
                SearchReplyFrame(QStringLiteral("peer%1").arg(p), TicketOf(many.back()), 1000));
        }
    }
    auto feedMany = [](LoopbackPeers& peers) {
        for (int p = 0; p < 200; ++p)
            peers.Add(QStringLiteral("peer%1").arg(p), { manyReplies[p] });
    };
    run.Add(
        QStringLiteral("search_200_peers"),
        [feedMany, &run] {
            before = StoredResults();
            feedMany(run.Peers());
        },
        [] { return StoredResults() >= before + 200000; });
    run.Memory(QStringLiteral("search_200_peers"));
    // Run alone, the closing row fills its tabs first (not timed).
    if (Wanted(QStringLiteral("search_tab_close")) && !Wanted(QStringLiteral("search_200_peers"))) {
        before = StoredResults();
        LoopbackPeers filling;
        feedMany(filling);
        gui::WaitFor([] { return StoredResults() >= before + 200000; }, 120000);
    }

    // Closing the tabs of those 200,000 results at once: they go, and so do
    // their results.
    static size_t resultsLeft = 0;
    run.Add(
        QStringLiteral("search_tab_close"),
        [] {
            resultsLeft = d.GetType("search_result")->Count() - 200000;
            for (const QPointer<SearchResultsForm>& tab : many)
                searchForm->OnTabCloseRequested(searchForm->searchTabControl()->indexOf(tab));
        },
        [] {
            return std::all_of(many.begin(), many.end(), [](const auto& tab) { return !tab; })
                && d.GetType("search_result")->Count() <= resultsLeft;
        });
    run.Memory(QStringLiteral("search_tab_close"));

    // 100 results whose names have 60,000 characters, in 5,000-level folders;
    // then five pages down the list.
    static QPointer<SearchResultsForm> names;
    static QByteArray namesReply;
    static int pages = 0;
    if (Wanted(QStringLiteral("search_long_names"))) {
        names = OpenSearchTab(QStringLiteral("flood names"));
        SearchReply reply;
        reply.user = "longnames";
        reply.ticket = TicketOf(names);
        std::string folder;
        for (int level = 0; level < 5000; ++level)
            folder += "d\\";
        for (int i = 0; i < 100; ++i) {
            FileInfo file;
            file.name = folder + std::to_string(i) + std::string(60000, 'n') + ".mp3";
            file.size = 1000 + i;
            reply.files.push_back(std::move(file));
        }
        namesReply = EncodeSearchReply(reply).GetBuffer();
    }
    run.Add(
        QStringLiteral("search_long_names"),
        [&run] {
            before = StoredResults();
            pages = 0;
            run.Peers().Add(QStringLiteral("longnames"), { namesReply });
        },
        [] {
            if (!names || StoredResults() < before + 100)
                return false;
            if (pages++ < 5) {
                QTest::keyClick(names->searchResults(), Qt::Key_PageDown);
                return false;
            }
            return true;
        });
    run.Memory(QStringLiteral("search_long_names"));

    // One record with a name of 128 KiB, then 131,071 records that repeat it:
    // some 300 bytes sent, 16 GiB once read. Shown when the log says it was
    // refused; the most memory the window held meanwhile, beyond what it held
    // before, is printed too.
    static QPointer<SearchResultsForm> repeatedTab;
    static QByteArray repeated;
    static qint64 residentBefore = 0;
    if (Wanted(QStringLiteral("repeated_record_reply"))) {
        repeatedTab = OpenSearchTab(QStringLiteral("flood repeated"));
        repeated = RepeatedRecordReply(128 * 1024, 131071, TicketOf(repeatedTab));
    }
    run.Add(
        QStringLiteral("repeated_record_reply"),
        [&run] {
            ResetPeakResident();
            residentBefore = PeakResidentKiB();
            run.Peers().Add(QStringLiteral("repeater"), { repeated });
        },
        [] {
            if (!ReplyRefused(QStringLiteral("repeater")))
                return false;
            FloodRun::Print(QStringLiteral("repeated_record_reply_peak_memory"),
                double(PeakResidentKiB() - residentBefore) / 1024, "MiB");
            return true;
        });

    // A share list of a 10,000-level folder tree, in its Browse tab.
    static QPointer<ShareForm> deep;
    static QByteArray deepList;
    if (Wanted(QStringLiteral("share_deep_10k"))) {
        deep = static_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("deepsharer")));
        deepList = DeepShareFrame(10000);
    }
    run.Add(
        QStringLiteral("share_deep_10k"),
        [&run] { run.Peers().Add(QStringLiteral("deepsharer"), { deepList }); },
        [] { return TreeShown(deep); });
    run.Memory(QStringLiteral("share_deep_10k"));

    // A share list that inflates past the cap: the tab says it was refused.
    static QPointer<ShareForm> bombed;
    static QByteArray bomb;
    if (Wanted(QStringLiteral("share_refused"))) {
        bombed = static_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("bomber")));
        bomb = BombShareFrame();
    }
    run.Add(
        QStringLiteral("share_refused"),
        [&run] { run.Peers().Add(QStringLiteral("bomber"), { bomb }); },
        [] { return bombed && bombed->MessageBrowser()->toPlainText().contains(QStringLiteral("refused")); },
        30000);
    run.Memory(QStringLiteral("share_refused"));
}
