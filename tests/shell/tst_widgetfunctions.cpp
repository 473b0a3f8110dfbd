// Bringing a widget to the front through nested tab pages, and the tab-focus marks.
#include "WidgetFunctions.h"
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {
// window > outer tabs (pages 0, 1) > page 1 holds inner tabs (pages 0, 1) >
// inner page 1 holds a box that holds the target.
struct Pages {
    QWidget window;
    QTabWidget* outer;
    QTabWidget* inner;
    QWidget* box;
    QLineEdit* target;
    QLineEdit* other;
    QToolButton* corner;
    Pages()
    {
        auto* layout = new QVBoxLayout(&window);
        outer = new QTabWidget;
        layout->addWidget(outer);
        auto* first = new QWidget;
        other = new QLineEdit(first);
        outer->addTab(first, QStringLiteral("first"));
        auto* second = new QWidget;
        auto* secondLayout = new QVBoxLayout(second);
        inner = new QTabWidget;
        secondLayout->addWidget(inner);
        outer->addTab(second, QStringLiteral("second"));
        inner->addTab(new QWidget, QStringLiteral("a"));
        box = new QWidget;
        auto* boxLayout = new QVBoxLayout(box);
        target = new QLineEdit;
        boxLayout->addWidget(target);
        auto* page = new QWidget;
        (new QVBoxLayout(page))->addWidget(box);
        inner->addTab(page, QStringLiteral("b"));
        corner = new QToolButton;
        inner->setCornerWidget(corner);
    }
};
}

class TestWidgetFunctions : public QObject {
    Q_OBJECT

private slots:
    void findsEnclosingTab();
    void focusShowsEveryEnclosingPage();
    void highestVisibleMarkTakesFocus();
};

void TestWidgetFunctions::findsEnclosingTab()
{
    Pages p;
    int index = 7;
    QCOMPARE(GetWidgetTabWidget(p.target, index), p.inner);
    QCOMPARE(index, 1);
    QCOMPARE(GetWidgetTabWidget(p.inner, index), p.outer);
    QCOMPARE(index, 1);
    QCOMPARE(GetWidgetTabWidget(p.other, index), p.outer);
    QCOMPARE(index, 0);
    // A tab page itself belongs to its own tab widget.
    QCOMPARE(GetWidgetTabWidget(p.outer->widget(1), index), p.outer);
    QCOMPARE(index, 1);
    // A corner widget is not on a tab; the search goes on outwards.
    QCOMPARE(GetWidgetTabWidget(p.corner, index), p.outer);
    QCOMPARE(index, 1);
    QCOMPARE(GetWidgetTabWidget(&p.window, index), nullptr);
    QCOMPARE(index, -1);
    QCOMPARE(GetWidgetTabWidget(nullptr, index), nullptr);
}

void TestWidgetFunctions::focusShowsEveryEnclosingPage()
{
    Pages p;
    p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    QCOMPARE(p.outer->currentIndex(), 0);
    QCOMPARE(p.inner->currentIndex(), 0);

    FocusWidget(p.target);
    QVERIFY(QTest::qWaitForWindowActive(&p.window));
    QCOMPARE(p.outer->currentIndex(), 1);
    QCOMPARE(p.inner->currentIndex(), 1);
    QVERIFY(p.target->isVisible());
    QTRY_VERIFY(p.target->hasFocus());

    FocusWidgetAndParents(p.other);
    QCOMPARE(p.outer->currentIndex(), 0);
    QCOMPARE(p.inner->currentIndex(), 1);
    QTRY_VERIFY(p.other->hasFocus());
    FocusWidget(nullptr);
}

void TestWidgetFunctions::highestVisibleMarkTakesFocus()
{
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* low = new QLineEdit;
    auto* high = new QLineEdit;
    auto* middle = new QLineEdit;
    auto* hidden = new QLineEdit;
    auto* hiddenBox = new QWidget;
    auto* insideHidden = new QLineEdit(hiddenBox);
    for (QWidget* w : { (QWidget*)low, (QWidget*)high, (QWidget*)middle, (QWidget*)hidden, hiddenBox })
        layout->addWidget(w);
    RegisterWidgetForTabFocus(low, 1);
    RegisterWidgetForTabFocus(high, 5);
    RegisterWidgetForTabFocus(middle, 3);
    RegisterWidgetForTabFocus(hidden, 9);
    RegisterWidgetForTabFocus(insideHidden, 10);
    hidden->hide();
    hiddenBox->hide();
    QCOMPARE(high->property("get_focus").toInt(), 5);
    page.show();
    QVERIFY(QTest::qWaitForWindowActive(&page));

    QCOMPARE(FindWidgetFocusProperty(&page, 0), 5);
    QTRY_VERIFY(high->hasFocus());
    // Nothing above n: n comes back and the focus stays.
    low->setFocus();
    QCOMPARE(FindWidgetFocusProperty(&page, 5), 5);
    QVERIFY(low->hasFocus());
    // The widget itself counts; a shown widget is found again.
    QCOMPARE(FindWidgetFocusProperty(middle, 0), 3);
    // Not hidden itself but inside something hidden: not seen, so no focus.
    QCOMPARE(FindWidgetFocusProperty(insideHidden, 0), 0);
    QVERIFY(!insideHidden->hasFocus());
    hidden->show();
    QCOMPARE(FindWidgetFocusProperty(&page, 0), 9);
    QTRY_VERIFY(hidden->hasFocus());
    QCOMPARE(FindWidgetFocusProperty(nullptr, 4), 4);
}

QTEST_MAIN(TestWidgetFunctions)
#include "tst_widgetfunctions.moc"
