// The Search page's tool-bar actions.
#include "SearchForm.h"
#include "SearchResultsForm.h"
#include "shell/ActionSetToolBar.h"
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

namespace {

// Flips the tab's "yes"/"no" state of a toggle; true when it is now on.
bool Toggle(ItemPtr widgetItem, const char* type)
{
    const bool on = widgetItem[type].AsStdString() == "no";
    widgetItem.Connect(d.GetType(type)->GetItem(on ? "yes" : "no"));
    return on;
}

} // namespace

void SearchForm::OnActionBarTriggered(QWidget* widget, QString key)
{
    auto* form = qobject_cast<SearchResultsForm*>(widget);
    if (key == QLatin1String("expand_folders") || key == QLatin1String("expand_users")) {
        ItemPtr widgetItem = form ? form->WidgetItem() : ItemPtr();
        if (!widgetItem)
            return;
        const bool folders = key == QLatin1String("expand_folders");
        const bool on = Toggle(widgetItem, folders ? "expand_folders" : "expand_users");
        const QString text = folders ? tr("Expand Folders") : tr("Expand Users");
        actionBar->SetWidgetActionText(form, key, text + (on ? tr(" [on]") : tr(" [off]")));
        QTreeWidget* tree = form->searchResults();
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* userRow = tree->topLevelItem(i);
            if (!folders) {
                userRow->setExpanded(on);
                continue;
            }
            for (int j = 0; j < userRow->childCount(); ++j)
                userRow->child(j)->setExpanded(on);
        }
    } else if (key == QLatin1String("order_by_available") || key == QLatin1String("order_by_fastest")) {
        if (!form)
            return;
        const bool available = key == QLatin1String("order_by_available");
        actionBar->SetWidgetActionText(
            form, QStringLiteral("order_by_available"), available ? tr("Order by Available [on]") : tr("Order by Available"));
        actionBar->SetWidgetActionText(
            form, QStringLiteral("order_by_fastest"), available ? tr("Order by Fastest") : tr("Order by Fastest [on]"));
        form->SetSortingParamters(available ? 1 : 2, Qt::DescendingOrder);
        form->Sort();
    } else if (key == QLatin1String("add_remove_wishlist") || key == QLatin1String("stop_search")
        || key == QLatin1String("reenter_search")) {
        SearchResultsForm* current = GetCurrentSearchResultsForm();
        ItemPtr request = current ? current->WidgetItem().GetItems("search_request").First() : ItemPtr();
        if (!request)
            return;
        ItemPtr text = request["search_request_text"];
        if (key == QLatin1String("add_remove_wishlist")) {
            Type* wishes = d.GetType("wish_list_item");
            ItemPtr wish = wishes->HasItem(Value(text.Text()));
            // Once the text is a wish the button reads "Remove from Wish List"
            // on every tab of it, and does so.
            if (wish) {
                wish.Remove();
            } else if (!request.IsConnected("wishlist_search") && !text.Text().empty()) {
                wish = wishes->NewItem(Value(text.Text()));
                wish.Connect(d.GetType("wish_list_item_enabled")->GetGlobalNullItem());
                OnWishListItemAdded(wish);
            }
        } else if (key == QLatin1String("stop_search")) {
            request.Connect(d.GetType("search_stopped")->GetGlobalNullItem());
            actionBar->SetWidgetActionText(current, key, tr("Search Stopped"));
        } else {
            m_searchEdit->lineEdit()->setText(text.AsString());
            m_searchEdit->setFocus();
        }
    } else if (key == QLatin1String("enable_all_wish_list_items")) {
        SetCheckBoxes(true);
    } else if (key == QLatin1String("disable_all_wish_list_items")) {
        SetCheckBoxes(false);
    }
}

void SearchForm::SetCheckBoxes(bool checked)
{
    for (ItemPtr wish : d.GetType("wish_list_item")->GetItems()) {
        ItemPtr box = wish["wish_list_node"]["wish_list_node_checkbox"];
        if (auto* checkBox = box.AsPointer<QCheckBox>())
            checkBox->setChecked(checked);
    }
}
