#pragma once
// The progress bar of a transfer row. It shows its format text over the bar
// as a plain QProgressBar does, but paints that text itself: a bar whose text
// the widget knows measures it again at every new value, and a hundred
// transfers reporting twice a second make that the page's main cost.
#include <QProgressBar>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

class RowProgressBar : public QProgressBar {
public:
    RowProgressBar()
    {
        setTextVisible(false);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QProgressBar::paintEvent(event);
        QStylePainter painter(this);
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        option.textVisible = true;
        option.text = format();
        option.textAlignment = Qt::AlignCenter;
        painter.drawControl(QStyle::CE_ProgressBarLabel, option);
    }
};
