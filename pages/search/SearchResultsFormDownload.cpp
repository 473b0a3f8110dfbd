// Downloads from a results tab: the double click and the context menu.
#include "SearchResultListItem.h"
#include "SearchResultMenuOptions.h"
#include "SearchResultsForm.h"
#include "pages/users/UserMenuOptions.h"
#include "transfers/TransferQueueManager.h"
#include <QMenu>
#include <QTreeWidget>
#include <algorithm>

void SearchResultsForm::DownloadResults(const ItemList& results, bool single, ItemPtr searchText)
{
    if (!transferQueueManager)
        return;
    std::vector<TransferQueueManager::WantedDownload> wanted;
    const QString text = searchText.AsString();
    const QIcon icon(QStringLiteral(":/icons/download_icon"));
    for (ItemPtr result : results) {
        ItemPtr reply = result["search_results"];
        if (!reply)
            continue;
        // Names go to the engine as the bytes the peer sent, not as display
        // text.
        wanted.push_back({ reply["user"].AsString(), result["search_result_file_name"].Text(),
            result["search_result_file_folder"].Text(), result["file_size"].AsInt64(), single, 0, text });
        if (QTreeWidgetItem* row = result["search_result_node"].AsPointer<QTreeWidgetItem>())
            row->setIcon(FileColumn, icon);
    }
    transferQueueManager->AddDownloads(std::move(wanted));
}

void SearchResultsForm::OnResultDoubleClicked(QTreeWidgetItem* row, int)
{
    if (!row)
        return;
    ItemList results;
    bool fileRow = false;
    if (ItemPtr result = ResultOfRow(row)) {
        results.push_back(result);
        fileRow = true;
    } else if (FolderNode(row)) {
        results = FolderRowResults(row);
    } else if (ItemPtr userNode = UserNode(row)) {
        for (ItemPtr folderNode : userNode.GetItems("search_results_folder_node"))
            for (ItemPtr fileNode : folderNode.GetItems("search_result_node"))
                if (ItemPtr result = fileNode["search_result"])
                    results.push_back(result);
    }
    if (results.empty())
        return;
    std::stable_sort(results.begin(), results.end(), &SearchResultsForm::CompareSearchResults);
    ItemPtr searchText = SearchTextOfResult(results.front());
    if (!fileRow && transferQueueManager) {
        std::erase_if(results, [](ItemPtr result) {
            return transferQueueManager->HasExcludedDownloadExtension(result["search_result_file_name"].AsString());
        });
    }
    DownloadResults(results, fileRow, searchText);
}

void SearchResultsForm::OnContextMenuRequested(const QPoint& pos)
{
    auto* tree = qobject_cast<QTreeWidget*>(sender());
    QTreeWidgetItem* row = tree ? tree->itemAt(pos) : nullptr;
    if (!row)
        return;
    QString user;
    if (ItemPtr result = ResultOfRow(row))
        user = result["search_results"]["user"].AsString();
    else if (QTreeWidgetItem* userRow = GetNodeUserNode(row))
        user = SearchResultListItem::Name(*userRow, UserColumn);

    QMenu menu;
    SearchResultMenuOptions options(&menu, row, nullptr);
    UserMenuOptions userOptions(&menu, user, nullptr);
    if (menu.actions().isEmpty())
        return;
    menu.exec(tree->viewport()->mapToGlobal(pos));
}
