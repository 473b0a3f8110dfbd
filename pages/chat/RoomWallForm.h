#pragma once
// A room's wall: the tickers of the room's users as a two-tone table, and a
// line for posting the own ticker. A new or removed ticker changes its own row
// only (and the colours of the rows below); what a row shows of a ticker is
// bounded, and a longer one shows whole in its tooltip. A ticker typed while
// the client is offline stays in the line, and a notice under it says so.
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QWidget>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QTextBrowser;
class QTextTable;

class RoomWallForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    RoomWallForm(const QString& room, QWidget* parent = nullptr);
    ~RoomWallForm() override;

    // Redraws the whole wall from the store.
    void UpdateText();

    // Characters a row shows of a ticker, and its tooltip: the whole of any
    // ticker of a sensible length, and still quick to lay out.
    static constexpr int kShownTicker = 500;
    static constexpr int kTickerTip = 4096;

    QTextBrowser* textBrowser;
    QLineEdit* lineEdit;
    QLabel* notice;

public slots:
    void OnEnterPressed();

private:
    void OnNewTicker(ItemPtr ticker);
    void OnTickerRemoved(ItemPtr ticker);
    // The table of the wall; null while it has no rows.
    QTextTable* Table() const;
    // Rows from the one given on take their colour by their place.
    void ColourRows(QTextTable* table, int from);

    QString m_room;
    ItemPtr m_roomItem;
    // The tickers shown, row by row: their order numbers and items' serials.
    std::vector<std::pair<qint64, quint64>> m_rows;
};
