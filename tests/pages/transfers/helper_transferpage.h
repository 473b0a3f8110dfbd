#pragma once
// What the Transfers page's tests read and do on its trees: rows by text,
// their status and colour, whether folder and user rows agree with the store,
// and a context menu opened on a selection with one of its entries chosen.
#include "store/ItemPtr.h"
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;
class TransfersForm;

// The first row (at any depth) whose column shows the name as peers' names
// are shown (direction-isolated), or null.
QTreeWidgetItem* FindRow(QTreeWidget* tree, int column, const QString& name);
// The name a cell shows when it shows it isolated, else the cell's text
// marked "(not isolated) ".
QString ShownName(QTreeWidgetItem* row, int column);
// Whether the row's column-0 icon is the one of that resource.
bool ShowsIcon(QTreeWidgetItem* row, const QString& resource);
// Every row of the tree, parents before their children.
QList<QTreeWidgetItem*> AllRows(QTreeWidget* tree);
QColor RowColor(QTreeWidgetItem* row, int column = 2);
// The text of the progress bar in column 4, or empty; its value, or -1.
QString BarText(QTreeWidget* tree, QTreeWidgetItem* row);
int BarValue(QTreeWidget* tree, QTreeWidgetItem* row);
// Whether the column is as wide as the widest of its cells needs, uncut.
bool ColumnFits(QTreeWidget* tree, int column);
// The folder and user rows of the downloads tree whose status (closed),
// colour or bar differ from what their entries in the store give now, each
// as "<name>: <shown> for <due>"; empty when all agree.
QStringList WrongParentFigures(TransfersForm* form);

// Selects exactly the rows, asks for the tree's context menu and returns the
// texts of its entries (a submenu's entries follow it, each as
// "<submenu>/<entry>"). When choose is not empty, that entry is triggered
// ("Notify me when.../File download completes" for a submenu's); during the
// menu, before the choice, duringMenu runs (it may change the store).
QStringList OpenMenu(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows, const QString& choose = QString(),
    const std::function<void()>& duringMenu = {});

// A data file written from its format, not by the client's own writer:
// "MRWBDATA", version 1, a record of items per type (each a value and flags),
// records of connections between places in file order, and the end record
// with both totals; every count and length a little-endian u32.
class DataFileBytes {
public:
    // The items of a type, in one record; the place of the first.
    quint32 Items(const QByteArray& type, const QList<QByteArray>& values);
    void Connect(quint32 a, quint32 b) { m_connections.emplace_back(a, b); }
    QByteArray Bytes() const;

private:
    QByteArray m_items;
    quint32 m_count = 0;
    std::vector<std::pair<quint32, quint32>> m_connections;
};
