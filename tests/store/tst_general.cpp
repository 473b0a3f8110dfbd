// Path, number and text helpers.
#include "store/GeneralFunctions.h"
#include <QtTest>
#include <limits>

class TestGeneral : public QObject {
    Q_OBJECT

private slots:
    void fileNameAndFolder();
    void parentFolder();
    void absoluteFileNameAndExtension();
    void stringReplace();
    void bits();
    void commafy();
    void formatSeconds();
    void reversePathname();
    void escapeAndLinks();
};

void TestGeneral::fileNameAndFolder()
{
    QCOMPARE(GetFileName("music\\rock\\song.mp3"), std::string("song.mp3"));
    QCOMPARE(GetFolder("music\\rock\\song.mp3"), std::string("music\\rock"));
    QCOMPARE(GetFileName("/home/me/a.txt"), std::string("a.txt"));
    QCOMPARE(GetFolder("music/rock\\x"), std::string("music/rock"));
    // One trailing separator is dropped first.
    QCOMPARE(GetFileName("music\\rock\\"), std::string("rock"));
    QCOMPARE(GetFolder("music\\rock\\"), std::string("music"));
    QCOMPARE(GetFileName("music\\rock\\\\"), std::string(""));
    QCOMPARE(GetFolder("music\\rock\\\\"), std::string("music\\rock"));
    // No separator: the whole text.
    QCOMPARE(GetFileName("song.mp3"), std::string("song.mp3"));
    QCOMPARE(GetFolder("song.mp3"), std::string("song.mp3"));
    QCOMPARE(GetFileName("rock\\"), std::string("rock"));
    QCOMPARE(GetFolder("rock\\"), std::string("rock"));
    // Empty and separator-only paths.
    QCOMPARE(GetFileName(""), std::string());
    QCOMPARE(GetFolder(""), std::string());
    QCOMPARE(GetFileName("\\"), std::string());
    QCOMPARE(GetFolder("\\a"), std::string());
    QCOMPARE(GetFileName("\\a"), std::string("a"));
}

void TestGeneral::parentFolder()
{
    QCOMPARE(GetParentFolder("c:\\music\\rock"), std::string("c:\\music"));
    QCOMPARE(GetParentFolder("c:\\music\\rock\\\\\\"), std::string("c:\\music"));
    QCOMPARE(GetParentFolder("music"), std::string("music"));
    QCOMPARE(GetParentFolder(""), std::string());
    QCOMPARE(GetParentFolder("\\\\"), std::string());
    QCOMPARE(GetParentFolder("/home/me"), std::string("/home"));
}

void TestGeneral::absoluteFileNameAndExtension()
{
    QCOMPARE(GetAbsoluteFileName(QStringLiteral("C:\\Music\\ÄBC\\")), QStringLiteral("c:\\music\\äbc"));
    QCOMPARE(GetAbsoluteFileName(QStringLiteral("/Home/Me//")), QStringLiteral("/home/me/"));
    QCOMPARE(GetAbsoluteFileName(QString()), QString());
    QCOMPARE(GetAbsoluteFileName(QStringLiteral("/")), QString());

    QCOMPARE(GetFileExtension("Song.Live.MP3"), std::string("mp3"));
    QCOMPARE(GetFileExtension("noext"), std::string());
    QCOMPARE(GetFileExtension("trailing."), std::string());
    QCOMPARE(GetFileExtension(""), std::string());
    // Only ASCII letters change; other bytes stay as they are.
    QCOMPARE(GetFileExtension("x.\xC3\x84Z1"), std::string("\xC3\x84z1"));
}

void TestGeneral::stringReplace()
{
    QCOMPARE(StringReplace("a/b/c", "/", "\\"), std::string("a\\b\\c"));
    // The inserted text is not searched again.
    QCOMPARE(StringReplace("aaa", "a", "aa"), std::string("aaaaaa"));
    QCOMPARE(StringReplace("abab", "ab", ""), std::string(""));
    QCOMPARE(StringReplace("aaaa", "aa", "a"), std::string("aa"));
    QCOMPARE(StringReplace("", "a", "b"), std::string());
    QCOMPARE(StringReplace("abc", "x", "y"), std::string("abc"));
    // An empty pattern changes nothing (and must not loop).
    QCOMPARE(StringReplace("abc", "", "x"), std::string("abc"));
}

void TestGeneral::bits()
{
    QVERIFY(GetBit(1u, 1));
    QVERIFY(!GetBit(1u, 2));
    QVERIFY(GetBit(0x80000000u, 32));
    QVERIFY(!GetBit(0x7FFFFFFFu, 32));
    QVERIFY(GetBit(0b100u, 3));
    QVERIFY(!GetBit(0xFFFFFFFFu, 0));
    QVERIFY(!GetBit(0xFFFFFFFFu, 33));
    QVERIFY(!GetBit(0xFFFFFFFFu, -1));
}

void TestGeneral::commafy()
{
    QCOMPARE(CommafyNumber(0), QStringLiteral("0"));
    QCOMPARE(CommafyNumber(999), QStringLiteral("999"));
    QCOMPARE(CommafyNumber(1000), QStringLiteral("1,000"));
    QCOMPARE(CommafyNumber(1234567), QStringLiteral("1,234,567"));
    QCOMPARE(CommafyNumber(100000), QStringLiteral("100,000"));
    QCOMPARE(CommafyNumber(-1234), QStringLiteral("-1,234"));
    QCOMPARE(CommafyNumber(-999), QStringLiteral("-999"));
    QCOMPARE(CommafyNumber(Q_INT64_C(5000000000)), QStringLiteral("5,000,000,000"));
    QCOMPARE(CommafyNumber(std::numeric_limits<qint64>::max()), QStringLiteral("9,223,372,036,854,775,807"));
    QCOMPARE(CommafyNumber(std::numeric_limits<qint64>::min()), QStringLiteral("-9,223,372,036,854,775,808"));
}

void TestGeneral::formatSeconds()
{
    QCOMPARE(FormatSeconds(0), QStringLiteral("0s"));
    QCOMPARE(FormatSeconds(59), QStringLiteral("59s"));
    QCOMPARE(FormatSeconds(60), QStringLiteral("1m:0s"));
    QCOMPARE(FormatSeconds(498), QStringLiteral("8m:18s"));
    QCOMPARE(FormatSeconds(3600), QStringLiteral("1h:0m:0s"));
    QCOMPARE(FormatSeconds(3725), QStringLiteral("1h:2m:5s"));
    QCOMPARE(FormatSeconds(90061), QStringLiteral("25h:1m:1s"));
    QCOMPARE(FormatSeconds(-5), QStringLiteral("0s"));
}

void TestGeneral::reversePathname()
{
    QCOMPARE(ReversePathname(QStringLiteral("music\\rock\\album")), QStringLiteral("album/rock/music"));
    QCOMPARE(ReversePathname(QStringLiteral("music/rock\\album\\\\")), QStringLiteral("album/rock/music"));
    QCOMPARE(ReversePathname(QStringLiteral("/home/me/")), QStringLiteral("me/home"));
    QCOMPARE(ReversePathname(QStringLiteral("single")), QStringLiteral("single"));
    QCOMPARE(ReversePathname(QString()), QString());
    QCOMPARE(ReversePathname(QStringLiteral("\\")), QString());
}

void TestGeneral::escapeAndLinks()
{
    QCOMPARE(EscapeHTML(QStringLiteral("a<b>&\"c\" &lt;")), QStringLiteral("a&lt;b&gt;&amp;\"c\" &amp;lt;"));
    QCOMPARE(EscapeHTML(QString()), QString());

    QCOMPARE(ConvertLinks(QStringLiteral("see http://x.org/a?b=1, then")),
        QStringLiteral("see <a href=\"http://x.org/a?b=1\">http://x.org/a?b=1</a>, then"));
    QCOMPARE(ConvertLinks(QStringLiteral("https://a.b/c. and https://d.e")),
        QStringLiteral(
            "<a href=\"https://a.b/c\">https://a.b/c</a>. and <a href=\"https://d.e\">https://d.e</a>"));
    // Case-sensitive, and no match inside a word.
    QCOMPARE(ConvertLinks(QStringLiteral("HTTP://x.org ftp://x.org xhttp://x.org")),
        QStringLiteral("HTTP://x.org ftp://x.org xhttp://x.org"));
    // Escaped text stays escaped inside the anchor.
    QCOMPARE(ConvertLinks(EscapeHTML(QStringLiteral("http://a.b/?x=1&y=2"))),
        QStringLiteral("<a href=\"http://a.b/?x=1&amp;y=2\">http://a.b/?x=1&amp;y=2</a>"));
}

QTEST_GUILESS_MAIN(TestGeneral)
#include "tst_general.moc"
