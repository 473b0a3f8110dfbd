// Settings: values, defaults, flags, and watches that outlive the setting's item.
#include "store/Settings.h"
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Settings::CreateTypes(); }
    void valuesDefaultsAndFlags();
    void watchSeesEveryNewValue();
};

void TestSettings::valuesDefaultsAndFlags()
{
    QVERIFY(!settings.Has("upload_slots"));
    QCOMPARE(settings.GetInt("upload_slots"), 0);
    settings.SetDefault("upload_slots", 2);
    settings.SetDefault("upload_slots", 9);
    QCOMPARE(settings.GetInt("upload_slots"), 2);
    settings.Set("upload_slots", 5);
    QCOMPARE(settings.Get("upload_slots"), QString("5"));
    QCOMPARE(settings.Key("upload_slots").CountItems("global_value"), size_t(1));
    settings.SetYes("use_upnp", true);
    QVERIFY(settings.IsYes("use_upnp"));
    settings.SetYes("use_upnp", false);
    QVERIFY(!settings.IsYes("use_upnp"));
    QVERIFY(!settings.Has("use_upnp"));
    // Run-time switches are a separate name space.
    runtimeSettings.Set("upload_slots", 1);
    QCOMPARE(settings.GetInt("upload_slots"), 5);
    QCOMPARE(runtimeSettings.GetInt("upload_slots"), 1);
    settings.Set("big", 9000000000LL);
    QCOMPARE(settings.GetInt64("big"), 9000000000LL);
}

void TestSettings::watchSeesEveryNewValue()
{
    DataHandler owner;
    QStringList seen;
    settings.Watch(&owner, "extended_ascii_codepage", [&](ItemPtr v) { seen << v.AsString(); });
    settings.Set("extended_ascii_codepage", "windows-1251");
    settings.Set("other_key", "x");
    settings.Set("extended_ascii_codepage", "KOI8-R");
    // The setting's item goes and comes back: the watch still works.
    settings.Key("extended_ascii_codepage").Remove();
    settings.Set("extended_ascii_codepage", "ISO-8859-2");
    QCOMPARE(seen, (QStringList { "windows-1251", "KOI8-R", "ISO-8859-2" }));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
