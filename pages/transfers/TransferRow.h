#pragma once
// A row of the transfer trees. Its status colour is the foreground of every
// column it holds, kept once for the row rather than in each cell: a tree of
// ten thousand rows is coloured without ninety thousand cell values.
#include <QBrush>
#include <QTreeWidgetItem>

class TransferRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    void SetRowForeground(const QBrush& brush)
    {
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

private:
    QBrush m_foreground;
    bool m_hasForeground = false;
};
