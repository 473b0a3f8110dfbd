// The rows' slab: every slot handed out is its own (filling each
// whole leaves the others as they were), freed slots are handed out again
// before a new block is taken, emptied blocks go back but for a spare, and
// what isn't the slab's size comes from the heap.
#include "shell/RowSlab.h"
#include <QTest>
#include <cstring>
#include <vector>

class TestRowSlab : public QObject {
    Q_OBJECT
private slots:
    void slotsAreOwnAndBlocksComeBack();
};

void TestRowSlab::slotsAreOwnAndBlocksComeBack()
{
    constexpr std::size_t kSize = 200;
    RowSlab slab(kSize);
    std::vector<unsigned char*> taken;
    // More than three blocks' worth, each slot filled whole with its number.
    for (int i = 0; i < 1100; ++i) {
        auto* p = static_cast<unsigned char*>(slab.Allocate(kSize));
        std::memset(p, i & 0xff, kSize);
        taken.push_back(p);
    }
    const int blocks = slab.Blocks();
    QVERIFY(blocks >= 4);
    for (int i = 0; i < int(taken.size()); ++i)
        QVERIFY2(
            taken[i][0] == (i & 0xff) && taken[i][kSize - 1] == (i & 0xff), qPrintable(QString::number(i)));

    // Every other slot given back, then as many taken: no new block.
    for (int i = 0; i < int(taken.size()); i += 2)
        slab.Release(taken[i], kSize);
    for (int i = 0; i < int(taken.size()); i += 2)
        taken[i] = static_cast<unsigned char*>(slab.Allocate(kSize));
    QCOMPARE(slab.Blocks(), blocks);

    // A larger object is the heap's and leaves the blocks alone.
    void* big = slab.Allocate(kSize * 2);
    QCOMPARE(slab.Blocks(), blocks);
    slab.Release(big, kSize * 2);

    for (unsigned char* p : taken)
        slab.Release(p, kSize);
    QCOMPARE(slab.Blocks(), 1);
    // The spare block serves again.
    void* again = slab.Allocate(kSize);
    QCOMPARE(slab.Blocks(), 1);
    slab.Release(again, kSize);
}

QTEST_APPLESS_MAIN(TestRowSlab)
#include "tst_rowslab.moc"
