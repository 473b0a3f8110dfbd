// The search-query parser and the result-filter language.
#include "store/Data.h"
#include "store/FilterParser.h"
#include "store/SearchParser.h"
#include <QtTest>

namespace {
QStringList Sorted(const QSet<QString>& set)
{
    QStringList list(set.begin(), set.end());
    list.sort();
    return list;
}

// A store with a result type and the attribute types that the share and search
// pages declare in the program.
struct ResultStore {
    Data data;
    Type* result;
    ResultStore()
    {
        result = data.NewType("search_result", kEntity, false, true);
        for (const char* name : { "bitrate_mode", "bitrate", "file_size" })
            result->RelateToType(data.NewType(name, kAttribute, false, true), Many, One);
    }
    ItemPtr Result(const char* name, const char* mode, const char* bitrate, const char* size)
    {
        ItemPtr item = result->NewItem(name);
        if (mode)
            item += data.GetType("bitrate_mode")->GetItem(mode);
        if (bitrate)
            item += data.GetType("bitrate")->GetItem(bitrate);
        if (size)
            item += data.GetType("file_size")->GetItem(size);
        return item;
    }
};

FilterParser Parsed(const QString& text)
{
    FilterParser f;
    f.Parse(text);
    return f;
}
}

class TestParsers : public QObject {
    Q_OBJECT

private slots:
    void searchWordsAndPrefixes();
    void searchQuotedGroups();
    void searchNeedsAWordToLookFor();
    void filterKeywords();
    void filterNumbers();
    void filterWithoutRemainder();
    void filterConditionsOnItem();
    void filterConditionsWithoutAttributeTypes();
    void filterRemainderConsumesWords();
    void filterFailureCopiesNothing();
    void filterWalkDownFolders();
};

void TestParsers::searchWordsAndPrefixes()
{
    SearchParser p;
    QVERIFY(p.SetSearchText(QStringLiteral("Pink\tFLOYD  -Live *wal -  *")));
    QCOMPARE(Sorted(p.GetIncludedTokenSet()), QStringList({ "floyd", "pink" }));
    QCOMPARE(Sorted(p.GetIncludedPartTokenSet()), QStringList({ "wal" }));
    QCOMPARE(Sorted(p.GetExcludedTokenSet()), QStringList({ "live" }));
    // Only the leading character is a prefix.
    QVERIFY(p.SetSearchText(QStringLiteral("a-b c*d --e **f")));
    QCOMPARE(Sorted(p.GetIncludedTokenSet()), QStringList({ "a-b", "c*d" }));
    QCOMPARE(Sorted(p.GetExcludedTokenSet()), QStringList({ "-e" }));
    QCOMPARE(Sorted(p.GetIncludedPartTokenSet()), QStringList({ "*f" }));
    // A new query replaces the sets; repeated words count once.
    QVERIFY(p.SetSearchText(QStringLiteral("x X x")));
    QCOMPARE(Sorted(p.GetIncludedTokenSet()), QStringList({ "x" }));
    QVERIFY(p.GetExcludedTokenSet().isEmpty());
    QVERIFY(p.GetIncludedPartTokenSet().isEmpty());
}

void TestParsers::searchQuotedGroups()
{
    SearchParser p;
    QVERIFY(p.SetSearchText(QStringLiteral("\"Dark  Side\" moon -\"live set\" *\"the wa\" \"-kept\"")));
    QCOMPARE(Sorted(p.GetIncludedTokenSet()), QStringList({ "-kept", "dark  side", "moon" }));
    QCOMPARE(Sorted(p.GetExcludedTokenSet()), QStringList({ "live set" }));
    QCOMPARE(Sorted(p.GetIncludedPartTokenSet()), QStringList({ "the wa" }));
    // An unclosed quote runs to the end; an empty group is no word.
    QVERIFY(p.SetSearchText(QStringLiteral("a \"b c\td")));
    QCOMPARE(Sorted(p.GetIncludedTokenSet()), QStringList({ "a", "b c\td" }));
    QVERIFY(!p.SetSearchText(QStringLiteral("\"\" -\"\"")));
    QVERIFY(p.GetIncludedTokenSet().isEmpty());
    QVERIFY(p.GetExcludedTokenSet().isEmpty());
}

void TestParsers::searchNeedsAWordToLookFor()
{
    SearchParser p;
    QVERIFY(!p.SetSearchText(QString()));
    QVERIFY(!p.SetSearchText(QStringLiteral(" \t ")));
    QVERIFY(!p.SetSearchText(QStringLiteral("-live -bootleg")));
    QCOMPARE(p.GetExcludedTokenSet().size(), 2);
    QVERIFY(!p.SetSearchText(QStringLiteral("- * -")));
    // Partial words alone are enough for the parser.
    QVERIFY(p.SetSearchText(QStringLiteral("*floy -live")));
    QVERIFY(p.GetIncludedTokenSet().isEmpty());
}

void TestParsers::filterKeywords()
{
    FilterParser empty;
    QVERIFY(!empty.HasAttributes());
    QCOMPARE(empty.MinFilesInFolder(), 0);
    QCOMPARE(empty.IsMatching(QStringLiteral("anything"), nullptr, ItemPtr()), 0);

    FilterParser f = Parsed(QStringLiteral("  rock\t-live - isvbr ISVBR IsCbr mfif:3 -isvbr  "));
    QCOMPARE(f.Words(), QStringList({ "rock", "ISVBR", "IsCbr" }));
    QCOMPARE(f.ExcludedWords(), QStringList({ "live", "isvbr" }));
    QVERIFY(f.IsVbr());
    QVERIFY(!f.IsCbr());
    QVERIFY(f.HasAttributes());
    QCOMPARE(f.MinFilesInFolder(), 3);

    // Minimum files per folder is not an attribute condition; the long forms work.
    f = Parsed(QStringLiteral("minfilesinfolder:10"));
    QVERIFY(!f.HasAttributes());
    QCOMPARE(f.MinFilesInFolder(), 10);
    f = Parsed(QStringLiteral("minbitrate:192"));
    QCOMPARE(f.MinBitrate(), 192);
    QVERIFY(f.HasAttributes());
    f = Parsed(QStringLiteral("minfilesize:7"));
    QCOMPARE(f.MinFileSize(), qint64(7000000));
    QVERIFY(f.HasAttributes());
    QVERIFY(Parsed(QStringLiteral("iscbr")).HasAttributes());
    // Case matters for keywords: these are plain words.
    f = Parsed(QStringLiteral("MBR:128 Mfs:5 MFIF:2"));
    QCOMPARE(f.Words().size(), 3);
    QVERIFY(!f.HasAttributes());
    QCOMPARE(f.MinFilesInFolder(), 0);
    // Parsing again starts from an empty filter.
    f.Parse(QStringLiteral("other"));
    QCOMPARE(f.Words(), QStringList({ "other" }));
}

void TestParsers::filterNumbers()
{
    QCOMPARE(Parsed(QStringLiteral("mbr:abc")).MinBitrate(), 0);
    QCOMPARE(Parsed(QStringLiteral("mbr:")).MinBitrate(), 0);
    QCOMPARE(Parsed(QStringLiteral("mbr:12x")).MinBitrate(), 0);
    QCOMPARE(Parsed(QStringLiteral("mbr:99999999999")).MinBitrate(), 0);
    QVERIFY(!Parsed(QStringLiteral("mbr:abc mfs:x")).HasAttributes());
    QCOMPARE(Parsed(QStringLiteral("mfif:many")).MinFilesInFolder(), 0);
    // Sizes are megabytes in 64 bits, held at the top instead of overflowing.
    QCOMPARE(Parsed(QStringLiteral("mfs:5000")).MinFileSize(), Q_INT64_C(5000000000));
    QCOMPARE(Parsed(QStringLiteral("mfs:9223372036854")).MinFileSize(), Q_INT64_C(9223372036854000000));
    QCOMPARE(Parsed(QStringLiteral("mfs:9223372036855")).MinFileSize(), std::numeric_limits<qint64>::max());
    QCOMPARE(Parsed(QStringLiteral("mfs:-9223372036855")).MinFileSize(), std::numeric_limits<qint64>::min());
    // The last of repeated words wins.
    QCOMPARE(Parsed(QStringLiteral("mbr:320 minbitrate:128")).MinBitrate(), 128);
}

void TestParsers::filterWithoutRemainder()
{
    FilterParser f = Parsed(QStringLiteral("floyd MOON -live"));
    QCOMPARE(f.IsMatching(QStringLiteral("Pink Floyd\\Dark Side of the Moon"), nullptr, ItemPtr()), 0);
    // Substrings count, ignoring case.
    QCOMPARE(f.IsMatching(QStringLiteral("xFLOYDx moonlight"), nullptr, ItemPtr()), 0);
    QCOMPARE(f.IsMatching(QStringLiteral("Pink Floyd\\Wall"), nullptr, ItemPtr()), 1);
    QCOMPARE(f.IsMatching(QString(), nullptr, ItemPtr()), 1);
    // An excluded word decides before missing words do.
    QCOMPARE(f.IsMatching(QStringLiteral("Floyd moon LIVE"), nullptr, ItemPtr()), 2);
    QCOMPARE(f.IsMatching(QStringLiteral("oLiVEr"), nullptr, ItemPtr()), 2);
}

void TestParsers::filterConditionsOnItem()
{
    ResultStore s;
    ItemPtr vbr320 = s.Result("a", "vbr", "320", "9000000000");
    ItemPtr cbr96 = s.Result("b", "cbr", "96", "4000000");
    ItemPtr bare = s.Result("c", nullptr, nullptr, nullptr);
    const QString text = QStringLiteral("song");

    FilterParser vbr = Parsed(QStringLiteral("isvbr"));
    QCOMPARE(vbr.IsMatching(text, nullptr, vbr320), 0);
    QCOMPARE(vbr.IsMatching(text, nullptr, cbr96), 2);
    QCOMPARE(vbr.IsMatching(text, nullptr, bare), 2);
    // Without an item the conditions are not tested.
    QCOMPARE(vbr.IsMatching(text, nullptr, ItemPtr()), 0);
    FilterParser cbr = Parsed(QStringLiteral("iscbr"));
    QCOMPARE(cbr.IsMatching(text, nullptr, cbr96), 0);
    QCOMPARE(cbr.IsMatching(text, nullptr, vbr320), 2);
    QCOMPARE(Parsed(QStringLiteral("isvbr iscbr")).IsMatching(text, nullptr, vbr320), 2);

    // Bitrates compare as numbers ("96" sorts after "128" as text).
    FilterParser mbr = Parsed(QStringLiteral("mbr:128"));
    QCOMPARE(mbr.IsMatching(text, nullptr, cbr96), 2);
    QCOMPARE(mbr.IsMatching(text, nullptr, vbr320), 0);
    QCOMPARE(Parsed(QStringLiteral("mbr:96")).IsMatching(text, nullptr, cbr96), 0);
    QCOMPARE(Parsed(QStringLiteral("mbr:97")).IsMatching(text, nullptr, cbr96), 2);
    QCOMPARE(mbr.IsMatching(text, nullptr, bare), 2);

    // Sizes beyond 32 bits.
    QCOMPARE(Parsed(QStringLiteral("mfs:8999")).IsMatching(text, nullptr, vbr320), 0);
    QCOMPARE(Parsed(QStringLiteral("mfs:9000")).IsMatching(text, nullptr, vbr320), 0);
    QCOMPARE(Parsed(QStringLiteral("mfs:9001")).IsMatching(text, nullptr, vbr320), 2);
    QCOMPARE(Parsed(QStringLiteral("mfs:5")).IsMatching(text, nullptr, cbr96), 2);
    QCOMPARE(Parsed(QStringLiteral("mfs:4")).IsMatching(text, nullptr, cbr96), 0);

    // A failed condition gives 2 even when words are missing too.
    QCOMPARE(Parsed(QStringLiteral("missing mbr:128")).IsMatching(text, nullptr, cbr96), 2);
    QCOMPARE(Parsed(QStringLiteral("missing mbr:64")).IsMatching(text, nullptr, cbr96), 1);
}

void TestParsers::filterConditionsWithoutAttributeTypes()
{
    // A store where nobody declared the attribute types: no throw, and an item
    // without the attributes fails the conditions that need them.
    Data data;
    ItemPtr item = data.NewType("search_result", kEntity)->NewItem("x");
    QCOMPARE(Parsed(QStringLiteral("isvbr")).IsMatching(QStringLiteral("x"), nullptr, item), 2);
    QCOMPARE(Parsed(QStringLiteral("mbr:1")).IsMatching(QStringLiteral("x"), nullptr, item), 2);
    QCOMPARE(Parsed(QStringLiteral("mfs:1")).IsMatching(QStringLiteral("x"), nullptr, item), 2);
    QCOMPARE(Parsed(QStringLiteral("x -y mfif:2")).IsMatching(QStringLiteral("x"), nullptr, item), 0);
}

void TestParsers::filterRemainderConsumesWords()
{
    FilterParser f = Parsed(QStringLiteral("pink floyd wall -live isvbr mbr:128 mfs:3 mfif:4"));
    FilterParser rest = Parsed(QStringLiteral("stale -old iscbr"));
    QCOMPARE(f.IsMatching(QStringLiteral("Pink Floyd"), &rest, ItemPtr()), 1);
    QCOMPARE(rest.Words(), QStringList({ "wall" }));
    QCOMPARE(rest.ExcludedWords(), QStringList({ "live" }));
    QVERIFY(rest.IsVbr());
    QVERIFY(!rest.IsCbr());
    QCOMPARE(rest.MinBitrate(), 128);
    QCOMPARE(rest.MinFileSize(), qint64(3000000));
    QCOMPARE(rest.MinFilesInFolder(), 4);

    // Every word found: 0, with the conditions and excluded words still carried.
    QCOMPARE(f.IsMatching(QStringLiteral("PINK FLOYD - The WALL"), &rest, ItemPtr()), 0);
    QVERIFY(rest.Words().isEmpty());
    QCOMPARE(rest.ExcludedWords(), QStringList({ "live" }));
    QVERIFY(rest.HasAttributes());

    // Matching a filter into itself works on its own words.
    FilterParser self = Parsed(QStringLiteral("a b"));
    QCOMPARE(self.IsMatching(QStringLiteral("xax"), &self, ItemPtr()), 1);
    QCOMPARE(self.Words(), QStringList({ "b" }));
}

void TestParsers::filterFailureCopiesNothing()
{
    ResultStore s;
    ItemPtr cbr96 = s.Result("b", "cbr", "96", "4000000");
    FilterParser f = Parsed(QStringLiteral("rock -live mbr:128 mfif:2"));
    FilterParser rest = Parsed(QStringLiteral("stale -old isvbr mfif:9"));

    // A condition fails: 2, and the remainder is left empty.
    QCOMPARE(f.IsMatching(QStringLiteral("rock"), &rest, cbr96), 2);
    QVERIFY(rest.Words().isEmpty());
    QVERIFY(rest.ExcludedWords().isEmpty());
    QVERIFY(!rest.HasAttributes());
    QCOMPARE(rest.MinFilesInFolder(), 0);

    // An excluded word: the same, even before words are looked at.
    rest = Parsed(QStringLiteral("stale"));
    QCOMPARE(f.IsMatching(QStringLiteral("Live at Leeds"), &rest, ItemPtr()), 2);
    QVERIFY(rest.Words().isEmpty());
    QVERIFY(!rest.HasAttributes());
    QCOMPARE(rest.MinFilesInFolder(), 0);
}

void TestParsers::filterWalkDownFolders()
{
    // A folder name consumes its words; the files beneath are matched with what
    // is left, together with their items.
    ResultStore s;
    ItemPtr good = s.Result("01 Time.mp3", "vbr", "256", "8000000");
    ItemPtr poor = s.Result("02 Money.mp3", "vbr", "128", "8000000");
    FilterParser f = Parsed(QStringLiteral("floyd time mbr:192"));
    FilterParser rest;
    QCOMPARE(f.IsMatching(QStringLiteral("Pink Floyd"), &rest, ItemPtr()), 1);
    QCOMPARE(rest.IsMatching(QStringLiteral("01 Time.mp3"), nullptr, good), 0);
    QCOMPARE(rest.IsMatching(QStringLiteral("02 Money.mp3"), nullptr, poor), 2);
    QCOMPARE(rest.IsMatching(QStringLiteral("03 Us and Them.mp3"), nullptr, good), 1);
}

QTEST_GUILESS_MAIN(TestParsers)
#include "tst_parsers.moc"
