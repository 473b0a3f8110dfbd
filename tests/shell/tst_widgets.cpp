// Sortable rows, key presses of the tree, tab marks and colours, and how
// others' names and texts are laid out.
#include "Kit.h"
#include "TabWidget.h"
#include "TextBound.h"
#include "TreeWidget.h"
#include "TreeWidgetItem.h"
#include "WidgetFunctions.h"
#include "helper_kit.h"
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTabBar>
#include <QTextLayout>

class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PrepareKit(); }
    void rowsSortByTheirColumnRules();
    void keyPressReachesOwnerFirst();
    void changedCellsShowAsAWholePaintWould();
    void tabsMarkActivityAndTakeColourWhenSelected();
    void othersNamesCannotRunBackwards();
    void othersTextsAreBoundedWhereLaidOut();
};

static QStringList Column(QTreeWidget& tree, int column)
{
    QStringList texts;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        texts << tree.topLevelItem(i)->text(column);
    return texts;
}

void TestWidgets::rowsSortByTheirColumnRules()
{
    QTreeWidget tree;
    tree.setColumnCount(3);
    ColumnSortingModel model;
    model.SetColumnSortingNumeric(1);
    model.SetColumnSortingNumeric(2);
    model.SetColumnSortingReversed(2);
    const QStringList names { "b", "B", "a", "c" };
    const QStringList sizes { "10 files", "9 files", "1,234", "none" };
    for (int i = 0; i < names.size(); ++i) {
        auto* row = new TreeWidgetItem(&tree);
        row->SetSortingModel(&model);
        row->setText(0, names[i]);
        row->setText(1, sizes[i]);
        row->setText(2, sizes[i]);
    }
    tree.sortItems(0, Qt::AscendingOrder);
    QCOMPARE(Column(tree, 0), QStringList({ "B", "a", "b", "c" })); // code units, upper case first
    tree.sortItems(1, Qt::AscendingOrder);
    QCOMPARE(Column(tree, 1), QStringList({ "none", "9 files", "10 files", "1,234" }));
    tree.sortItems(2, Qt::AscendingOrder); // reversed: ascending shows descending
    QCOMPARE(Column(tree, 2), QStringList({ "1,234", "10 files", "9 files", "none" }));

    // A row without a model compares by text, whatever the column.
    QTreeWidget plain;
    plain.setColumnCount(2);
    for (const char* size : { "9", "10" }) {
        auto* row = new TreeWidgetItem(&plain);
        row->setText(1, QString::fromLatin1(size));
    }
    plain.sortItems(1, Qt::AscendingOrder);
    QCOMPARE(Column(plain, 1), QStringList({ "10", "9" }));

    QCOMPARE(TreeWidgetItem::DigitsValue("-3"), 3);
    QCOMPARE(TreeWidgetItem::DigitsValue("1.5 MB"), 15);
    QCOMPARE(TreeWidgetItem::DigitsValue("99999999999999999999"), 0); // beyond 64 bits
}

void TestWidgets::keyPressReachesOwnerFirst()
{
    TreeWidget tree;
    tree.setColumnCount(1);
    for (const char* text : { "one", "two" })
        new QTreeWidgetItem(&tree, { QString::fromLatin1(text) });
    tree.setCurrentItem(tree.topLevelItem(0));
    QString seenAt;
    connect(&tree, &TreeWidget::KeyPressed, &tree, [&](QKeyEvent* event) {
        if (event->key() == Qt::Key_Down)
            seenAt = tree.currentItem()->text(0);
    });
    QTest::keyClick(&tree, Qt::Key_Down);
    QCOMPARE(seenAt, QStringLiteral("one"));
    QCOMPARE(tree.currentItem()->text(0), QStringLiteral("two"));

    // An owner may delete the tree in its handler.
    auto* doomed = new TreeWidget;
    connect(doomed, &TreeWidget::KeyPressed, doomed, [doomed](QKeyEvent*) { delete doomed; });
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(doomed, &press);
}

void TestWidgets::changedCellsShowAsAWholePaintWould()
{
    // A changed cell repaints part of a row; what the window then shows must
    // be what painting the whole tree gives.
    TreeWidget tree;
    tree.setColumnCount(4);
    tree.resize(400, 200);
    QList<QTreeWidgetItem*> rows;
    for (int k = 0; k < 6; ++k) {
        rows << new QTreeWidgetItem(
            &tree, { QStringLiteral("user %1").arg(k), QStringLiteral("a file"), QStringLiteral("34s"), QStringLiteral("97.7") });
    }
    rows[1]->setSelected(true);
    QVERIFY(ShowActive(&tree));
    QTest::qWait(50);
    rows[1]->setText(2, QStringLiteral("2m:50s"));
    rows[3]->setText(2, QStringLiteral("35s"));
    rows[4]->setText(0, QStringLiteral("someone else"));
    QTest::qWait(50);
    const QImage shown = tree.screen()->grabWindow(tree.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown, tree.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

void TestWidgets::tabsMarkActivityAndTakeColourWhenSelected()
{
    QWidget window;
    auto* outer = new TabWidget(&window);
    auto* home = new QWidget;
    auto* rooms = new TabWidget;
    auto* roomA = new QWidget;
    auto* roomB = new QWidget;
    auto* inRoomB = new QLineEdit(roomB);
    auto* plain = new QTabWidget;
    auto* inPlain = new QWidget;
    plain->addTab(new QWidget, "first");
    plain->addTab(inPlain, "second");
    rooms->addTab(roomA, "a");
    rooms->addTab(roomB, "b");
    outer->addTab(home, "Home");
    outer->addTab(rooms, "Rooms");
    outer->addTab(plain, "Plain");
    RegisterWidgetForTabFocus(inRoomB, 1);
    window.resize(300, 200);
    QVERIFY(ShowActive(&window));

    const QColor styleColour = outer->tabBar()->tabTextColor(1);
    // A widget on a current inner tab marks only the outer tab that is not current.
    TabWidget::MarkTabActivity(roomA);
    QCOMPARE(rooms->tabBar()->tabTextColor(0), QColor(Qt::black)); // as selected, unchanged
    QCOMPARE(outer->tabBar()->tabTextColor(1), QColor(Qt::blue));
    // Inside a plain tab widget only the enclosing TabWidget is marked.
    TabWidget::MarkTabActivity(inPlain);
    QCOMPARE(plain->tabBar()->tabTextColor(1), styleColour);
    QCOMPARE(outer->tabBar()->tabTextColor(2), QColor(Qt::blue));
    TabWidget::MarkTabActivity(inRoomB);
    QCOMPARE(rooms->tabBar()->tabTextColor(1), QColor(Qt::blue));
    TabWidget::MarkTabActivity(new QWidget); // outside every tab: ignored

    // Selecting turns the tab black before the data is loaded, then takes the
    // button text colour; a colour that does not parse leaves the style's.
    outer->setCurrentIndex(1);
    QCOMPARE(outer->tabBar()->tabTextColor(1), QColor(Qt::black));
    g_dataLoaded = true;
    settings.Set("color_button_text", "#336699");
    rooms->setCurrentIndex(1);
    QCOMPARE(rooms->tabBar()->tabTextColor(1), QColor("#336699"));
    QVERIFY(inRoomB->hasFocus()); // the page's widget marked for focus
    settings.Set("color_button_text", "not a colour");
    outer->setCurrentIndex(2);
    QCOMPARE(outer->tabBar()->tabTextColor(2), styleColour);
    g_dataLoaded = false;

    // The desktop's font grows: labels are measured again, not cut at their
    // old width.
    const int narrow = outer->tabBar()->tabRect(2).width();
    const QFont desktop = QApplication::font();
    QFont bigger = desktop;
    bigger.setPixelSize(QFontInfo(desktop).pixelSize() * 3);
    QApplication::setFont(bigger);
    QCoreApplication::processEvents();
    const int wide = outer->tabBar()->tabRect(2).width();
    QApplication::setFont(desktop);
    QVERIFY2(wide > narrow * 2, qPrintable(QStringLiteral("%1 -> %2").arg(narrow).arg(wide)));

    // Removing the last tab neither moves focus nor colours anything.
    TabWidget last;
    last.addTab(new QWidget, "only");
    last.removeTab(0);
    QCOMPARE(last.currentIndex(), -1);
}

// The x of each character of one laid-out line, in the text's order.
static QList<qreal> CharacterPlaces(const QString& text)
{
    QTextLayout layout(text, QFont());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(100000);
    layout.endLayout();
    QList<qreal> places;
    for (int i = 0; i < text.size(); ++i)
        places << line.cursorToX(i);
    return places;
}

void TestWidgets::othersNamesCannotRunBackwards()
{
    // A right-to-left override in a file name would show "LIVE.exe" as
    // "exe.EVIL"; one in a user's name would turn the rest of a chat line
    // around. Shown isolated, every letter stays in its place, left to right.
    const QString name = QString::fromUtf16(u"rtl\u202ELIVE.exe");
    for (const QString& shown : { IsolatedText(name), QStringLiteral("[") + IsolatedText(name) + QStringLiteral("] says hi") }) {
        const QList<qreal> x = CharacterPlaces(shown);
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY2(x[i] >= x[i - 1], qPrintable(QStringLiteral("character %1 of %2").arg(i).arg(shown.size())));
        QVERIFY(x.last() > x.first());
    }
    // Hebrew stays right to left inside, and text after it stays after it.
    const QString hebrew = QString::fromUtf16(u"\u05D0\u05D1");
    const QString line = IsolatedText(hebrew) + QStringLiteral(" 12 x");
    const QList<qreal> x = CharacterPlaces(line);
    QVERIFY(x[line.indexOf(QLatin1Char('1'))] >= x[line.indexOf(QChar(0x05D0))]);
    // A name made safe on its way to an event button is not made over again.
    QCOMPARE(IsolatedText(IsolatedText(name)), IsolatedText(name));
    QVERIFY(!IsolatedText(QString::fromUtf16(u"\u2068x\u202Ey\u2069")).contains(QChar(0x202E)));
    // Every kind of line break shows on one line; a view of several lines
    // keeps them.
    const QString lines = QString::fromUtf16(u"a\nb\rc\vd\fe\u001Ef\u0085g\u2028h\u2029.exe");
    QCOMPARE(IsolatedText(IsolatedLines(lines)),
        IsolatedText(QString::fromUtf16(u"a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFDf\uFFFDg\uFFFDh\uFFFD.exe")));
    QCOMPARE(IsolatedLines(lines).mid(1, lines.size()), lines);
}

void TestWidgets::othersTextsAreBoundedWhereLaidOut()
{
    // Marks made of two units count as marks; a cut or a place to break never
    // falls inside a character or before its marks; ordinary text stays.
    const QString musical = QString::fromUcs4(U"\U0001D167");
    const QString face = QString::fromUcs4(U"\U0001F600");
    QCOMPARE(TextBound::Shown(QStringLiteral("x") + musical.repeated(500) + QStringLiteral(" y")),
        QStringLiteral("x") + musical.repeated(TextBound::kMaxMarks) + QStringLiteral(" y"));
    QCOMPARE(TextBound::Shown(QStringLiteral("ab") + face, 3), QStringLiteral("ab") + QChar(0x2026));
    const QString word = (face + QString(3, QChar(0x0301))).repeated(200);
    const QString shown = TextBound::Shown(word);
    QCOMPARE(QString(shown).remove(QChar(0x200B)), word);
    QCOMPARE(shown.count(QChar(0x200B)), 200 / TextBound::kMaxWord);
    for (const QString& part : shown.split(QChar(0x200B)))
        QVERIFY(!part.front().isLowSurrogate() && !part.front().isMark());
    const QString plain
        = QString::fromUtf16(u"Gr\u00FC\u00DFe, \u00E7a va? \u0915\u094D\u0937 e\u0301\u0302");
    QCOMPARE(TextBound::Shown(plain), plain);
    // Plain ASCII too gets a place to break after a line's worth of letters.
    const QString letters(TextBound::kMaxWord, QLatin1Char('a'));
    QCOMPARE(TextBound::Shown(letters + QStringLiteral(" b")), letters + QStringLiteral(" b"));
    QCOMPARE(TextBound::Shown(letters + QLatin1Char('a')), letters + QChar(0x200B) + QLatin1Char('a'));
    // A text of exactly the bound is shown whole; one unit more is cut.
    const QString full = QStringLiteral("word ").repeated(TextBound::kMaxLength / 5)
        + QString(TextBound::kMaxLength % 5, QLatin1Char('z'));
    QCOMPARE(full.size(), TextBound::kMaxLength);
    QCOMPARE(TextBound::Shown(full), full);
    QCOMPARE(TextBound::Shown(full + QLatin1Char('y')), full + QChar(0x2026));
    QCOMPARE(TextBound::Shown(full.chopped(1) + face), full.chopped(1) + QChar(0x2026));
    // A tab label cut in the middle keeps whole characters wherever the cut
    // falls, also after a run of characters of no width.
    const QFontMetrics metrics(QApplication::font());
    for (const char16_t unseen : { u'\u200B', u'\u2060', u'\uFEFF' })
        for (int n = 150; n < 170; ++n) {
            const QString name = QString(n, QChar(unseen)) + face.repeated(300) + QString(n, QChar(unseen));
            const QString label = ElidedLabel(name, metrics);
            QVERIFY(label.contains(QChar(0x2026)));
            for (int i = 0; i < label.size(); ++i)
                QVERIFY2(label[i].isHighSurrogate() ? i + 1 < label.size() && label[i + 1].isLowSurrogate()
                                                     : !label[i].isLowSurrogate() || (i > 0 && label[i - 1].isHighSurrogate()),
                    qPrintable(QStringLiteral("%1 unseen characters: unit %2 is half a character").arg(n).arg(i)));
        }
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
