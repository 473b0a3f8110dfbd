#pragma once
// The progress bar of a transfer row. It shows its format text over the bar
// as a plain QProgressBar does, but paints that text itself: a bar whose text
// the widget knows measures it again at every new value, and a hundred
// transfers reporting twice a second make that the page's main cost. The bar
// beneath the text is drawn once per look (size, value, palette, state) and
// then copied: every row's bar at one value looks the same.
#include <QProgressBar>

class RowProgressBar : public QProgressBar {
public:
    RowProgressBar();

protected:
    void paintEvent(QPaintEvent* event) override;
};
