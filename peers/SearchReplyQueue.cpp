#include "SearchReplyQueue.h"
#include "PeerCodes.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/SlicedWork.h"
#include <algorithm>

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

} // namespace

SearchReplyQueue::SearchReplyQueue(QObject* parent)
    : QObject(parent)
    , m_worker(kMaxWaitingBytes)
{
    m_report.setSingleShot(true);
    m_report.setInterval(250);
    connect(&m_report, &QTimer::timeout, this, &SearchReplyQueue::ReportLeftOut);
}

void SearchReplyQueue::Take(const QString& user, const QByteArray& message)
{
    // The reply after the code, read in place.
    const QByteArray compressed
        = QByteArray::fromRawData(message.constData() + 4, std::max<qsizetype>(message.size() - 4, 0));
    quint32 ticket = 0, count = 0;
    quint64 serial = 0;
    size_t claimed = 0;
    if (PeekSearchReplyHead(compressed, ticket, count)) {
        Search* search = Live(ticket);
        if (!search)
            return; // nobody waits for it
        const size_t room = Room(*search);
        if (room == 0) {
            LeaveOut(ticket, user, count, true);
            return;
        }
        claimed = std::min<size_t>(std::max<quint32>(count, 1), room);
        search->claimed += claimed;
        serial = search->serial;
    }
    const auto refused = [this, user, ticket, serial, claimed](const QString& why) {
        Unclaim(ticket, serial, claimed);
        Log(kArea, 2, QStringLiteral("Refused a search reply from %1: %2").arg(user, why));
    };
    const auto decode
        = [this, user, message, refused, ticket, serial, claimed, count]() -> OrderedWorker::Outcome {
        auto reply = std::make_shared<Reply>();
        reply->user = user;
        QString why;
        const QByteArray compressed
            = QByteArray::fromRawData(message.constData() + 4, std::max<qsizetype>(message.size() - 4, 0));
        // Only what the search has room for is kept.
        if (!DecodeSearchReply(compressed, reply->reply, &why, claimed ? claimed : size_t(-1)))
            return [refused, why] { refused(why); };
        if (claimed)
            reply->unread = count - reply->reply.files.size();
        return [this, reply, ticket, serial, claimed] {
            Unclaim(ticket, serial, claimed);
            Enqueue(reply);
        };
    };
    if (!m_worker.Start(message.size(), decode, refused)) {
        Unclaim(ticket, serial, claimed);
        Log(kArea, 2,
            QStringLiteral("Dropped a search reply from %1: too many replies are waiting to be read")
                .arg(user));
    }
}

void SearchReplyQueue::Finish()
{
    m_worker.Finish();
    while (!m_waiting.empty())
        StorePart();
    ReportLeftOut();
}

SearchReplyQueue::Search* SearchReplyQueue::Live(quint32 ticket)
{
    Type* requests = d.GetType("search_request");
    const auto live = [requests](quint32 t) {
        ItemPtr request = requests->HasItem(Value(t));
        return request && !request.IsConnected("search_stopped") ? request : ItemPtr();
    };
    ItemPtr request = live(ticket);
    if (!request) {
        m_searches.erase(ticket);
        return nullptr;
    }
    auto [it, added] = m_searches.try_emplace(ticket);
    if (it->second.serial != request.Serial())
        it->second = Search { request.Serial() };
    if (added && m_searches.size() > m_sweepAt) {
        std::erase_if(
            m_searches, [&](const auto& entry) { return entry.first != ticket && !live(entry.first); });
        m_sweepAt = 2 * m_searches.size() + 16;
        it = m_searches.find(ticket);
    }
    return &it->second;
}

size_t SearchReplyQueue::Room(const Search& search) const
{
    return m_maxPerSearch - std::min(search.kept + search.claimed, m_maxPerSearch);
}

void SearchReplyQueue::Unclaim(quint32 ticket, quint64 serial, size_t results)
{
    const auto it = m_searches.find(ticket);
    if (results && it != m_searches.end() && it->second.serial == serial)
        it->second.claimed -= std::min(results, it->second.claimed);
}

void SearchReplyQueue::LeaveOut(quint32 ticket, const QString& user, qint64 results, bool searchFull)
{
    if (results <= 0)
        return;
    m_leftOut[{ ticket, user, searchFull }] += results;
    if (!m_report.isActive())
        m_report.start();
}

void SearchReplyQueue::ReportLeftOut()
{
    m_report.stop();
    for (const auto& [key, results] : std::exchange(m_leftOut, {})) {
        const auto& [ticket, user, searchFull] = key;
        Log(kArea, 2,
            QStringLiteral("Left out %1 results of search replies from %2: %3")
                .arg(results)
                .arg(user,
                    searchFull ? QStringLiteral("the search has all the results it keeps")
                               : QStringLiteral("too many results are waiting to be shown")));
        emit Dropped(ticket, user, results, searchFull);
    }
}

void SearchReplyQueue::Enqueue(std::shared_ptr<Reply> reply)
{
    Search* search = Live(reply->reply.ticket);
    if (!search)
        return;
    std::vector<FileInfo>& files = reply->reply.files;
    const bool hadResults = !files.empty() || reply->unread > 0;
    const size_t waitingRoom = m_maxWaitingResults - std::min(m_waitingResults, m_maxWaitingResults);
    const size_t searchRoom = Room(*search);
    const size_t room = std::min(waitingRoom, searchRoom);
    LeaveOut(reply->reply.ticket, reply->user, qint64(reply->unread), true);
    if (files.size() > room) {
        LeaveOut(reply->reply.ticket, reply->user, qint64(files.size() - room), searchRoom <= waitingRoom);
        files.resize(room);
    }
    // A reply that came with no results still makes an item (and counts as
    // one result); one whose results were all left out makes none.
    if (files.empty() && (hadResults || searchRoom == 0))
        return;
    search->kept += std::max<size_t>(files.size(), 1);
    m_waitingResults += files.size();
    m_waiting.push_back(std::move(reply));
    m_turns.Wake();
}

void SearchReplyQueue::Slice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    while (!m_waiting.empty() && !turn.hasExpired())
        StorePart();
    if (!m_waiting.empty())
        m_turns.Wake();
}

void SearchReplyQueue::StorePart()
{
    std::shared_ptr<Reply> waiting = m_waiting.front();
    const SearchReply& reply = waiting->reply;
    // A part ends at kPartSize results, or sooner once its names are long:
    // a hundred names of 70,000 characters are as much work as 30,000 short
    // ones.
    size_t end = waiting->next;
    for (size_t bytes = 0; end < reply.files.size() && end - waiting->next < kPartSize && bytes < kPartBytes; ++end)
        bytes += reply.files[end].name.size();
    const size_t count = end - waiting->next;
    ItemPtr request = d.GetType("search_request")->HasItem(Value(reply.ticket));
    // A search that is gone or stopped takes no more results.
    const bool taken = request && !request.IsConnected("search_stopped");
    const size_t begin = waiting->next;
    waiting->next = taken ? end : reply.files.size();
    m_waitingResults -= taken ? count : reply.files.size() - begin;
    if (waiting->next >= reply.files.size())
        m_waiting.pop_front();
    if (!taken)
        return;

    ItemPtr results = d.GetType("search_results")->NewItem();
    results.Connect(d.GetType("user")->GetItem(Value(waiting->user)));
    results.Connect(d.GetType("search_results_user_available")->GetItem(reply.freeSlot ? "yes" : "no"));
    results.Connect(d.GetType("search_results_user_speed")->GetItem(Value(reply.uploadSpeed)));
    results.Connect(d.GetType("search_results_uploads_in_queue")->GetItem(Value(reply.queueLength)));

    Type* resultType = d.GetType("search_result");
    Type* nameType = d.GetType("search_result_file_name");
    Type* folderType = d.GetType("search_result_file_folder");
    Type* sizeType = d.GetType("file_size");
    Type* bitrateType = d.GetType("bitrate");
    Type* modeType = d.GetType("bitrate_mode");
    Type* lengthType = d.GetType("length_seconds");
    for (size_t i = begin; i < end; ++i) {
        const FileInfo& file = reply.files[i];
        // The path comes with "\" separators: the folder is what precedes
        // the last one.
        const size_t cut = file.name.rfind('\\');
        const std::string folder = cut == std::string::npos ? std::string() : file.name.substr(0, cut);
        const std::string name = cut == std::string::npos ? file.name : file.name.substr(cut + 1);
        ItemPtr result = resultType->NewItem();
        result.Connect(nameType->GetItem(Value(name)));
        result.Connect(folderType->GetItem(Value(folder)));
        result.Connect(sizeType->GetItem(Value(static_cast<long long>(file.size))));
        for (const auto& [code, value] : file.attributes.attributes) {
            if (code == ATTR_BITRATE)
                result.Connect(bitrateType->GetItem(Value(value)));
            else if (code == ATTR_LENGTH)
                result.Connect(lengthType->GetItem(Value(value)));
            else if (code == ATTR_BITRATE_MODE)
                result.Connect(modeType->GetItem(value == 0 ? "cbr" : "vbr"));
        }
        results.Connect(result);
    }
    // The owner last: whoever watches searches sees a complete part.
    request.Connect(results);
    emit Stored(results);
}
