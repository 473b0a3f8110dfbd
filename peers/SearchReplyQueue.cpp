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
}

void SearchReplyQueue::Take(const QString& user, const QByteArray& message)
{
    const auto refused = [user](const QString& why) {
        Log(kArea, 2, QStringLiteral("Refused a search reply from %1: %2").arg(user, why));
    };
    const auto decode = [this, user, message, refused]() -> OrderedWorker::Outcome {
        auto reply = std::make_shared<Reply>();
        reply->user = user;
        QString why;
        // The reply after the code, read in place.
        const QByteArray compressed
            = QByteArray::fromRawData(message.constData() + 4, std::max<qsizetype>(message.size() - 4, 0));
        if (!DecodeSearchReply(compressed, reply->reply, &why))
            return [refused, why] { refused(why); };
        return [this, reply] { Enqueue(reply); };
    };
    const bool started = m_worker.Start(message.size(), decode, refused);
    if (!started)
        Log(kArea, 2,
            QStringLiteral("Dropped a search reply from %1: too many replies are waiting to be read").arg(user));
}

void SearchReplyQueue::Finish()
{
    m_worker.Finish();
    while (!m_waiting.empty())
        StorePart();
}

void SearchReplyQueue::Enqueue(std::shared_ptr<Reply> reply)
{
    std::vector<FileInfo>& files = reply->reply.files;
    const size_t room = m_maxWaitingResults - std::min(m_waitingResults, m_maxWaitingResults);
    if (files.size() > room) {
        const qint64 dropped = qint64(files.size() - room);
        files.resize(room);
        Log(kArea, 2,
            QStringLiteral("Left out %1 results of a search reply from %2: too many results are waiting to be shown")
                .arg(dropped)
                .arg(reply->user));
        emit Dropped(reply->reply.ticket, reply->user, dropped);
    }
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
