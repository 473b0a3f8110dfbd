#include "ShareFileRow.h"
#include "shell/Kit.h"

namespace {
constexpr int kNameRole = Qt::UserRole;
}

ShareFileRow::ShareFileRow()
    : TreeWidgetItem(nullptr)
{
}

QString ShareFileRow::Name(const QTreeWidgetItem* row)
{
    return row ? row->data(0, kNameRole).toString() : QString();
}

void ShareFileRow::SetName(QTreeWidgetItem* row, const QString& name)
{
    row->setText(0, RowName(name));
    row->setData(0, kNameRole, name);
}

bool ShareFileRow::Less(const QTreeWidgetItem& other, int column) const
{
    if (column != 0)
        return TreeWidgetItem::Less(other, column);
    return Name(this) < Name(&other);
}
