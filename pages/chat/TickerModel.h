#pragma once
// The tickers a room's wall shows, one row each, in the order they came,
// which is the order of their order numbers: the server connection numbers a
// room's tickers as they come. A row keeps the ticker's item and reads its
// text and user only when it is shown, so a wall of a hundred thousand
// tickers opens with a copy of their addresses. Adding or removing a ticker
// costs a search among the rows (and no more at either end), whatever their
// number; the view lays out only the rows it shows.
//
// A view walks all its rows whenever rows come, so a wall of many tickers
// hands them to it kRowsAtOnce at a time, one part a turn, the oldest first:
// tickers that come meanwhile go in among the rows not handed on yet.
#include "store/ItemPtr.h"
#include <QAbstractListModel>
#include <QTimer>
#include <deque>

class ItemSet;

class TickerModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The ticker's text and its user as a row shows them; the display text is
    // the two together ("<text> -<user>"), the tooltip the whole text of a
    // ticker that the row cuts. The serial tells tickers apart: a changed
    // ticker is a new one.
    enum Role { TickerTextRole = Qt::UserRole + 1, TickerUserRole, TickerSerialRole };

    // Characters a row shows of a ticker, and its tooltip: the whole of any
    // ticker of a sensible length, and still quick to lay out.
    static constexpr int kShownTicker = 500;
    static constexpr int kTickerTip = 4096;
    static constexpr int kRowsAtOnce = 16384;

    explicit TickerModel(QObject* parent = nullptr);

    // Shows the tickers given (complete ones, of one room).
    void Reset(const ItemSet& tickers);
    // Shows a complete ticker at its place, unless it shows already.
    void Add(ItemPtr ticker);
    // Takes away the ticker's row, if it has one.
    void Remove(ItemPtr ticker);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    // The first row of a ticker made at or after the serial.
    std::deque<ItemPtr>::iterator Place(quint64 serial);

    // Hands the view the next part of the rows.
    void Grow();

    std::deque<ItemPtr> m_rows; // by creation number
    size_t m_shown = 0; // the rows the view has: the first ones
    QTimer m_grow;
};
