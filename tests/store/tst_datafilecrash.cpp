// A save cut at any moment by a killed process leaves a data file that loads:
// the old contents or the new, never neither.
#include "store/Data.h"
#include "store/DataSaver.h"
#include <QtTest>
#include <csignal>
#include <random>

namespace {
struct Schema {
    Data data;
    DataSaver saver { &data };
    Type *global, *value, *file;
    Schema()
    {
        global = data.NewType("global", kEntity);
        value = data.NewType("global_value", kAttribute);
        file = data.NewType("file", kEntity);
        global->RelateToType(value, Many, One);
        file->RelateToType(value, Many, One);
        saver.AddSavedType("global");
        saver.AddSavedType("file");
        saver.AddSavedByConnectionType("global_value", "global");
        saver.AddSavedByConnectionType("global_value", "file");
    }
    // Generation g: a marker and 20000 files all carrying g.
    void Fill(int g)
    {
        global->GetItem("generation") += value->GetItem(g);
        for (int k = 0; k < 20000; ++k)
            file->GetItem(k) += value->GetItem(g);
    }
};

// The child: saves generation after generation until it is killed.
int SaveForever(const QString& path)
{
    Schema s;
    for (int g = 1;; ++g) {
        s.Fill(g);
        s.saver.Save(path);
    }
}
}

class TestDataFileCrash : public QObject {
    Q_OBJECT

private slots:
    void killedSavesNeverLoseTheFile();
};

void TestDataFileCrash::killedSavesNeverLoseTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(".Marrowby");
    {
        Schema s;
        s.Fill(0);
        s.saver.Save(path);
    }
    std::mt19937 rng(12345);
    int sawNewer = 0;
    for (int round = 0; round < 40; ++round) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), { "--save-forever", path });
        QVERIFY(child.waitForStarted());
        QTest::qSleep(int(std::uniform_int_distribution<int>(20, 400)(rng)));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        Schema s;
        try {
            s.saver.Load(path);
        } catch (DataLoadFailure) {
            QFAIL(qPrintable(QString("round %1: the data file did not load: %2").arg(round).arg(s.saver.LastError())));
        }
        // Whole, and of one generation.
        int g = s.global->HasItem("generation")["global_value"].AsInt();
        QCOMPARE(s.file->Count(), size_t(20000));
        QCOMPARE(s.file->HasItem(19999)["global_value"].AsInt(), g);
        if (g > 0)
            ++sawNewer;
    }
    QVERIFY2(sawNewer > 0, "no save ever completed: the cut points were all too early");
}

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--save-forever") {
        QCoreApplication app(argc, argv);
        return SaveForever(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestDataFileCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_datafilecrash.moc"
