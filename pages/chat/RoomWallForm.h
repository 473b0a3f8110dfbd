#pragma once
// A room's wall: the tickers of the room's users as a two-tone table, and a
// line for posting the own ticker.
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QWidget>

class QLineEdit;
class QTextBrowser;

class RoomWallForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    RoomWallForm(const QString& room, QWidget* parent = nullptr);
    ~RoomWallForm() override;

    // Redraws the whole wall from the store.
    void UpdateText();

    QTextBrowser* textBrowser;
    QLineEdit* lineEdit;

public slots:
    void OnEnterPressed();

private:
    void OnNewTicker(ItemPtr ticker);
    void OnTickerRemoved(ItemPtr ticker);

    QString m_room;
    ItemPtr m_roomItem;
    bool m_redrawQueued = false;
};
