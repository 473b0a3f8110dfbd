#pragma once
// The tickers a room's wall shows, one row each, ordered by their order
// numbers. A row keeps the ticker's item and reads its text and user when it
// is shown, so that a wall of a hundred thousand tickers holds little more
// than the store does. Adding or removing one ticker costs the time of a
// search among the rows (and no more at either end), whatever their number;
// the view lays out only the rows it shows.
#include "store/ItemPtr.h"
#include <QAbstractListModel>
#include <QHash>
#include <deque>

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

    explicit TickerModel(QObject* parent = nullptr);

    // Shows the tickers given (complete ones, of one room), in order.
    void Reset(const ItemSet& tickers);
    // Shows a complete ticker at its place; one shown already moves there.
    void Add(ItemPtr ticker);
    // Takes away the row of the ticker with this serial, if one shows it.
    void Remove(quint64 serial);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        qint64 order;
        quint64 serial;
        ItemPtr ticker;
        bool operator<(const Row& other) const
        {
            return order != other.order ? order < other.order : serial < other.serial;
        }
    };
    // The row of the key, or the end.
    std::deque<Row>::iterator Find(qint64 order, quint64 serial);

    std::deque<Row> m_rows;
    QHash<quint64, qint64> m_orders; // serial -> order of each row
};
