// Code-page translation of 8-bit text that is not UTF-8, and the MD5 digest.
#include "store/Data.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Md5.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include <QtTest>

namespace {
// "Привет" in windows-1251: not valid UTF-8.
const std::string kCyrillic1251("\xCF\xF0\xE8\xE2\xE5\xF2");
const QString kCyrillic = QStringLiteral("Привет");
const QString kLatin1Reading = QString::fromLatin1("\xCF\xF0\xE8\xE2\xE5\xF2");
}

class TestText : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Settings::CreateTypes(); }
    void codePageDecodesInvalidUtf8();
    void followsTheSetting();
    void unknownOrNoCodePageReadsLatin1();
    void md5Hex();
};

void TestText::codePageDecodesInvalidUtf8()
{
    ExtendedAsciiTranslator translator;
    QCOMPARE(extendedAsciiTranslator, &translator);
    QCOMPARE(ToQString(kCyrillic1251), kLatin1Reading);

    translator.SetCodePage("windows-1251");
    QCOMPARE(settings.GetStd("extended_ascii_codepage"), std::string("windows-1251"));
    QCOMPARE(translator.CodePage(), std::string("windows-1251"));
    QCOMPARE(ToQString(kCyrillic1251), kCyrillic);
    // Valid UTF-8 never goes through the code page.
    QCOMPARE(ToQString(std::string("\xC3\xA9t\xC3\xA9")), QStringLiteral("été"));
    QCOMPARE(ToQString(std::string("plain")), QStringLiteral("plain"));
    // Values of items read the same way.
    Data& store = d;
    Type* names = store.HasType("tst_name") ? store.GetType("tst_name") : store.NewType("tst_name", kEntity);
    QCOMPARE(names->NewItem(kCyrillic1251).AsString(), kCyrillic);

    // The empty name means no code page.
    translator.SetCodePage("");
    QCOMPARE(settings.GetStd("extended_ascii_codepage"), std::string());
    QCOMPARE(ToQString(kCyrillic1251), kLatin1Reading);
}

void TestText::followsTheSetting()
{
    // A code page already stored (as after loading the data file) takes effect
    // at construction; later writes of the setting are followed.
    settings.Set("extended_ascii_codepage", "windows-1251");
    {
        ExtendedAsciiTranslator translator;
        QCOMPARE(ToQString(kCyrillic1251), kCyrillic);
        settings.Set("extended_ascii_codepage", "KOI8-R");
        QCOMPARE(translator.CodePage(), std::string("KOI8-R"));
        // "Привет" in KOI8-R.
        QCOMPARE(ToQString(std::string("\xF0\xD2\xC9\xD7\xC5\xD4")), kCyrillic);
        QCOMPARE(translator.Decode(QByteArray("\xF0\xD2\xC9\xD7\xC5\xD4")), kCyrillic);
    }
    // A store emptied after a failed load: the setting is followed still.
    {
        ExtendedAsciiTranslator translator;
        d.Clear();
        translator.SetCodePage("windows-1251");
        QCOMPARE(ToQString(kCyrillic1251), kCyrillic);
    }
    // A destroyed translator leaves Latin-1 behind.
    QCOMPARE(extendedAsciiTranslator, nullptr);
    QCOMPARE(ToQString(kCyrillic1251), kLatin1Reading);
    settings.Set("extended_ascii_codepage", "");
}

void TestText::unknownOrNoCodePageReadsLatin1()
{
    ExtendedAsciiTranslator translator;
    translator.SetCodePage("no-such-code-page");
    QCOMPARE(settings.GetStd("extended_ascii_codepage"), std::string("no-such-code-page"));
    QCOMPARE(translator.CodePage(), std::string());
    QCOMPARE(ToQString(kCyrillic1251), kLatin1Reading);
    // Bytes that the code page does not map still give text of the same length.
    translator.SetCodePage("windows-1251");
    QCOMPARE(ToQString(std::string("\x98")).size(), 1);
}

void TestText::md5Hex()
{
    QCOMPARE(Md5Hex(QByteArray()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(Md5Hex(QByteArray("The quick brown fox jumps over the lazy dog")),
        QStringLiteral("9e107d9d372bb6826bd81d3542a419d6"));
    // Login: the user name followed by the password, as UTF-8.
    QCOMPARE(
        Md5Hex(QStringLiteral("aliceprivé").toUtf8()), QStringLiteral("5e0dd5b1284ea75a544d551cb6f21fa9"));
}

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
