#pragma once
// Repeats the enabled wish-list searches one at a time, in turn by their text,
// at the period that the central server prescribes. Each repetition is a
// network search flagged as a wish-list search; its replies open or reuse the
// item's tab on the Search page.
//
// The period is taken as the server sends it, with two guards: a period of 0
// or one that reads negative as a signed 32-bit number stops the repetitions
// (a zero-interval timer would fire on every pass of the event loop), and a
// very long period is capped at the longest interval a timer can wait. While
// the client is logged out nothing is sent and the turn does not advance.
#include <QObject>

class QTimer;

class WishListSearcher : public QObject {
    Q_OBJECT
public:
    explicit WishListSearcher(QObject* parent = nullptr);
    ~WishListSearcher() override;
    QTimer* Timer() const { return m_timer; }

public slots:
    void OnWishListWait(unsigned int seconds);
    void OnSearchTimerTimeout();

private:
    QTimer* m_timer;
};

extern WishListSearcher* wishListSearcher;
