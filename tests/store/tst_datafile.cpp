// The data file: what is saved, how loading merges, and what happens to bad files.
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/MemStream.h"
#include "store/SaveSnapshot.h"
#include <QtTest>
#include <csignal>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct Recorder : DataLoadedEventHandler {
    QStringList* calls;
    explicit Recorder(QStringList* c)
        : calls(c)
    {
    }
    void DataLoaded() override { *calls << "DataLoaded"; }
    void NoData() override { *calls << "NoData"; }
};

// A small schema as the managers declare it.
struct Schema {
    Data data;
    DataSaver saver { &data };
    Type *user, *inList, *group, *global, *value, *ticket, *pass;
    Schema()
    {
        user = data.NewType("user", kEntity);
        inList = data.NewType("in_user_list", kAttribute, true, false);
        group = data.NewType("user_list_group", kEntity);
        global = data.NewType("global", kEntity);
        value = data.NewType("global_value", kAttribute);
        ticket = data.NewType("ticket", kAttribute);
        pass = data.NewType("pass", kAttribute, true, false);
        user->RelateToType(inList, One, One);
        user->RelateToType(group, Many, Many);
        global->RelateToType(value, Many, One);
        user->RelateToType(ticket, Many, One);
        user->RelateToType(pass, Many, Many);
        for (const std::string& type : whole)
            saver.AddSavedType(type);
        for (const auto& [type, others] : some)
            for (const std::string& other : others)
                saver.AddSavedByConnectionType(type, other);
    }
    const std::vector<std::string> whole { "in_user_list", "global", "user_list_group", "pass" };
    const std::map<std::string, std::vector<std::string>> some { { "user", { "in_user_list", "user_list_group" } },
        { "global_value", { "global" } } };
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// True when the call throws the exception (by value, as the data file does).
template <class Exception, class Call> bool Throws(Call call)
{
    try {
        call();
    } catch (Exception) {
        return true;
    }
    return false;
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

// The permission bits of the file or folder, or -1.
int Mode(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
}

class TestDataFile : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void savesWhatWasAskedAndNothingElse();
    void loadMergesIntoDefaultsWithEvents();
    void noFileTellsDataLoadedThenNoData();
    void malformedFilesAreKeptAside_data();
    void malformedFilesAreKeptAside();
    void unreadableFileIsKeptToo();
    void failedSaveLeavesOldFileWhole();
    void everyCopyIsTheUsersAlone();
    void bigTypesAndHubsSpanRecords();
    void longValuesAreSavedWhole();
    void storedItemsMergeByOneRule();
    void aSaveReadInSlicesHoldsItsMoment();
    void defaultPathIsInHome();

private:
    QString Path() const { return m_dir->filePath(".Marrowby"); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestDataFile::savesWhatWasAskedAndNothingElse()
{
    {
        Schema s;
        ItemPtr ann = s.user->GetItem("ann");
        ann.NewItem("in_user_list");
        ann += s.ticket->GetItem("7"); // ticket is not saved
        ItemPtr bob = s.user->GetItem(QString::fromUtf8("bøb"));
        bob += s.group->GetItem("friends");
        s.user->GetItem("stranger"); // in no list: not saved
        s.global->GetItem("upload_slots") += s.value->GetItem("3");
        s.value->GetItem("orphan");
        // Null items before and after the flag item, in one record.
        ItemPtr carol = s.user->GetItem("carol");
        carol.NewItem("in_user_list");
        carol += s.pass->NewItem();
        ann += s.pass->GetGlobalNullItem();
        bob += s.pass->NewItem();
        s.saver.Save(Path());
        // Another data file, read ahead but never loaded.
        s.user->GetItem("other").NewItem("in_user_list");
        s.saver.Save(Path() + ".other");
    }
    DataSaver::Prefetch(Path() + ".other");
    Schema t;
    QStringList calls;
    Recorder r(&calls);
    t.saver.Load(Path());
    QCOMPARE(calls, QStringList { "DataLoaded" });
    QVERIFY(t.user->HasItem("ann").IsConnected("in_user_list"));
    QVERIFY(t.user->HasItem(QString::fromUtf8("bøb")).IsConnected(t.group->HasItem("friends")));
    QVERIFY(t.user->HasItem("stranger").IsNull());
    QVERIFY(t.user->HasItem("other").IsNull());
    QVERIFY(t.ticket->HasItem("7").IsNull());
    QVERIFY(!t.user->HasItem("ann").IsConnected("ticket"));
    QCOMPARE(t.global->HasItem("upload_slots")["global_value"].AsInt(), 3);
    QVERIFY(t.value->HasItem("orphan").IsNull());
    // The flag item stays the one flag item; other null items are records.
    QVERIFY(t.user->HasItem("ann").IsConnected(t.pass->GetGlobalNullItem()));
    QVERIFY(t.user->HasItem(QString::fromUtf8("bøb")).IsConnected("pass"));
    QVERIFY(!t.user->HasItem(QString::fromUtf8("bøb")).IsConnected(t.pass->GetGlobalNullItem()));
    QVERIFY(t.user->HasItem("carol").IsConnected("pass"));
    QVERIFY(!t.user->HasItem("carol").IsConnected(t.pass->GetGlobalNullItem()));
    QVERIFY(t.user->HasItem("carol")["pass"] != t.user->HasItem(QString::fromUtf8("bøb"))["pass"]);
    QCOMPARE(t.pass->Count(), size_t(3));
}

void TestDataFile::loadMergesIntoDefaultsWithEvents()
{
    {
        Schema s;
        s.global->GetItem("upload_slots") += s.value->GetItem("5");
        s.saver.Save(Path());
    }
    Schema t;
    // A default written before the load...
    t.global->GetItem("upload_slots") += t.value->GetItem("2");
    t.global->GetItem("download_folder") += t.value->GetItem("/tmp/x");
    QStringList seen;
    DataHandler h;
    h.SubscribeFunction(t.global->connected, [&](ConnectionInfo& c) {
        seen << QString::fromStdString(c.first.AsStdString() + "=" + c.second.AsStdString());
    });
    t.saver.Load(Path());
    // ...is replaced by the stored value, and the handler saw it happen.
    QCOMPARE(t.global->HasItem("upload_slots")["global_value"].AsInt(), 5);
    QCOMPARE(t.global->HasItem("download_folder")["global_value"].AsStdString(), std::string("/tmp/x"));
    QCOMPARE(seen, QStringList { "upload_slots=5" });
    QCOMPARE(t.global->Count(), size_t(2));
}

void TestDataFile::noFileTellsDataLoadedThenNoData()
{
    Schema s;
    QStringList calls;
    Recorder a(&calls), b(&calls);
    s.saver.Load(Path());
    QCOMPARE(calls, (QStringList { "DataLoaded", "DataLoaded", "NoData", "NoData" }));
    // A leftover of a cut save is cleared away.
    WriteAll(Path() + ".tmp4242", "half");
    calls.clear();
    s.saver.Load(Path());
    QVERIFY(!QFile::exists(Path() + ".tmp4242"));
}

void TestDataFile::malformedFilesAreKeptAside_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<QByteArray>("patch");
    QTest::newRow("garbage") << -1 << QByteArray("not a data file at all");
    QTest::newRow("empty") << -1 << QByteArray();
    QTest::newRow("cut in an item") << 30 << QByteArray();
    QTest::newRow("no end record") << -2 << QByteArray();
    QTest::newRow("trailing bytes") << -3 << QByteArray("xx");
    // The last connection (just before the end record) names item 1000 of 4.
    QTest::newRow("connection past the items") << -4 << QByteArray("\xe8\x03\x00\x00", 4);
    // The record of both connections counts 1000: more than the bytes left.
    QTest::newRow("connection count past the end") << -5 << QByteArray("\xe8\x03\x00\x00", 4);
}

void TestDataFile::malformedFilesAreKeptAside()
{
    QFETCH(int, cut);
    QFETCH(QByteArray, patch);
    {
        Schema s;
        s.user->GetItem("ann").NewItem("in_user_list");
        s.global->GetItem("a") += s.value->GetItem("1");
        s.saver.Save(Path());
    }
    QByteArray good = ReadAll(Path());
    QByteArray bad = good;
    if (cut == -1)
        bad = patch;
    else if (cut == -2)
        bad.chop(9);
    else if (cut == -3)
        bad += patch;
    else if (cut == -4)
        bad.replace(bad.size() - 9 - 8, 4, patch);
    else if (cut == -5)
        bad.replace(bad.size() - 9 - 16 - 4, 4, patch);
    else
        bad.truncate(cut);
    WriteAll(Path(), bad);
    // Read ahead or not, a bad file is found out.
    DataSaver::Prefetch(Path());

    Schema t;
    t.global->GetItem("a") += t.value->GetItem("default");
    QStringList calls;
    Recorder r(&calls);
    QVERIFY(Throws<DataLoadFailure>([&] { t.saver.Load(Path()); }));
    QCOMPARE(calls, (QStringList { "DataLoaded", "NoData" }));
    if (cut == -5) // found before any read past the end
        QCOMPARE(t.saver.LastError(), QStringLiteral("a connection record is cut"));
    // Nothing of the bad file reached the store; the defaults stand.
    QVERIFY(t.user->HasItem("ann").IsNull());
    QCOMPARE(t.global->HasItem("a")["global_value"].AsStdString(), std::string("default"));
    // The bad file is kept, byte for byte, under a new name.
    QVERIFY(!QFile::exists(Path()));
    QVERIFY(!t.saver.KeptAsidePath().isEmpty());
    QCOMPARE(ReadAll(t.saver.KeptAsidePath()), bad);
    // Saving now writes a fresh file and leaves the kept one alone.
    t.saver.Save(Path());
    QCOMPARE(ReadAll(t.saver.KeptAsidePath()), bad);
    QFile::remove(t.saver.KeptAsidePath());
}

void TestDataFile::unreadableFileIsKeptToo()
{
    // A folder where the file should be: it exists but can't be read.
    QVERIFY(QDir().mkpath(Path()));
    WriteAll(Path() + "/inside", "keep me");
    Schema s;
    QStringList calls;
    Recorder r(&calls);
    QVERIFY(Throws<DataLoadFailure>([&] { s.saver.Load(Path()); }));
    QCOMPARE(calls, (QStringList { "DataLoaded", "NoData" }));
    QCOMPARE(ReadAll(s.saver.KeptAsidePath() + "/inside"), QByteArray("keep me"));
    QDir(s.saver.KeptAsidePath()).removeRecursively();
}

void TestDataFile::failedSaveLeavesOldFileWhole()
{
    Schema s;
    s.global->GetItem("a") += s.value->GetItem("1");
    s.saver.Save(Path());
    QByteArray before = ReadAll(Path());
    s.global->GetItem("a") += s.value->GetItem("2");
    // The temporary file can't be made.
    QString temp = Path() + ".tmp" + QString::number(QCoreApplication::applicationPid());
    QVERIFY(QDir().mkpath(temp + "/blocker"));
    QVERIFY(Throws<DataSaveFailure>([&] { s.saver.Save(Path()); }));
    QCOMPARE(ReadAll(Path()), before);
    QDir(temp).removeRecursively();
    // Writing fails half way (the disk is full): the cut temporary file is
    // never renamed over the data file.
    s.global->GetItem("b") += s.value->GetItem(Value(std::string(1 << 20, 'b')));
    rlimit old;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const rlimit small { 64 * 1024, old.rlim_max };
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool failed = Throws<DataSaveFailure>([&] { s.saver.Save(Path()); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    QVERIFY(failed);
    QCOMPARE(ReadAll(Path()), before);
    QVERIFY(!QFile::exists(temp));
#if !defined(__SANITIZE_ADDRESS__)
    // No memory for the bytes of a background save (its allocator would
    // abort under the address sanitizer): nothing is committed.
    for (const char* name : { "c", "d", "e", "f" })
        s.global->GetItem(name) += s.value->GetItem(Value(std::string(15 << 20, *name)));
    QFile statm("/proc/self/statm");
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const rlim_t used = statm.readAll().split(' ').first().toULongLong() * rlim_t(::sysconf(_SC_PAGESIZE));
    QCOMPARE(::getrlimit(RLIMIT_AS, &old), 0);
    const rlimit tight { used + (24 << 20), old.rlim_max };
    QCOMPARE(::setrlimit(RLIMIT_AS, &tight), 0);
    bool saved = true;
    s.saver.SaveInBackground(Path(), [&](bool ok) { saved = ok; });
    ::setrlimit(RLIMIT_AS, &old);
    s.saver.FinishBackgroundSave();
    QVERIFY(!saved && s.saver.LastError().contains("memory"));
    QCOMPARE(ReadAll(Path()), before);
#endif
    // A file where its folder should be.
    WriteAll(m_dir->filePath("file"), "x");
    QVERIFY(Throws<DataSaveFailure>([&] { s.saver.Save(m_dir->filePath("file/folder/.Marrowby")); }));
    QVERIFY(s.saver.LastError().contains("file/folder"));
}

void TestDataFile::everyCopyIsTheUsersAlone()
{
    // The file holds the password, whatever the user's mask lets others read.
    const mode_t mask = ::umask(022);
    Schema s;
    s.global->GetItem("password") += s.value->GetItem("secret");
    // An older file that others could read is tightened by the next save.
    WriteAll(Path(), "older");
    QVERIFY(QFile::setPermissions(
        Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    s.saver.Save(Path());
    QCOMPARE(Mode(Path()), 0600);
    // A missing folder is made, the user's alone.
    s.saver.Save(m_dir->filePath("new/home/.Marrowby"));
    QCOMPARE(Mode(m_dir->filePath("new")), 0700);
    QCOMPARE(Mode(m_dir->filePath("new/home")), 0700);
    QCOMPARE(Mode(m_dir->filePath("new/home/.Marrowby")), 0600);
    // A damaged file kept aside is the user's alone too.
    WriteAll(Path(), "damaged");
    QVERIFY(QFile::setPermissions(Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    Schema t;
    QVERIFY(Throws<DataLoadFailure>([&] { t.saver.Load(Path()); }));
    QCOMPARE(Mode(t.saver.KeptAsidePath()), 0600);
    ::umask(mask);
}

// Names of every length from short to past the pooled blocks', in one run.
static std::string SpanName(int k) { return std::string(size_t(k % 300), char('a' + k % 26)) + std::to_string(k); }

void TestDataFile::bigTypesAndHubsSpanRecords()
{
    const int n = 140000; // more than one record's worth
    {
        Schema s;
        ItemPtr hub = s.group->GetItem("everyone");
        for (int k = 0; k < n; ++k) {
            ItemPtr user = s.user->GetItem(SpanName(k));
            user += hub;
            user += s.pass->NewItem(); // null items, made beside the rest
        }
        s.saver.Save(Path());
    }
    DataSaver::Prefetch(Path());
    Schema t;
    t.saver.Load(Path());
    QCOMPARE(t.user->Count(), size_t(n));
    QCOMPARE(t.pass->Count(), size_t(n));
    QCOMPARE(t.data.ItemCount(), size_t(2 * n + 1));
    QCOMPARE(t.group->HasItem("everyone").CountItems("user"), size_t(n));
    // Items made right after the load take room beside the loaded ones.
    for (int k = 0; k < 10000; ++k)
        t.user->GetItem("new " + std::to_string(k)) += t.pass->NewItem();
    for (int k = 0; k < 10000; ++k) {
        ItemPtr user = t.user->HasItem("new " + std::to_string(k));
        QVERIFY(user.GetType() == t.user && user["pass"] && user["pass"].CountItems("user") == 1);
    }
    quint64 previous = 0;
    for (int k = 0; k < n; ++k) {
        ItemPtr user = t.user->HasItem(SpanName(k));
        QVERIFY2(user.IsConnected("user_list_group"), SpanName(k).c_str());
        // Each its own null item, in the order they were made.
        ItemPtr pass = user["pass"];
        QVERIFY(pass && pass.CountItems("user") == 1);
        QVERIFY(pass.Serial() > previous && pass.Serial() != user.Serial());
        previous = pass.Serial();
    }
    // The loaded items' storage is given back and taken again as any other.
    for (int k = 0; k < n; k += 2) {
        ItemPtr user = t.user->HasItem(SpanName(k));
        user["pass"].Remove();
        user.Remove();
    }
    for (int k = 0; k < n; k += 2)
        t.user->GetItem(SpanName(k) + "x") += t.pass->NewItem();
    for (int k = 0; k < n; ++k) {
        ItemPtr user = t.user->HasItem(k % 2 ? SpanName(k) : SpanName(k) + "x");
        QVERIFY(user);
        QVERIFY(user["pass"] && user["pass"].CountItems("user") == 1);
    }
    QCOMPARE(t.pass->Count(), size_t(n + 10000));
}

void TestDataFile::longValuesAreSavedWhole()
{
    // A long user description survives a restart byte for byte.
    QByteArray description;
    for (int k = 0; description.size() < 200 * 1024; ++k)
        description += QByteArray::number(k) + (k % 50 ? " words " : "\n");
    {
        Schema s;
        s.global->GetItem("user_description") += s.value->GetItem(Value(description.toStdString()));
        s.global->GetItem("upload_slots") += s.value->GetItem("4");
        s.saver.Save(Path());
    }
    {
        Schema t;
        t.saver.Load(Path());
        QCOMPARE(QByteArray::fromStdString(t.global->HasItem("user_description")["global_value"].AsStdString()),
            description);
        QCOMPARE(t.global->HasItem("upload_slots")["global_value"].AsInt(), 4);
    }
    // Past the hard limit the value is refused and the save says so; the
    // rest is saved all the same.
    Schema s;
    const std::string huge(size_t(DataSaver::kMaxSavedValue) + 1, 'h');
    s.global->GetItem("user_description") += s.value->GetItem(Value(huge));
    s.global->GetItem("upload_slots") += s.value->GetItem("6");
    QVERIFY(Throws<DataSaveFailure>([&] { s.saver.Save(Path()); }));
    QVERIFY(s.saver.LastError().contains("could not be saved"));
    Schema t;
    t.saver.Load(Path());
    QCOMPARE(t.global->HasItem("upload_slots")["global_value"].AsInt(), 6);
    QVERIFY(!t.global->HasItem("user_description")["global_value"]);
}

void TestDataFile::storedItemsMergeByOneRule()
{
    // Two saved items of one value stay two, whether or not the store held
    // an item of that value before the load; such an item is taken over.
    {
        Schema s;
        s.saver.AddSavedByConnectionType("ticket", "user");
        ItemPtr ann = s.user->GetItem("ann");
        ann.NewItem("in_user_list");
        ItemPtr bob = s.user->GetItem("bob");
        bob.NewItem("in_user_list");
        ann += s.ticket->NewItem("7");
        bob += s.ticket->NewItem("7");
        s.saver.Save(Path());
    }
    for (bool heldBefore : { false, true }) {
        Schema t;
        ItemPtr earlier;
        if (heldBefore)
            earlier = t.ticket->GetItem("7");
        t.saver.Load(Path());
        ItemPtr ann = t.user->HasItem("ann")["ticket"];
        ItemPtr bob = t.user->HasItem("bob")["ticket"];
        QVERIFY(ann && bob);
        QVERIFY2(ann != bob, heldBefore ? "held before" : "empty store");
        QCOMPARE(t.ticket->Count(), size_t(2));
        if (heldBefore) {
            QVERIFY(ann == earlier || bob == earlier);
            continue;
        }
        // A lookup finds the first in file order, then the other once it is gone.
        QCOMPARE(t.ticket->HasItem("7"), ann);
        ann.Remove();
        QCOMPARE(t.ticket->HasItem("7"), bob);
    }
}

// A save read a slice at a time writes the store of the moment it began, byte
// for byte as a save at that moment, whatever is made, connected, dropped or
// removed between the slices, before or after the save read it.
void TestDataFile::aSaveReadInSlicesHoldsItsMoment()
{
    Schema s;
    const int n = 3000;
    auto name = [](int k) { return "u" + std::to_string(k); };
    for (int k = 0; k < n; ++k) {
        ItemPtr user = s.user->GetItem(name(k));
        if (k % 3 == 0)
            user.NewItem("in_user_list");
        else if (k % 3 == 1)
            user += s.group->GetItem("g" + std::to_string(k % 40));
        if (k % 5 == 0)
            user += k % 10 ? s.pass->NewItem() : s.pass->GetGlobalNullItem();
    }
    s.global->GetItem("upload_slots") += s.value->GetItem("3");
    s.saver.Save(Path());
    const QByteArray moment = ReadAll(Path());

    std::mt19937 random(7);
    auto some = [&] { return s.user->HasItem(name(int(random() % (n + 100)))); };
    MemStream out;
    int slices = 0;
    {
        SaveSnapshot snapshot(&s.data, s.whole, s.some);
        while (!snapshot.Run(out, QDeadlineTimer(0))) {
            ++slices;
            ItemPtr user = some();
            switch (slices % 7) {
            case 0:
                user.Remove();
                break;
            case 1: // now saved, or saved still
                user += s.group->GetItem("g" + std::to_string(random() % 50));
                break;
            case 2: // not saved any more
                if (user)
                    user.Disconnect("in_user_list");
                user.Disconnect("user_list_group");
                break;
            case 3:
                s.user->GetItem("new" + std::to_string(slices)).NewItem("in_user_list");
                break;
            case 4: // a group and its members' connections
                s.group->HasItem("g" + std::to_string(random() % 40)).Remove();
                break;
            case 5:
                s.pass->GetGlobalNullItem().Remove();
                break;
            default:
                user += s.pass->NewItem();
                s.global->GetItem("upload_slots") += s.value->GetItem(std::to_string(slices));
            }
        }
    }
    QVERIFY2(slices > 100, qPrintable(QString::number(slices)));
    QCOMPARE(out.GetBuffer(), moment);
    // Nothing of the save is left on the items: the next one is whole too.
    s.saver.Save(Path());
    Schema t;
    t.saver.Load(Path());
    size_t saved = 0;
    for (ItemPtr user : s.user->GetItems()) {
        if (!user.IsConnected("in_user_list") && !user.IsConnected("user_list_group"))
            continue;
        ++saved;
        ItemPtr loaded = t.user->HasItem(user.AsStdString());
        QVERIFY(loaded && loaded["user_list_group"].AsStdString() == user["user_list_group"].AsStdString());
    }
    QCOMPARE(t.user->Count(), saved);

    // A save asked for while a background save writes its file waits for
    // that file (the earlier outcome is known when it returns), and what it
    // wrote, the later state, stays.
    Schema small;
    small.global->GetItem("upload_slots") += small.value->GetItem("older");
    int earlier = -1;
    small.saver.SaveInBackground(Path(), [&](bool ok) { earlier = ok; });
    small.global->GetItem("upload_slots") += small.value->GetItem("newer");
    QVERIFY(!Throws<DataSaveFailure>([&] { small.saver.Save(Path()); }));
    QCOMPARE(earlier, 1);
    small.saver.FinishBackgroundSave();
    Schema later;
    later.saver.Load(Path());
    QCOMPARE(later.global->GetItem("upload_slots")["global_value"].AsString(), QString("newer"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList { ".Marrowby" });
}

void TestDataFile::defaultPathIsInHome()
{
    QCOMPARE(DataSaver::DefaultPath(), QDir::homePath() + "/.Marrowby");
}

QTEST_GUILESS_MAIN(TestDataFile)
#include "tst_datafile.moc"
