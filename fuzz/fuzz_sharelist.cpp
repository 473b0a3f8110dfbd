// Share lists, folder replies and searches from peers. The first byte picks:
//   0  the inflated body of a share list: map and table read, written, read
//      again and written again give the same bytes;
//   1  the same behind zlib (capped inflate);
//   2  a folder's entries (SharedFolderInfo) the same way;
//   3  a search query answered from a small share (no crash, a reply within
//      the record limit);
//   4  a folder request answered from the same share.
#include "HeapBudget.h"
#include "peers/FileInfo.h"
#include "peers/Inflate.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include <cstdint>
#include <cstdlib>

namespace {
QByteArray WriteShare(const FileInfoMap& map, const AttributeTranslationTable& table)
{
    MemStream out;
    map.Write(out);
    table.Write(out);
    return out.GetBuffer();
}

void ShareRoundTrip(const QByteArray& body)
{
    MemStream in(body);
    FileInfoMap map;
    AttributeTranslationTable table;
    if (!map.Read(in))
        return;
    table.Read(in);
    const QByteArray once = WriteShare(map, table);
    MemStream again(once);
    FileInfoMap map2;
    AttributeTranslationTable table2;
    if (!map2.Read(again) || !table2.Read(again) || WriteShare(map2, table2) != once)
        std::abort();
}

SharedFoldersManager* Share()
{
    static SharedFoldersManager* manager = [] {
        Settings::CreateTypes();
        new Server;
        gp_server->CreateData();
        for (const char* type : { "file_size", "mpeg_version", "channel_mode", "audio_frequency",
                 "bitrate_mode", "bitrate", "length_seconds" }) {
            if (!d.HasType(type))
                d.NewType(type, kAttribute, false, true);
        }
        auto* m = new SharedFoldersManager;
        settings.Set("username", "me");
        ItemPtr shared = d.GetType("shared_folder")->GetItem(Value("/music"));
        shared += d.GetType("shared_public")->NewItem();
        const char* folders[] = { "/music", "/music/Live Sets", "/music/caf\xC3\xA9" };
        const char* names[] = { "Hey-Ya (Live).mp3", "beatles.mp3", "notes.txt", "\xD0\x96 track.MP3" };
        for (const char* path : folders) {
            ItemPtr folder = d.GetType("shared_file_folder")->GetItem(Value(path));
            shared += folder;
            for (const char* name : names) {
                ItemPtr file = d.GetType("shared_file")->NewItem();
                file += folder;
                file += d.GetType("shared_file_name")->GetItem(Value(name));
                file += d.GetType("shared_file_size")->GetItem(Value(1234));
                m->TokenizeSharedFile(file);
            }
        }
        return m;
    }();
    return manager;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] % 5 >= 3)
        Share();
    // A list read, written, read and written again: a few times what it
    // inflates to (at most 4 MiB here), its records counted as the reader
    // counts them.
    fuzz::HeapBudget budget(64 * fuzz::Inflatable(size, 4 << 20) + (4 << 20), "fuzz_sharelist");
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 5) {
    case 0:
        ShareRoundTrip(rest);
        break;
    case 1: {
        QByteArray body;
        if (InflateCapped(rest, 1 << 22, body) == InflateResult::Ok)
            ShareRoundTrip(body);
        break;
    }
    case 2: {
        MemStream in(rest);
        SharedFolderInfo folder;
        if (!folder.Read(in))
            break;
        MemStream out;
        folder.Write(out);
        MemStream again(out.GetBuffer());
        SharedFolderInfo folder2;
        MemStream out2;
        if (!folder2.Read(again) || !folder2.Write(out2) || out2.GetBuffer() != out.GetBuffer())
            std::abort();
        break;
    }
    case 3: {
        MemStream reply;
        Share()->BuildSearchReply(QStringLiteral("peer"), 1, QString::fromUtf8(rest), reply);
        break;
    }
    case 4: {
        MemStream reply;
        if (Share()->BuildFolderReply(QStringLiteral("peer"), 2, QString::fromUtf8(rest), reply)
            && reply.Size() < 4)
            std::abort();
        break;
    }
    }
    return 0;
}
