// The filter row of a results tab: the filter walk, saved filters and the
// default filter.
#include "FilterHelpDialog.h"
#include "SearchResultListItem.h"
#include "SearchResultsForm.h"
#include "store/Settings.h"
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {

void SetHidden(QTreeWidgetItem* row, bool hidden)
{
    // Asking first keeps the view from scheduling a layout for nothing.
    if (row->isHidden() != hidden)
        row->setHidden(hidden);
}

} // namespace

QString SearchResultsForm::FilterKey(const QString& text)
{
    return text.simplified().toLower();
}

bool SearchResultsForm::FilterFolderRow(QTreeWidgetItem* folderRow, const FilterParser& filter) const
{
    FilterParser remainder;
    if (filter.IsMatching(SearchResultListItem::Name(*folderRow, FolderColumn), &remainder, ItemPtr())
        == FilterParser::Excluded) {
        SetHidden(folderRow, true);
        return false;
    }
    const bool testItems = filter.HasAttributes();
    int visible = 0;
    for (int i = 0; i < folderRow->childCount(); ++i) {
        QTreeWidgetItem* fileRow = folderRow->child(i);
        const ItemPtr item = testItems ? ResultOfRow(fileRow) : ItemPtr();
        // A row whose result is gone can't pass an attribute test.
        const bool shown = (!testItems || item)
            && remainder.IsMatching(SearchResultListItem::Name(*fileRow, FileColumn), nullptr, item)
                == FilterParser::Match;
        SetHidden(fileRow, !shown);
        visible += shown ? 1 : 0;
    }
    const bool shown = visible > 0 && visible >= filter.MinFilesInFolder();
    SetHidden(folderRow, !shown);
    return shown;
}

void SearchResultsForm::UpdateUserRow(QTreeWidgetItem* userRow) const
{
    bool shown = false;
    for (int i = 0; i < userRow->childCount() && !shown; ++i)
        shown = !userRow->child(i)->isHidden();
    SetHidden(userRow, !shown);
}

bool SearchResultsForm::FlatRowPasses(QTreeWidgetItem* row, const FilterParser& filter) const
{
    const ItemPtr result = ResultOfRow(row);
    const QString text = result["search_result_file_folder"].AsString() + QLatin1Char('\\')
        + result["search_result_file_name"].AsString();
    return result && filter.IsMatching(text, nullptr, result) == FilterParser::Match;
}

void SearchResultsForm::OnFilterTextChanged(const QString& text)
{
    ItemPtr tabItem = WidgetItem();
    if (ItemPtr wish = tabItem["wish_list_item"]) {
        // Every keystroke makes a text; the one left behind by nobody goes.
        ItemPtr previous = wish["wish_list_item_filter_text"];
        ItemPtr current = d.GetType("wish_list_item_filter_text")->GetItem(Value(text));
        wish.Connect(current);
        if (previous && previous != current && previous.IsDisconnectedFromAll())
            previous.Remove();
    }

    FilterParser filter;
    filter.Parse(text);
    if (m_oldStyle) {
        for (int i = 0; i < m_results->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = m_results->topLevelItem(i);
            SetHidden(row, !FlatRowPasses(row, filter));
        }
    } else {
        for (int i = 0; i < m_results->topLevelItemCount(); ++i) {
            QTreeWidgetItem* userRow = m_results->topLevelItem(i);
            for (int j = 0; j < userRow->childCount(); ++j)
                FilterFolderRow(userRow->child(j), filter);
            UpdateUserRow(userRow);
        }
    }

    Type* saved = d.HasType("saved_filter");
    const bool isSaved = saved && saved->HasItem(Value(FilterKey(text)));
    if (isSaved && m_saveFilter->text() == tr("Save Filter"))
        m_saveFilter->setText(tr("Remove Filter"));
    else if (!isSaved && m_saveFilter->text() == tr("Remove Filter"))
        m_saveFilter->setText(tr("Save Filter"));

    if (text.isEmpty())
        m_defaultFilter->setChecked(false);
    else
        m_defaultFilter->setChecked(settings.Has("default_search_filter") && settings.Get("default_search_filter") == text);
}

void SearchResultsForm::OnSaveFilterClicked()
{
    const QString key = FilterKey(m_filterEdit->text());
    Type* saved = d.GetType("saved_filter");
    if (ItemPtr existing = saved->HasItem(Value(key)))
        existing.Remove();
    else if (!key.isEmpty())
        saved->NewItem(Value(key));
}

void SearchResultsForm::OnSavedFilterAdded(ItemPtr item)
{
    m_savedFilters->addItem(item.AsString());
    OnFilterTextChanged(m_filterEdit->text());
}

void SearchResultsForm::OnSavedFilterRemoved(ItemPtr item)
{
    const int index = m_savedFilters->findText(item.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index > 0)
        m_savedFilters->removeItem(index);
    OnFilterTextChanged(m_filterEdit->text());
}

void SearchResultsForm::OnSavedFiltersBoxIndexChanged(int index)
{
    if (index <= 0)
        return;
    m_filterEdit->setText(m_savedFilters->itemText(index));
    m_savedFilters->setCurrentIndex(0);
}

void SearchResultsForm::OnClearFilterClicked()
{
    m_filterEdit->clear();
}

void SearchResultsForm::OnDefaultFilterBoxToggled(bool checked)
{
    if (!checked) {
        settings.Clear("default_search_filter");
        return;
    }
    const QString text = m_filterEdit->text();
    if (text.isEmpty()) {
        m_defaultFilter->setChecked(false);
        return;
    }
    settings.Set("default_search_filter", Value(text));
}

void SearchResultsForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}
