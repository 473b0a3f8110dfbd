#pragma once
// A row of a browse view's file list. It shows the file's name as others'
// names are shown (direction-isolated) and keeps the name as the peer sent it,
// which is what the list sorts by and what the filter reads: a direction
// control in a name neither moves the row nor hides it from a filter.
#include "shell/RowSlab.h"
#include "shell/TreeWidgetItem.h"

class ShareFileRow : public TreeWidgetItem, public SlabRows<ShareFileRow> {
public:
    ShareFileRow();

    // The name as the peer sent it, of a file row or a folder row.
    static QString Name(const QTreeWidgetItem* row);
    // Shows the name in column 0 and keeps it for Name().
    static void SetName(QTreeWidgetItem* row, const QString& name);

    bool Less(const QTreeWidgetItem& other, int column) const override;
};
