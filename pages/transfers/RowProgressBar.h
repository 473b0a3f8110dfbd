#pragma once
// The progress bars of the transfer rows, drawn by the tree's delegate for
// their column: no widget per row, so a restored queue of thousands of
// complete files makes no thousands of widgets, which the view would move at
// every scroll. A bar looks as the style's progress bar does, with its text
// over it, but the text is laid out by the label alone and the bar beneath it
// is drawn once per look (size, value, palette, state) and then copied:
// every row's bar at one value looks the same.
#include <QStyledItemDelegate>

class QStyleOptionProgressBar;

class RowProgressBar : public QStyledItemDelegate {
public:
    // The roles of a row's bar in its column: the value (0 to 100, -1 for
    // none yet; no value without a bar) and the text.
    static constexpr int ValueRole = Qt::UserRole + 40;
    static constexpr int TextRole = Qt::UserRole + 41;
    // The most height a bar takes of its cell.
    static constexpr int kHeight = 14;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Draws the bar and the text of the option.
    static void Paint(QPainter* painter, const QStyleOptionProgressBar& option, const QWidget* widget);
};
