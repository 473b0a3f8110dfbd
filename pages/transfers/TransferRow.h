#pragma once
// A row of the transfer trees. Its status colour is the foreground of every
// column it holds, kept once for the row rather than in each cell: a tree of
// ten thousand rows is coloured without ninety thousand cell values.
//
// A row also keeps the figures that its parents add up: a file row those of
// its entry, a folder or user row the sums of the file rows beneath it. The
// page changes a parent's figures by what a file row's change adds or takes
// away, so a folder of 100,000 files shows its status and progress without
// a walk over them.
#include "shell/RowSlab.h"
#include <QBrush>
#include <QTreeWidgetItem>

struct RowFigures {
    // Entries, and how many of them are moving, queued, complete, denied or
    // aborted.
    int entries = 0;
    int active = 0;
    int queued = 0;
    int complete = 0;
    int denied = 0;
    int aborted = 0;
    // The bytes of the progress bar: done, still to come, and both together.
    qint64 done = 0;
    qint64 remaining = 0;
    qint64 total = 0;

    // Adds the other's figures (sign 1) or takes them away (sign -1).
    void Add(const RowFigures& other, int sign)
    {
        entries += sign * other.entries;
        active += sign * other.active;
        queued += sign * other.queued;
        complete += sign * other.complete;
        denied += sign * other.denied;
        aborted += sign * other.aborted;
        done += sign * other.done;
        remaining += sign * other.remaining;
        total += sign * other.total;
    }
};

class TransferRow : public QTreeWidgetItem, public SlabRows<TransferRow> {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    void SetRowForeground(const QBrush& brush)
    {
        // A parent is coloured again for each file row that comes beneath
        // it: an unchanged colour tells no view.
        if (m_hasForeground && m_foreground == brush)
            return;
        m_foreground = brush;
        m_hasForeground = true;
        emitDataChanged();
    }

    QVariant data(int column, int role) const override
    {
        if (role == Qt::ForegroundRole && m_hasForeground && column >= 0 && column < columnCount())
            return m_foreground;
        return QTreeWidgetItem::data(column, role);
    }

    RowFigures figures;

private:
    QBrush m_foreground;
    bool m_hasForeground = false;
};
