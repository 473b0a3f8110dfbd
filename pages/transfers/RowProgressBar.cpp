#include "RowProgressBar.h"
#include "shell/TreeWidget.h"
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyleOptionProgressBar>

void RowProgressBar::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant value = index.data(ValueRole);
    if (!value.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // Only what lies in the part being repainted, as the tree's other cells.
    const auto* tree = qobject_cast<const TreeWidget*>(option.widget);
    if (tree && tree->RegionBeingPainted() && !tree->RegionBeingPainted()->intersects(option.rect))
        return;
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    // The cell as a row shows it (selected, hovered), the bar over it.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, option.widget);
    QStyleOptionProgressBar bar;
    bar.state = (option.state & QStyle::State_Enabled) | QStyle::State_Horizontal;
    bar.direction = option.direction;
    bar.palette = option.palette;
    bar.fontMetrics = option.fontMetrics;
    const int height = qMin(kHeight, option.rect.height());
    bar.rect = QRect(option.rect.left(), option.rect.top() + (option.rect.height() - height) / 2,
        option.rect.width(), height);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = value.toInt();
    bar.text = index.data(TextRole).toString();
    Paint(painter, bar, option.widget);
}

void RowProgressBar::Paint(QPainter* painter, const QStyleOptionProgressBar& option, const QWidget* widget)
{
    QStyle* style = widget ? widget->style() : QApplication::style();
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QString key = QStringLiteral("RowProgressBar %1 %2 %3 %4 %5 %6 %7 %8 %9")
                            .arg(quintptr(style))
                            .arg(option.rect.width())
                            .arg(option.rect.height())
                            .arg(ratio)
                            .arg(option.palette.cacheKey())
                            .arg(uint(option.state) | (uint(option.direction) << 30))
                            .arg(option.minimum)
                            .arg(option.maximum)
                            .arg(option.progress);
    QPixmap look;
    if (!QPixmapCache::find(key, &look)) {
        // Drawn once on the window's ground, as a bar of its own is, and
        // copied: what the style would have drawn in place.
        look = QPixmap(option.rect.size() * ratio);
        look.setDevicePixelRatio(ratio);
        QPainter onLook(&look);
        QStyleOptionProgressBar at = option;
        at.rect = QRect(QPoint(0, 0), option.rect.size());
        at.textVisible = false;
        onLook.fillRect(at.rect, option.palette.brush(QPalette::Window));
        style->drawControl(QStyle::CE_ProgressBar, &at, &onLook, widget);
        onLook.end();
        QPixmapCache::insert(key, look);
    }
    painter->drawPixmap(option.rect.topLeft(), look);
    QStyleOptionProgressBar label = option;
    label.textVisible = true;
    label.textAlignment = Qt::AlignCenter;
    // Within the bar, as on a bar of its own.
    painter->save();
    painter->setClipRect(option.rect, Qt::IntersectClip);
    style->drawControl(QStyle::CE_ProgressBarLabel, &label, painter, widget);
    painter->restore();
}
