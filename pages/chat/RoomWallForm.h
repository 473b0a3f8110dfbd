#pragma once
// A room's wall: the tickers of the room's users, one row each in the order
// of their order numbers, on rows that alternate white and light grey; and a
// line for posting the own ticker. A new or removed ticker changes its own row
// only, and the view lays out only the rows on screen, so a wall of a hundred
// thousand tickers opens and changes at once. What a row shows of a ticker is
// bounded, and a longer one shows whole in its tooltip (TickerModel). A ticker
// typed while the client is offline stays in the line, and a notice under it
// says so.
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QWidget>

class QLabel;
class QLineEdit;
class QTreeView;
class TickerModel;

class RoomWallForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    RoomWallForm(const QString& room, QWidget* parent = nullptr);
    ~RoomWallForm() override;

    // Shows the room's tickers anew from the store.
    void UpdateText();

    // The rows as they read, a line each.
    QString Text() const;
    // The rows' colours, from the top.
    static const QColor& RowColour(int row);

    QTreeView* tickerView;
    QLineEdit* lineEdit;
    QLabel* notice;

public slots:
    void OnEnterPressed();

private:
    void OnNewTicker(ItemPtr ticker);
    void OnTickerRemoved(ItemPtr ticker);

    QString m_room;
    ItemPtr m_roomItem;
    TickerModel* m_tickers;
};
