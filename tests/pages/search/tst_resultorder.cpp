// The order of result rows: the ranks by free slot, queue, speed and name that
// "Order by Available" gives, each column's sort by its own keys, a strict
// weak order over any cell texts (so the toolkit's sort can't misplace rows),
// and the case-sensitive order of a folder's downloads.
#include "pages/search/SearchResultListItem.h"
#include "pages/search/SearchResultsForm.h"
#include "store/Data.h"
#include <QtTest>
#include <memory>

namespace {

std::unique_ptr<SearchResultListItem> Row(const QString& free, const QString& speed, const QString& file = QString())
{
    auto row = std::make_unique<SearchResultListItem>();
    row->setText(FreeColumn, free);
    row->setText(SpeedColumn, speed);
    row->setText(FileColumn, file);
    return row;
}

} // namespace

class TestResultOrder : public QObject {
    Q_OBJECT

private slots:
    void availableUsersComeFirst()
    {
        QTreeWidget tree;
        tree.setColumnCount(SearchColumnCount);
        const QList<QStringList> rows{ { "Y", "10.0", "carol 2" }, { "Y", "50.5", "dave" },
            { "3", "99.0", "carol" }, { "0", "1.0", "Bob" } };
        for (const QStringList& cells : rows) {
            auto* row = new SearchResultListItem(&tree);
            row->setText(FreeColumn, cells[0]);
            row->setText(SpeedColumn, cells[1]);
            row->SetName(UserColumn, cells[2]);
        }
        auto column = [&](int c) {
            QStringList cells;
            for (int i = 0; i < tree.topLevelItemCount(); ++i)
                cells << SearchResultListItem::Name(*tree.topLevelItem(i), c);
            return cells;
        };
        tree.sortByColumn(FreeColumn, Qt::DescendingOrder);
        QStringList order;
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            order << tree.topLevelItem(i)->text(FreeColumn) + u' ' + tree.topLevelItem(i)->text(SpeedColumn);
        QCOMPARE(order, (QStringList{ "Y 50.5", "Y 10.0", "0 1.0", "3 99.0" }));

        // Fastest first; equal speeds compare equal.
        tree.sortByColumn(SpeedColumn, Qt::DescendingOrder);
        QCOMPARE(column(SpeedColumn), (QStringList{ "99.0", "50.5", "10.0", "1.0" }));
        // Each sort ranks by its own column, never by the keys of the one
        // before; names rank as they came, not as they are shown (isolated, a
        // name before a longer one that starts with it).
        tree.sortByColumn(UserColumn, Qt::AscendingOrder);
        QCOMPARE(column(UserColumn), (QStringList{ "Bob", "carol", "carol 2", "dave" }));
        tree.sortByColumn(SpeedColumn, Qt::AscendingOrder);
        QCOMPARE(column(SpeedColumn), (QStringList{ "1.0", "10.0", "50.5", "99.0" }));
        QVERIFY(!Row("Y", "5")->LessThan(*Row("3", "5"), SpeedColumn));
        QVERIFY(!Row("3", "5")->LessThan(*Row("Y", "5"), SpeedColumn));

        // Rows with no file numbers (user and folder rows) compare equal by size.
        QVERIFY(!Row("", "")->LessThan(*Row("", ""), SizeColumn));
        auto big = Row("", "");
        big->SetFileNumbers(5'000'000'000LL, 320);
        auto small = Row("", "");
        small->SetFileNumbers(10, 128);
        QVERIFY(big->LessThan(*small, SizeColumn)); // ascending puts the largest first
        QVERIFY(big->LessThan(*small, AttributesColumn));
        QVERIFY(!big->LessThan(*Row("", ""), SizeColumn));
    }

    // Any Free texts, numbers or not, give a strict weak order: irreflexive,
    // asymmetric, and rows that neither precede nor follow each other are
    // interchangeable (a queue text that is no number reads as 0).
    void anyFreeTextsGiveAStrictWeakOrder()
    {
        std::vector<std::unique_ptr<SearchResultListItem>> rows;
        for (const char* free : { "Y", "0", "abc", "", "3", "03", "12" })
            for (const char* speed : { "", "1.5", "x" })
                for (const char* file : { "", "a.mp3", "B.mp3" })
                    rows.push_back(Row(QString::fromLatin1(free), QString::fromLatin1(speed), QString::fromLatin1(file)));
        auto less = [](const auto& a, const auto& b) { return a->LessThan(*b, FreeColumn); };
        auto equivalent = [&](const auto& a, const auto& b) { return !less(a, b) && !less(b, a); };
        for (const auto& a : rows) {
            QVERIFY(!less(a, a));
            for (const auto& b : rows) {
                QVERIFY(!(less(a, b) && less(b, a)));
                for (const auto& c : rows) {
                    if (less(a, b) && less(b, c))
                        QVERIFY(less(a, c));
                    if (equivalent(a, b) && equivalent(b, c))
                        QVERIFY2(equivalent(a, c),
                            qPrintable(a->text(FreeColumn) + u'/' + b->text(FreeColumn) + u'/' + c->text(FreeColumn)));
                }
            }
        }
        QVERIFY(equivalent(Row("abc", "1"), Row("0", "1")));
    }

    void downloadOrderIsCaseSensitive()
    {
        Type* result = d.DeclareType("search_result", kLink, true);
        Type* name = d.DeclareType("search_result_file_name", kAttribute);
        Type* folder = d.DeclareType("search_result_file_folder", kAttribute);
        d.RelateTypes(result, name, Many, One);
        d.RelateTypes(result, folder, Many, One);
        auto make = [&](const char* f, const char* n) {
            ItemPtr r = result->NewItem();
            r.Connect(folder->GetItem(Value(f)));
            r.Connect(name->GetItem(Value(n)));
            return r;
        };
        ItemPtr lower = make("music", "a.mp3");
        ItemPtr upper = make("music", "B.mp3");
        ItemPtr other = make("Music", "z.mp3");
        QVERIFY(SearchResultsForm::CompareSearchResults(upper, lower));
        QVERIFY(!SearchResultsForm::CompareSearchResults(lower, upper));
        QVERIFY(SearchResultsForm::CompareSearchResults(other, lower)); // "Music" < "music"
        QVERIFY(!SearchResultsForm::CompareSearchResults(lower, lower));
    }
};

QTEST_MAIN(TestResultOrder)
#include "tst_resultorder.moc"
