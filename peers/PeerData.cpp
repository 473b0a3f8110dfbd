// The item types of the peer network, and search replies handed to their
// queue (SearchReplyQueue), which stores them.
#include "PeerCodes.h"
#include "PeerMessenger.h"
#include "SearchReplyQueue.h"
#include "store/Data.h"

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
    m_searchReplies->Take(user, frame);
}

void PeerMessenger::FinishSearchReplies()
{
    m_searchReplies->Finish();
}
