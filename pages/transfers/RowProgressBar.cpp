#include "RowProgressBar.h"
#include <QPixmap>
#include <QPixmapCache>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

RowProgressBar::RowProgressBar()
{
    setTextVisible(false);
}

void RowProgressBar::paintEvent(QPaintEvent*)
{
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const qreal ratio = devicePixelRatio();
    const QString key = QStringLiteral("RowProgressBar %1 %2 %3 %4 %5 %6 %7 %8 %9")
                            .arg(quintptr(style()))
                            .arg(option.rect.width())
                            .arg(option.rect.height())
                            .arg(ratio)
                            .arg(option.palette.cacheKey())
                            .arg(uint(option.state) | (uint(option.direction) << 30))
                            .arg(option.minimum)
                            .arg(option.maximum)
                            .arg(option.progress);
    QPixmap bar;
    if (!QPixmapCache::find(key, &bar)) {
        // Drawn on the background the widget fills itself with, so the copy
        // is what the style would have drawn in place.
        bar = QPixmap(option.rect.size() * ratio);
        bar.setDevicePixelRatio(ratio);
        QPainter painter(&bar);
        painter.fillRect(option.rect, palette().brush(backgroundRole()));
        style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
        painter.end();
        QPixmapCache::insert(key, bar);
    }
    QStylePainter painter(this);
    painter.drawPixmap(0, 0, bar);
    option.textVisible = true;
    option.text = format();
    option.textAlignment = Qt::AlignCenter;
    painter.drawControl(QStyle::CE_ProgressBarLabel, option);
}
