// Search replies as the peer network stores them: 100 files from each of 500
// users by default, for a results tab at scale.
#pragma once
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include <string>
#include <vector>

namespace {

// A result as the store holds it.
struct Row {
    QString user;
    bool free;
    int queue, speed;
    std::string folder, file;
    qint64 size;
    int bitrate;
};

// Replies as the peer network stores them, made before any clock runs.
inline std::vector<ItemPtr> MakeReplies(unsigned token, int replies, int files, std::vector<std::vector<Row>>* rows)
{
    ItemPtr request = d.GetType("search_request")->HasItem(Value(token));
    std::vector<ItemPtr> out;
    for (int r = 0; r < replies; ++r) {
        const QString user = QStringLiteral("user%1").arg(r, 4, 10, QLatin1Char('0'));
        ItemPtr reply = d.GetType("search_results")->NewItem();
        reply.Connect(d.GetType("user")->GetItem(Value(user)));
        const bool free = r % 3 == 0;
        reply.Connect(d.GetType("search_results_user_available")->GetItem(free ? "yes" : "no"));
        reply.Connect(d.GetType("search_results_user_speed")->GetItem(Value((r * 7919) % 500000)));
        reply.Connect(d.GetType("search_results_uploads_in_queue")->GetItem(Value(r % 17)));
        std::vector<Row> replyRows;
        for (int f = 0; f < files; ++f) {
            const std::string folder = "music\\artist " + std::to_string(r % 50) + "\\album " + std::to_string(f / 12);
            const std::string name = "track " + std::to_string((f * 37) % files) + (f % 4 ? " live.mp3" : ".mp3");
            ItemPtr result = d.GetType("search_result")->NewItem();
            result.Connect(d.GetType("search_result_file_name")->GetItem(Value(name)));
            result.Connect(d.GetType("search_result_file_folder")->GetItem(Value(folder)));
            result.Connect(d.GetType("file_size")->GetItem(Value(3000000LL + (f * 104729LL) % 9000000LL)));
            result.Connect(d.GetType("bitrate")->GetItem(Value(128 + (f % 3) * 96)));
            reply.Connect(result);
            replyRows.push_back({ user, free, r % 17, (r * 7919) % 500000, folder, name,
                3000000LL + (f * 104729LL) % 9000000LL, 128 + (f % 3) * 96 });
        }
        request.Connect(reply);
        out.push_back(reply);
        if (rows)
            rows->push_back(std::move(replyRows));
    }
    return out;
}

} // namespace
