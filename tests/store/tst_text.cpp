// Code-page translation of 8-bit text that is not UTF-8, and the store's own
// value text.
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/ItemText.h"
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
    void itemTextKeepsEveryByte();
    void itemTextCopiesAndMoves();
    void itemValuesAcrossTheInlineLimit();
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

void TestText::itemTextKeepsEveryByte()
{
    // Around the inline limit, with NUL bytes anywhere, and long.
    std::vector<std::string> samples { "", "a", std::string(14, 'x'), std::string(15, 'y'),
        std::string(16, 'z'), std::string("\0\0\0", 3), std::string("ab\0cd\0", 6), std::string(15, '\0'),
        std::string(16, '\0'), std::string("0123456789abcde\0", 16),
        std::string(100000, 'q') + std::string(1, '\0') + "end" };
    for (const std::string& sample : samples) {
        const ItemText text(sample);
        QCOMPARE(text.size(), sample.size());
        QCOMPARE(text.empty(), sample.empty());
        QVERIFY(std::memcmp(text.data(), sample.data(), sample.size()) == 0);
        QCOMPARE(text.str(), sample);
        QVERIFY(text == sample);
        QVERIFY(text == std::string_view(sample));
        QCOMPARE(std::string_view(text), std::string_view(sample));
        QCOMPARE(text.MemoryBytes(), sample.size() > ItemText::kInline ? sample.size() : size_t(0));
        QVERIFY(text.capacity() >= text.size());
        // A text and the same text one byte shorter or longer differ.
        QVERIFY(!(text == sample + '\0'));
        if (!sample.empty())
            QVERIFY(!(text == std::string_view(sample).substr(0, sample.size() - 1)));
    }
    QVERIFY(ItemText() == ItemText(""));
    QVERIFY(ItemText(static_cast<const char*>(nullptr)).empty());
    QVERIFY(!(ItemText(std::string(15, 'a')) == ItemText(std::string(16, 'a'))));
    QVERIFY(ItemText(std::string(20, 'a')) == ItemText(std::string(20, 'a')));
}

void TestText::itemTextCopiesAndMoves()
{
    for (size_t size : { size_t(0), size_t(7), size_t(15), size_t(16), size_t(300) }) {
        std::string sample(size, 'm');
        if (size)
            sample[size / 2] = '\0';
        ItemText original(sample);
        ItemText copy(original);
        QVERIFY(copy == sample);
        if (size > ItemText::kInline)
            QVERIFY(copy.data() != original.data()); // its own buffer
        ItemText moved(std::move(copy));
        QVERIFY(moved == sample);
        QVERIFY(copy.empty());
        copy = ItemText("reused after a move");
        QVERIFY(copy == std::string_view("reused after a move"));
        // Assignments between inline and heap texts, both ways, and onto itself.
        ItemText other(std::string(40, 'o'));
        other = original;
        QVERIFY(other == sample);
        other = ItemText("short");
        QVERIFY(other == std::string_view("short"));
        other = std::move(original);
        QVERIFY(other == sample);
        QVERIFY(original.empty());
        ItemText& same = other;
        other = same;
        QVERIFY(other == sample);
        other = std::move(same);
        QVERIFY(other == sample);
    }
}

void TestText::itemValuesAcrossTheInlineLimit()
{
    // Values of every length around the limit are found by value, read back
    // whole (NUL bytes included), and survive the data file (which reads
    // texts up to their first NUL, so those are left out there).
    QTemporaryDir dir;
    const QString path = dir.filePath(".Marrowby");
    std::vector<std::string> values;
    for (size_t n = 0; n <= 40; ++n)
        values.emplace_back(n, char('a' + n % 26));
    {
        Data data;
        Type* type = data.NewType("thing", kEntity);
        DataSaver saver(&data);
        saver.AddSavedType("thing");
        for (std::string v : values) {
            if (v.size() >= 3)
                v[1] = '\0';
            QCOMPARE(type->NewItem(Value(v)).Text(), v);
            ItemPtr found = type->HasItemText(v);
            QCOMPARE(found.AsStdString(), v);
            found.Remove();
        }
        for (const auto& v : values)
            type->NewItem(Value(v));
        for (const auto& v : values)
            QCOMPARE(type->HasItemText(v).Text(), v);
        QVERIFY(type->HasItemText(std::string(16, 'Q')).IsNull());
        saver.Save(path);
        QVERIFY(QFile::exists(path));
    }
    Data data;
    Type* type = data.NewType("thing", kEntity);
    DataSaver saver(&data);
    saver.AddSavedType("thing");
    saver.Load(path);
    QCOMPARE(type->Count(), values.size());
    for (const auto& v : values)
        QCOMPARE(type->HasItem(Value(v)).Text(), v);
}

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
