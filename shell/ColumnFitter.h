#pragma once
// Gives a list's text columns the room left free at its right: a column whose
// rows in view are cut short grows into that room, so that no name is elided
// while the list has space to show it; when the room is too small, the
// columns short of the least show whole and the others share the rest. It
// never takes a column below its own width, uses only free room (a stretched
// last column gives up what its own cells do not need), measures only the
// rows in view, and stops for good once the user resizes a column by hand.
#include <QHash>
#include <QList>
#include <QObject>

class QTimer;
class QTreeView;

class ColumnFitter : public QObject {
    Q_OBJECT
public:
    // The fitter lives as long as the list.
    static void Attach(QTreeView* list, QList<int> columns);
    // The pixels the column of the list has from its fitter now (0 when it
    // has none): the rest is the column's own width, the one to keep.
    static int Given(const QTreeView* list, int column);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ColumnFitter(QTreeView* list, QList<int> columns);
    void Fit();
    int Needed(int column) const;

    QTreeView* m_list;
    QList<int> m_columns;
    QHash<int, int> m_given; // by column: the pixels it has from the fitter now
    QTimer* m_pending;
    bool m_fitting = false;
    bool m_userDrags = false;
    bool m_userSized = false;
};
