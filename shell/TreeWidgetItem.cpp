#include "TreeWidgetItem.h"

TreeWidgetItem::TreeWidgetItem(QTreeWidget* parent)
    : QTreeWidgetItem(parent, QTreeWidgetItem::Type)
{
}

TreeWidgetItem::~TreeWidgetItem() = default;

qint64 TreeWidgetItem::DigitsValue(const QString& text)
{
    QString digits;
    digits.reserve(text.size());
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    }
    bool ok = false;
    const qint64 n = digits.toLongLong(&ok);
    return ok ? n : 0;
}

bool TreeWidgetItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    return Less(other, tree ? tree->sortColumn() : 0);
}

bool TreeWidgetItem::Less(const QTreeWidgetItem& other, int column) const
{
    QString a = data(column, Qt::DisplayRole).toString();
    QString b = other.data(column, Qt::DisplayRole).toString();
    if (!m_model)
        return a < b;
    const ColumnSortingModel::ColumnSortingInfo info = m_model->GetColumnInfo(column);
    if (info.reversed)
        std::swap(a, b);
    if (info.numeric == 1)
        return DigitsValue(a) < DigitsValue(b);
    return a < b;
}
