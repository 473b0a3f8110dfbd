// The wish list on the Search page: one row per wish_list_item with a check
// box for its enabled flag; rows are edited in place.
#include "SearchForm.h"
#include "shell/ActionSetToolBar.h"
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <vector>

namespace {

QTreeWidgetItem* RowOfNode(ItemPtr node)
{
    return node.AsPointer<QTreeWidgetItem>();
}

// Column 0 keeps "Y" as the text the list sorts by, while the check box over
// the cell shows the state: the text is not drawn beside the box.
class BoxOnlyDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text.clear();
        option->features &= ~QStyleOptionViewItem::HasDisplay;
    }
};

} // namespace

void SearchForm::SetUpWishList()
{
    m_wishList->setColumnCount(2);
    m_wishList->setHeaderLabels({ QString(), tr("Wish List Search") });
    m_wishList->setColumnWidth(0, 20);
    m_wishList->setItemDelegateForColumn(0, new BoxOnlyDelegate(m_wishList));
    m_wishList->header()->setSectionResizeMode(QHeaderView::Fixed);
    m_wishList->header()->setStretchLastSection(true);
    m_wishList->setRootIsDecorated(false);
    m_wishList->setSortingEnabled(true);
    m_wishList->sortByColumn(1, Qt::AscendingOrder);
    m_wishList->setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    m_wishList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    const QString set = QStringLiteral("wish_list");
    const QString icon = QStringLiteral(":/icons/wishlist_icon");
    actionBar->AddSetAction(set, QStringLiteral("enable_all_wish_list_items"), tr("Enable All Wish List Searches"), icon, false);
    actionBar->AddSetAction(set, QStringLiteral("disable_all_wish_list_items"), tr("Disable All Wish List Searches"), icon, false);
    actionBar->RegisterWidget(m_wishList, set);
}

void SearchForm::SetWishRowEnabled(QTreeWidgetItem* row, bool enabled)
{
    const bool building = m_buildingWishRow;
    m_buildingWishRow = true;
    row->setText(0, enabled ? QStringLiteral("Y") : QString());
    m_buildingWishRow = building;
}

void SearchForm::OnWishListItemAdded(ItemPtr item)
{
    if (!item || item["wish_list_node"])
        return;
    m_buildingWishRow = true;
    auto* row = new QTreeWidgetItem;
    row->setText(1, item.AsString());
    row->setFlags(row->flags() | Qt::ItemIsEditable);
    const bool enabled = item.IsConnected("wish_list_item_enabled");
    row->setText(0, enabled ? QStringLiteral("Y") : QString());
    row->setTextAlignment(0, Qt::AlignHCenter);
    m_wishList->addTopLevelItem(row);
    auto* box = new QCheckBox;
    box->setChecked(enabled);
    m_wishList->setItemWidget(row, 0, box);
    ItemPtr node = item.Connect(d.GetType("wish_list_node")->NewItem(Value(row)));
    node.Connect(d.GetType("wish_list_node_checkbox")->NewItem(Value(static_cast<QObject*>(box))));
    connect(box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
    m_buildingWishRow = false;
}

void SearchForm::OnWishListItemRemoved(ItemPtr item)
{
    ShowWishStates(item);
    ItemPtr node = item["wish_list_node"];
    if (!node)
        return;
    ItemPtr box = node["wish_list_node_checkbox"];
    QTreeWidgetItem* row = RowOfNode(node);
    box.Remove();
    node.Remove();
    delete row;
}

void SearchForm::OnWishListItemCheckStateChanged(int state)
{
    Type* boxes = d.GetType("wish_list_node_checkbox");
    ItemPtr box = boxes->HasItem(Value(static_cast<QObject*>(sender())));
    ItemPtr node = box["wish_list_node"];
    ItemPtr item = node["wish_list_item"];
    QTreeWidgetItem* row = RowOfNode(node);
    if (!item || !row)
        return;
    if (state == Qt::Checked) {
        item.Connect(d.GetType("wish_list_item_enabled")->GetGlobalNullItem());
        SetWishRowEnabled(row, true);
    } else if (state == Qt::Unchecked) {
        item.Disconnect("wish_list_item_enabled");
        SetWishRowEnabled(row, false);
    }
}

void SearchForm::OnWishListItemChanged(QTreeWidgetItem* row, int column)
{
    if (column != 1 || m_buildingWishRow || !row)
        return;
    // Surrounding blanks never become part of a wish: the row shows the text
    // that is kept, so its item (and the item's filter and tab) survives.
    const QString trimmed = row->text(1).trimmed();
    if (trimmed != row->text(1)) {
        m_buildingWishRow = true;
        row->setText(1, trimmed);
        m_buildingWishRow = false;
    }

    // Items whose text no row shows any more go; their rows stay.
    Type* wishes = d.GetType("wish_list_item");
    std::vector<ItemPtr> gone;
    for (ItemPtr item : wishes->GetItems()) {
        const QString text = item.AsString();
        bool shown = false;
        for (int i = 0; i < m_wishList->topLevelItemCount() && !shown; ++i)
            shown = m_wishList->topLevelItem(i)->text(1) == text;
        if (!shown)
            gone.push_back(item);
    }
    for (ItemPtr item : gone) {
        item.Disconnect("wish_list_node");
        item.Remove();
    }

    // New texts become items that keep the row and its check state.
    Type* nodes = d.GetType("wish_list_node");
    for (int i = 0; i < m_wishList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* each = m_wishList->topLevelItem(i);
        const QString text = each->text(1).trimmed();
        if (text.isEmpty()) {
            QueueDeleteNode(each);
            return;
        }
        if (wishes->HasItem(Value(text)))
            continue;
        ItemPtr item = wishes->NewItem(Value(text));
        ItemPtr node = nodes->HasItem(Value(each));
        if (node)
            item.Connect(node);
        auto* box = qobject_cast<QCheckBox*>(m_wishList->itemWidget(each, 0));
        if (box && box->isChecked())
            item.Connect(d.GetType("wish_list_item_enabled")->GetGlobalNullItem());
    }

    // Rows left without an item repeated another row's text.
    for (ItemPtr node : nodes->GetItems())
        if (!node["wish_list_item"])
            QueueDeleteNode(RowOfNode(node));
}

void SearchForm::QueueDeleteNode(QTreeWidgetItem* row)
{
    QMetaObject::invokeMethod(this, "DeleteNode", Qt::QueuedConnection, Q_ARG(QTreeWidgetItem*, row));
}

void SearchForm::DeleteNode(QTreeWidgetItem* row)
{
    // The row may have gone since the call was queued: it is found again by
    // its address among the rows before anything touches it.
    if (m_wishList->indexOfTopLevelItem(row) < 0)
        return;
    ItemPtr node = d.GetType("wish_list_node")->HasItem(Value(row));
    ItemPtr box = node["wish_list_node_checkbox"];
    delete row;
    box.Remove();
    node.Remove();
}

void SearchForm::OnWishListContextMenuRequested(const QPoint& pos)
{
    if (!m_wishList->itemAt(pos))
        return;
    QMenu menu;
    menu.addAction(QIcon(QStringLiteral(":/icons/wishlist_icon")), tr("Remove Wish List Search"), this,
        &SearchForm::OnRemoveWishListItemRequested);
    menu.exec(m_wishList->viewport()->mapToGlobal(pos));
}

void SearchForm::OnRemoveWishListItemRequested()
{
    // Collect first: each removal deletes its row.
    std::vector<ItemPtr> items;
    Type* nodes = d.GetType("wish_list_node");
    for (QTreeWidgetItem* row : m_wishList->selectedItems())
        if (ItemPtr item = nodes->HasItem(Value(row))["wish_list_item"])
            items.push_back(item);
    for (ItemPtr item : items)
        item.Remove();
}
