// The transfer rows' progress bar against the style drawing the same bar and
// text in place: every value, size and palette looks as drawn directly, also
// when bars of other looks were drawn in between and when one bar goes back
// to a look it had.
#include "gui/GuiTest.h"
#include "pages/transfers/RowProgressBar.h"
#include <QImage>
#include <QPainter>
#include <QProgressBar>
#include <QStyleOptionProgressBar>

namespace {

QStyleOptionProgressBar Option(const QWidget& widget, int width, int value, const char* text)
{
    QStyleOptionProgressBar option;
    option.initFrom(&widget);
    option.state = QStyle::State_Enabled | QStyle::State_Horizontal;
    option.rect = QRect(3, 2, width, RowProgressBar::kHeight);
    option.minimum = 0;
    option.maximum = 100;
    option.progress = value;
    option.text = QString::fromLatin1(text);
    option.textAlignment = Qt::AlignCenter;
    return option;
}

QImage Blank()
{
    QImage image(160, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

// What the style draws for this bar and its text, on the window's ground
// and within the bar, as a bar widget would show it.
QImage InPlace(const QWidget& widget, QStyleOptionProgressBar option)
{
    QImage image = Blank();
    QPainter painter(&image);
    painter.setClipRect(option.rect);
    painter.fillRect(option.rect, option.palette.brush(QPalette::Window));
    widget.style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, &widget);
    option.textVisible = true;
    widget.style()->drawControl(QStyle::CE_ProgressBarLabel, &option, &painter, &widget);
    return image;
}

QImage Shown(const QWidget& widget, const QStyleOptionProgressBar& option)
{
    QImage image = Blank();
    QPainter painter(&image);
    RowProgressBar::Paint(&painter, option, &widget);
    return image;
}

} // namespace

class TestProgressBar : public QObject {
    Q_OBJECT
private slots:
    void looksAsDrawnInPlace();
};

void TestProgressBar::looksAsDrawnInPlace()
{
    QProgressBar widget;
    struct Step {
        int width;
        int value;
        const char* text;
    };
    const Step steps[] = { { 140, 0, "0 (0.0%)" }, { 140, 37, "370 (37.0%)" }, { 90, 37, "37 (37.9%)" },
        { 140, 38, "380 (38.0%)" }, { 90, 100, "100 (100.0%)" }, { 140, 37, "371 (37.1%)" },
        { 140, 100, "1,000 (100.0%)" } };
    for (const Step& step : steps) {
        const QStyleOptionProgressBar option = Option(widget, step.width, step.value, step.text);
        QCOMPARE(Shown(widget, option), InPlace(widget, option));
    }
    // A new palette is a new look.
    QStyleOptionProgressBar red = Option(widget, 140, 37, "370 (37.0%)");
    red.palette.setColor(QPalette::Highlight, QColor(200, 30, 30));
    QCOMPARE(Shown(widget, red), InPlace(widget, red));
    QVERIFY(Shown(widget, red) != Shown(widget, Option(widget, 140, 37, "370 (37.0%)")));
}

GUI_TEST_MAIN(TestProgressBar)
#include "tst_progressbar.moc"
