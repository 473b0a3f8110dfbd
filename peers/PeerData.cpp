// The item types of the peer network and the storing of search replies.
#include "PeerCodes.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "store/Data.h"
#include "store/Log.h"

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

} // namespace

void PeerMessenger::DeclareTypes()
{
    Type* fileSize = d.DeclareType("file_size", kAttribute);
    for (const char* name :
        { "mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate", "length_seconds" })
        d.DeclareType(name, kAttribute);

    // A search, its text and flags.
    Type* request = d.DeclareType("search_request", kEntity, false, false);
    d.RelateTypes(request, d.DeclareType("search_request_text", kAttribute), Many, One);
    d.RelateTypes(request, d.DeclareType("wishlist_search", kAttribute, true), Many, One);
    d.RelateTypes(request, d.DeclareType("search_stopped", kAttribute, true), Many, One);

    // One user's reply to a search, owned by the search, and its files.
    Type* user = d.DeclareType("user", kEntity);
    Type* results = d.DeclareType("search_results", kLink, true);
    d.RelateTypes(request, results, One, Many, true);
    d.RelateTypes(results, user, Many, One);
    for (const char* name :
        { "search_results_user_available", "search_results_user_speed", "search_results_uploads_in_queue" })
        d.RelateTypes(results, d.DeclareType(name, kAttribute), Many, One);
    Type* result = d.DeclareType("search_result", kLink, true);
    d.RelateTypes(results, result, One, Many, true);
    for (const char* name : { "search_result_file_name", "search_result_file_folder" })
        d.RelateTypes(result, d.DeclareType(name, kAttribute), Many, One);
    d.RelateTypes(result, fileSize, Many, One);
    for (const char* name : { "bitrate", "bitrate_mode", "length_seconds" })
        d.RelateTypes(result, d.GetType(name), Many, One);

    // The server's related searches of a query text.
    Type* correlation = d.DeclareType("search_correlation", kLink, true);
    d.RelateTypes(d.GetType("search_request_text"), correlation, One, Many, true);
    d.RelateTypes(correlation, d.DeclareType("correlation_text", kAttribute), Many, One);
    d.RelateTypes(correlation, d.DeclareType("correlation_rank", kAttribute), Many, One);
}

void PeerMessenger::OnSearchResults(const QString& user, const QByteArray& frame)
{
    SearchReply reply;
    QString why;
    if (!DecodeSearchReply(frame.mid(4), reply, &why)) {
        Log(kArea, 2, QStringLiteral("Dropped a malformed search reply from %1: %2").arg(user, why));
        return;
    }
    ItemPtr request = d.GetType("search_request")->HasItem(Value(reply.ticket));
    if (!request || request.IsConnected("search_stopped"))
        return; // a search that is gone or stopped takes no more results

    ItemPtr results = d.GetType("search_results")->NewItem();
    results.Connect(d.GetType("user")->GetItem(Value(user)));
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
    for (const FileInfo& file : reply.files) {
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
    // The owner last: whoever watches searches sees a complete reply.
    request.Connect(results);
    emit SearchResults(results);
}
