#include "SearchResultMenuOptions.h"
#include "SearchResultsForm.h"
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "store/Data.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include <QMenu>
#include <QTreeWidget>

SearchResultMenuOptions::SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* row, QObject* parent)
    : QObject(parent)
    , m_row(row)
{
    if (!row)
        return;
    m_tree = row->treeWidget();
    ItemPtr reply;
    if (ItemPtr result = SearchResultsForm::ResultOfRow(row)) {
        menu->addAction(QIcon(QStringLiteral(":/icons/download_icon")), tr("Download File(s)"), this,
            &SearchResultMenuOptions::OnDownloadFile);
        reply = result["search_results"];
        m_folder = result["search_result_file_folder"].Text();
    } else if (ItemPtr folderNode = SearchResultsForm::FolderNode(row)) {
        const ItemList results = SearchResultsForm::FolderRowResults(row);
        if (!results.empty())
            reply = results.front()["search_results"];
        m_folder = folderNode["search_result_file_folder"].Text();
    } else {
        return; // a user row: only the user's own entries
    }
    m_searchText = reply["search_request"]["search_request_text"].AsString();
    m_user = reply["user"].AsString();
    menu->addAction(QIcon(QStringLiteral(":/icons/downloads_icon")), tr("Download Folder(s)"), this,
        &SearchResultMenuOptions::OnDownloadFolder);
    menu->addAction(QIcon(QStringLiteral(":/icons/browse_icon")), tr("Browse Folder"), this,
        &SearchResultMenuOptions::OnBrowseFolder);
}

SearchResultMenuOptions::~SearchResultMenuOptions() = default;

void SearchResultMenuOptions::OnDownloadFile()
{
    if (!m_tree)
        return;
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    ItemPtr searchText = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    ItemList results;
    for (QTreeWidgetItem* row : selected) {
        ItemPtr result = SearchResultsForm::ResultOfRow(row);
        if (!result)
            break; // the first row that is no file row ends the downloads
        results.push_back(result);
    }
    SearchResultsForm::DownloadResults(results, selected.size() == 1, searchText);
}

void SearchResultMenuOptions::OnDownloadFolder()
{
    if (!m_tree)
        return;
    ItemSet collected;
    for (QTreeWidgetItem* row : m_tree->selectedItems()) {
        if (SearchResultsForm::ResultOfRow(row)) {
            for (ItemPtr other : SearchResultsForm::FolderResultsOfFileRow(row))
                collected.Insert(other);
        } else if (SearchResultsForm::FolderNode(row)) {
            for (ItemPtr other : SearchResultsForm::FolderRowResults(row))
                collected.Insert(other);
        }
    }
    ItemPtr searchText = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    ItemList results;
    for (ItemPtr result : collected.SortAlphabeticBy("search_result_file_name", true, true)) {
        if (!transferQueueManager
            || !transferQueueManager->HasExcludedDownloadExtension(result["search_result_file_name"].AsString()))
            results.push_back(result);
    }
    SearchResultsForm::DownloadResults(results, false, searchText);
}

void SearchResultMenuOptions::OnBrowseFolder()
{
    if (!sharesForm || m_user.isEmpty())
        return;
    if (auto* form = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(m_user)))
        form->BrowseToFolder(Utf8Text(m_folder.data(), qsizetype(m_folder.size())));
}
