// link: shares
// Share figures at scale, on a generated tree of real (empty) files:
//   shares.find_walk     a bare walk of the same tree, names only, as find
//                        does it (the floor for the first index)
//   shares.first_index   the first walk of a fresh share, from its start to
//                        every file searchable
//   shares.walk          the scanner thread's disk walk within it
//   shares.index         end of the walk to a searchable index
//   shares.index_longest_slice  the longest time the event loop was kept
//                        waiting during the first index
//   shares.bytes_per_file heap growth per indexed file
//   shares.*_cold        with "cold": find_walk, first_index, walk, index and
//                        index_longest_slice on a tree on disk (the temporary
//                        folder), with the page cache dropped before each walk,
//                        as when a folder that was not looked at lately is
//                        shared (needs root to drop the cache)
//   shares.search_median a two-word query matching few files (reply built
//                        and compressed)
//   shares.share_list_build / _compress_only  the share list of a user who
//                        sees a tenth of the files (from a peer's request to
//                        the list being ready), and zlib level 9 alone on the
//                        same bytes
//   shares.share_list_member_build / _longest_stall  the same for a user who
//                        sees every file, and the longest time the event
//                        loop was kept waiting meanwhile
// Usage: bench_shares [files] [index] [cold]   (default 1000000; the tree is
// made in a scratch folder, removed at the end whether the run succeeds or
// fails; "index" stops after the index figures; "cold" gives the cold figures
// and stops there)
#include "ScratchFolder.h"
#include "peers/Inflate.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Item.h"
#include "store/Settings.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <random>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <csignal>
#include <dirent.h>
#include <unistd.h>

namespace {
double ThreadCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

size_t HeapBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void Print(const char* name, const char* scale, double value, const char* unit)
{
    std::printf("%s%s: %.3f %s\n", name, scale, value, unit);
    std::fflush(stdout);
}

// Pseudo-words from syllables: a vocabulary shared by names and folders.
std::vector<std::string> Vocabulary(size_t count)
{
    const char* syllables[] = { "ka", "lo", "mi", "ren", "sta", "vo", "qui", "zer", "dan", "po", "tri", "mel",
        "sun", "gra", "fe", "no", "bel", "cor", "ix", "ul" };
    std::vector<std::string> words;
    std::mt19937 random(7);
    while (words.size() < count) {
        std::string word;
        const int parts = 2 + int(random() % 3);
        for (int k = 0; k < parts; ++k)
            word += syllables[random() % 20];
        words.push_back(word);
    }
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return words;
}

// What find does with no test to apply: every name of the tree, with its
// path, from the folder listings alone (no file is looked at).
size_t FindWalk(std::string& path)
{
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return 0;
    size_t names = 0;
    const size_t length = path.size();
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' && (!entry->d_name[1] || (entry->d_name[1] == '.' && !entry->d_name[2])))
            continue;
        path.resize(length);
        path += '/';
        path += entry->d_name;
        ++names;
        if (entry->d_type == DT_DIR)
            names += FindWalk(path);
    }
    ::closedir(dir);
    path.resize(length);
    return names;
}

// Writes what is waiting to the disk and empties the page cache and the
// folder and file record caches, so that the next walk reads the disk.
bool DropCaches()
{
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    const bool dropped = fd >= 0 && ::write(fd, "3\n", 2) == 2;
    if (fd >= 0)
        ::close(fd);
    return dropped;
}

struct Tree {
    QString publicRoot; // a tenth of the files: everybody sees them
    QString privateRoot; // the rest: the user list only
    std::vector<std::pair<std::string, std::string>> queries; // two words of one file's name
};

// Artist folders of 10 albums of 10 files; names of three words and a number.
// Every folder and file is checked as it is made: a tree that cannot be made
// whole (a file system out of room or of inodes) ends the run with the name
// and the error, rather than giving figures for fewer files.
bool MakeTree(const QString& base, long files, Tree& tree)
{
    tree.publicRoot = base + "/Public Music";
    tree.privateRoot = base + "/Private Music";
    const std::vector<std::string> words = Vocabulary(20000);
    const char* extensions[]
        = { ".mp3", ".flac", ".ogg", ".jpg", ".mp3", ".txt", ".mp3", ".m4a", ".mp3", ".nfo" };
    std::mt19937 random(11);
    std::string folder;
    for (long k = 0; k < files; ++k) {
        const std::string root = (k < files / 10 ? tree.publicRoot : tree.privateRoot).toStdString();
        if (k % 10 == 0) {
            folder = root + "/" + words[size_t(k / 100) % words.size()] + " " + std::to_string(k / 100)
                + "/Album " + words[size_t(random() % words.size())] + " " + std::to_string(k / 10 % 10);
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error) {
                std::fprintf(stderr, "bench_shares: cannot make the folder %s: %s\n", folder.c_str(),
                    error.message().c_str());
                return false;
            }
        }
        const std::string a = words[random() % words.size()], b = words[random() % words.size()],
                          c = words[random() % words.size()];
        const std::string path
            = folder + "/" + std::to_string(k % 10 + 1) + " - " + a + " " + b + " " + c + extensions[size_t(k) % 10];
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0 || ::close(fd) != 0) {
            std::fprintf(stderr, "bench_shares: cannot make the file %s (%ld of %ld): %s\n", path.c_str(), k + 1,
                files, std::strerror(errno));
            return false;
        }
        if (k % 997 == 0 && tree.queries.size() < 1000)
            tree.queries.emplace_back(a, c);
    }
    return true;
}
}

// Times each event the loop delivers, so that a long wait can be told apart
// by what kept the loop: the longest delivery and its receiver are kept.
class TimedApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        // Only the event loop's own thread is timed.
        if (QThread::currentThread() != thread())
            return QCoreApplication::notify(receiver, event);
        // Taken before the delivery: the receiver may be gone after it (a
        // single-shot timer deletes itself in its timer event, a deferred
        // delete frees its receiver).
        const char* className = receiver->metaObject()->className();
        const QEvent::Type type = event->type();
        QElapsedTimer one;
        one.start();
        const bool result = QCoreApplication::notify(receiver, event);
        const qint64 took = one.nsecsElapsed();
        if (took > longest) {
            longest = took;
            where = std::string(className) + " event " + std::to_string(int(type));
        }
        return result;
    }
    qint64 longest = 0;
    std::string where;
};

int main(int argc, char** argv)
{
    TimedApplication app(argc, argv);
    // Output piped into a reader that stops early must not kill the run
    // before it removes its tree.
    std::signal(SIGPIPE, SIG_IGN);
    const long files = argc > 1 ? std::atol(argv[1]) : 1000000;
    bool indexOnly = false, cold = false;
    for (int k = 2; k < argc; ++k) {
        indexOnly = indexOnly || std::string(argv[k]) == "index";
        cold = cold || std::string(argv[k]) == "cold";
    }
    indexOnly = indexOnly || cold;
    const std::string scaleText = std::string(cold ? "_cold" : "") + (files == 1000000 ? "_1m" : "");
    const char* scale = scaleText.c_str();
    if (cold && !DropCaches()) {
        std::fprintf(stderr, "the page cache cannot be dropped here (it takes root): no cold figures\n");
        return 1;
    }
    // On a memory file system when there is one, unless the walk from the
    // disk is measured: making a million files on a disk takes a while.
    ScratchFolder dir("shares", cold || !QDir("/dev/shm").exists() ? QDir::tempPath() : QStringLiteral("/dev/shm"));
    if (!dir.isValid())
        return 1;
    struct statfs where {};
    if (cold && ::statfs(QFile::encodeName(dir.path()).constData(), &where) == 0 && where.f_type == TMPFS_MAGIC) {
        std::fprintf(stderr, "the temporary folder is in memory, not on a disk: no cold figures\n");
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    Tree tree;
    if (!MakeTree(dir.path(), files, tree))
        return 1;
    std::fprintf(stderr, "tree of %ld files made in %.1f s\n", files, clock.elapsed() / 1000.0);
    if (cold)
        DropCaches();
    QElapsedTimer findClock;
    findClock.start();
    std::string top = QFile::encodeName(dir.path()).toStdString();
    const size_t names = FindWalk(top);
    const double findSeconds = findClock.nsecsElapsed() / 1e9;
    std::fprintf(stderr, "find walk: %zu names\n", names);

    Settings::CreateTypes();
    new DataSaver(&d);
    new Server;
    gp_server->CreateData();
    for (const char* type : { "file_size", "mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode",
             "bitrate", "length_seconds" }) {
        if (!d.HasType(type))
            d.NewType(type, kAttribute, false, true);
    }
    auto* manager = new SharedFoldersManager;
    settings.Set("username", "bench");
    // A member of the user list sees both roots.
    d.GetType("user")->GetItem(Value("member")) += d.GetType("in_user_list")->NewItem();
    malloc_trim(0);
    const size_t heapBefore = HeapBytes();
    if (cold)
        DropCaches();

    // Start-up walk of both roots; the walk's end is taken on the scanner
    // thread as it signals.
    std::atomic<qint64> walkEnd { 0 };
    std::atomic<double> walkCpu { 0 };
    QObject::connect(
        manager->Scanner(), &FileScanner::FoldersScanned, manager->Scanner(),
        [&] {
            walkEnd = clock.nsecsElapsed();
            walkCpu = ThreadCpuSeconds();
        },
        Qt::DirectConnection);
    // Both roots as if restored from the data file: walked at start-up.
    d.GetType("shared_folder")->GetItem(Value(tree.publicRoot)) += d.GetType("shared_public")->NewItem();
    d.GetType("shared_folder")->GetItem(Value(tree.privateRoot)) += d.GetType("shared_userlist")->NewItem();
    const qint64 walkStart = clock.nsecsElapsed();
    const double indexCpuStart = ThreadCpuSeconds();
    manager->Init();
    qint64 longestWait = 0, longestAt = 0, last = walkStart, indexed = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (now - last > longestWait) {
            longestWait = now - last;
            longestAt = now;
        }
        last = now;
        if (walkEnd && !manager->IsScanning() && !indexed) {
            indexed = now;
            app.quit();
        }
    });
    tick.start();
    app.exec();
    // What the merge left to free is freed on a worker.
    QThreadPool::globalInstance()->waitForDone();
    const double indexCpu = ThreadCpuSeconds() - indexCpuStart;
    // A tree cut short (a memory file system out of inodes) would give
    // figures for fewer files than asked.
    if (d.GetType("shared_file")->Count() != size_t(files)) {
        std::fprintf(stderr, "only %zu of %ld files were indexed: no figures\n", d.GetType("shared_file")->Count(),
            files);
        delete manager;
        return 1;
    }
    Print("shares.find_walk", scale, findSeconds, "s");
    Print("shares.first_index", scale, (indexed - walkStart) / 1e9, "s");
    std::fprintf(stderr, "first index / find walk: %.2f\n", (indexed - walkStart) / 1e9 / findSeconds);
    Print("shares.walk", scale, (walkEnd - walkStart) / 1e9, "s");
    std::fprintf(stderr, "processor time: scanner thread %.2f s, event loop thread %.2f s\n", walkCpu.load(), indexCpu);
    Print("shares.index", scale, (indexed - walkEnd) / 1e9, "s");
    Print("shares.index_longest_slice", scale, longestWait / 1e6, "ms");
    std::fprintf(stderr, "the longest wait ended %.2f s after the walk began (the walk ended at %.2f s); the "
                         "longest event: %.1f ms, %s\n",
        (longestAt - walkStart) / 1e9, (walkEnd - walkStart) / 1e9, app.longest / 1e6, app.where.c_str());
    // The MP3 files the merge asked the scanner to read wait in its queue
    // until the walk is over, each request with its list of paths: how many
    // are left when the merge ends depends on timing, and none of it is the
    // index's. Weighed once the scanner has gone through them.
    QMetaObject::invokeMethod(manager->Scanner(), [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    malloc_trim(0);
    if (!cold)
        Print("shares.bytes_per_file", "", double(HeapBytes() - heapBefore) / double(files), "B");
    std::fprintf(stderr, "%zu items, %zu files, %zu folders, %zu tokens\n", d.ItemCount(),
        d.GetType("shared_file")->Count(), d.GetType("shared_file_folder")->Count(),
        d.GetType("search_token")->Count());

    // Where the bytes are: per type, items, their value text on the heap and
    // their connection maps.
    for (Type* type : d.Types()) {
        if (type->Count() < size_t(files / 100))
            continue;
        size_t text = 0, links = 0;
        for (ChunkedSet::Position p; type->Items().Valid(p); type->Items().Advance(p)) {
            const Item* item = type->Items().At(p);
            text += item->value.capacity() > 15 ? item->value.capacity() + 1 : 0;
            links += item->connections.MemoryBytes();
        }
        std::fprintf(stderr, "  %-36s %9zu items, %6.1f B text, %7.1f B links per item\n",
            type->Name().c_str(), type->Count(), double(text) / double(type->Count()),
            double(links) / double(type->Count()));
    }
    std::fprintf(stderr, "  sizeof(Item) %zu\n", sizeof(Item));
    if (indexOnly) {
        delete manager;
        return 0;
    }

    std::vector<double> micros;
    size_t answered = 0;
    for (const auto& [a, b] : tree.queries) {
        const QString query = QString::fromStdString(a + " " + b);
        MemStream message;
        QElapsedTimer one;
        one.start();
        answered += manager->BuildSearchReply("member", 1, query, message);
        micros.push_back(one.nsecsElapsed() / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty())
        Print("shares.search", (std::string(scale) + "_median").c_str(), micros[micros.size() / 2], "us");
    std::fprintf(stderr, "%zu of %zu queries answered\n", answered, micros.size());
    {
        // How much of a reply is zlib: level 9 on a reply-sized body.
        const QByteArray small(600, 'r');
        std::vector<double> zlib;
        for (int k = 0; k < 200; ++k) {
            QElapsedTimer one;
            one.start();
            Deflate(small);
            zlib.push_back(one.nsecsElapsed() / 1000.0);
        }
        std::sort(zlib.begin(), zlib.end());
        std::fprintf(stderr, "zlib level 9 on 600 bytes: median %.1f us\n", zlib[zlib.size() / 2]);
    }

    // A peer's request for a share list, as the peer network makes it: from
    // the request to the list being ready, with the event loop running, and
    // the longest time the loop was kept waiting meanwhile.
    auto timeRequest = [&](const QString& user, double& longestStallMs) {
        QElapsedTimer timer;
        timer.start();
        MemStream ready;
        manager->RequestSharedFilesMessage(user, ready);
        qint64 lastTick = timer.nsecsElapsed(), longest = lastTick;
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const qint64 now = timer.nsecsElapsed();
            longest = std::max(longest, now - lastTick);
            lastTick = now;
            if (manager->IsShareListReady(user))
                app.quit();
        });
        if (!manager->IsShareListReady(user)) {
            poll.start();
            app.exec();
        }
        longestStallMs = longest / 1e6;
        return timer.nsecsElapsed() / 1e9;
    };

    // The stranger sees the public tenth only.
    const char* listScale = files == 1000000 ? "_100k" : "";
    double strangerStallMs = 0;
    const double buildSeconds = timeRequest("stranger", strangerStallMs);
    MemStream list;
    manager->RequestSharedFilesMessage("stranger", list);
    FileInfoMap share;
    AttributeTranslationTable table;
    manager->GetSharedFilesAsUserShare("stranger", share, table);
    MemStream body;
    share.Write(body);
    table.Write(body);
    const QByteArray bytes = body.GetBuffer();
    QElapsedTimer compress;
    compress.start();
    const QByteArray packed = Deflate(bytes);
    const double compressSeconds = compress.nsecsElapsed() / 1e9;
    Print("shares.share_list", (std::string(listScale) + "_build").c_str(), buildSeconds, "s");
    Print("shares.share_list", (std::string(listScale) + "_compress_only").c_str(), compressSeconds, "s");
    QElapsedTimer again;
    again.start();
    manager->GetSharedFilesMessage("stranger");
    Print("shares.share_list", (std::string(listScale) + "_cached").c_str(), again.nsecsElapsed() / 1e9, "s");
    std::fprintf(stderr, "share list: %zu folders, %lld body bytes, %lld compressed, longest stall %.1f ms\n",
        share.size(), qlonglong(bytes.size()), qlonglong(list.Size()), strangerStallMs);

    // A member of the user list sees every file.
    const std::string memberScale = std::string(scale) + "_member";
    double memberStallMs = 0;
    const double memberSeconds = timeRequest("member", memberStallMs);
    Print("shares.share_list", (memberScale + "_build").c_str(), memberSeconds, "s");
    Print("shares.share_list", (memberScale + "_longest_stall").c_str(), memberStallMs, "ms");

    delete manager;
    return 0;
}
