// The transfer rows' progress bar against the style drawing the same bar and
// text in place: every value, size and palette looks as drawn directly, also
// when bars of other looks were drawn in between and when one bar goes back
// to a look it had.
#include "gui/GuiTest.h"
#include "pages/transfers/RowProgressBar.h"
#include <QImage>
#include <QPainter>
#include <QStyleOptionProgressBar>

namespace {

class Probe : public RowProgressBar {
public:
    // What the style draws for this bar and its text, on its own background.
    QImage InPlace() const
    {
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        QImage image(size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.fillRect(rect(), palette().brush(backgroundRole()));
        style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
        option.textVisible = true;
        option.text = format();
        option.textAlignment = Qt::AlignCenter;
        style()->drawControl(QStyle::CE_ProgressBarLabel, &option, &painter, this);
        return image;
    }
    QImage Shown() { return grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied); }
};

} // namespace

class TestProgressBar : public QObject {
    Q_OBJECT
private slots:
    void looksAsDrawnInPlace();
};

void TestProgressBar::looksAsDrawnInPlace()
{
    Probe a, b;
    for (Probe* bar : { &a, &b }) {
        bar->setAutoFillBackground(true);
        bar->resize(140, 14);
    }
    b.resize(90, 14);
    struct Step {
        Probe* bar;
        int value;
        const char* text;
    };
    const Step steps[] = { { &a, 0, "0 (0.0%)" }, { &a, 37, "370 (37.0%)" }, { &b, 37, "37 (37.9%)" },
        { &a, 38, "380 (38.0%)" }, { &b, 100, "100 (100.0%)" }, { &a, 37, "371 (37.1%)" },
        { &a, 100, "1,000 (100.0%)" } };
    for (const Step& step : steps) {
        step.bar->setFormat(QString::fromLatin1(step.text));
        step.bar->setValue(step.value);
        QCOMPARE(step.bar->Shown(), step.bar->InPlace());
    }
    // A new palette is a new look.
    QPalette palette = a.palette();
    palette.setColor(QPalette::Highlight, QColor(200, 30, 30));
    a.setPalette(palette);
    QCOMPARE(a.Shown(), a.InPlace());
    const QImage red = a.Shown();
    a.setPalette(QPalette());
    QVERIFY(a.Shown() != red);
}

GUI_TEST_MAIN(TestProgressBar)
#include "tst_progressbar.moc"
