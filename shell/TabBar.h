#pragma once
// The tab bar of every TabWidget: a QTabBar whose cost for a tab that is not
// on screen stays small, so that a row of a thousand tabs (a chat tab for
// every stranger who wrote) opens, lays out and switches as quickly as a
// short one.
//
// QTabBar measures every tab at each layout (each insertion, text or icon
// change, scroll) and fills a full style option for every tab at each paint
// and each placing of the close buttons, with the label laid out anew each
// time. Here the size of a tab is measured once for its label, icon and
// buttons (again after a change of font or style), and a tab scrolled out of
// sight gets a bare style option: its place and the place of its close button
// are all that is asked of it.
#include <QHash>
#include <QTabBar>

class TabBar : public QTabBar {
    Q_OBJECT
public:
    explicit TabBar(QWidget* parent = nullptr);

protected:
    QSize tabSizeHint(int index) const override;
    void initStyleOption(QStyleOptionTab* option, int index) const override;
    void changeEvent(QEvent* event) override;

private:
    // What a tab's size depends on beside the font and style of the bar.
    struct Shape {
        QString text;
        QSize left;
        QSize right;
        QSize icon;
        int barShape;
        bool documentMode;
        bool selected;
        bool operator==(const Shape& other) const = default;
    };
    friend size_t qHash(const Shape& shape, size_t seed);

    void FillOutOfSight(QStyleOptionTab* option, int index, const QRect& rect) const;

    mutable QHash<Shape, QSize> m_sizes;
};
