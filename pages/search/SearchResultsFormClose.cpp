// Closing a results tab: its rows, their node items and the replies of its
// searches go a slice at a time, so that a tab of hundreds of thousands of
// results closes without holding the window. The node items are reached
// through the store (tab, user, folder, result), never looked up by a row's
// address.
#include "SearchResultsForm.h"
#include "store/SlicedWork.h"
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>

namespace {

// The C library keeps small freed blocks aside and merges all of them at the
// next large block freed, whenever that comes: after a tab's hundreds of
// thousands of small blocks, one merge would hold the window for a long time.
// A large block freed after each batch makes the merge come a batch at a time.
void MergeFreedBlocks()
{
    void* volatile block = std::malloc(96 * 1024);
    std::free(block);
}

// What a result holds that nothing else may hold once it goes.
constexpr const char* kResultAttributes[] = { "search_result_file_name", "search_result_file_folder", "file_size",
    "bitrate", "bitrate_mode", "length_seconds" };

} // namespace

void SearchResultsForm::Dismantle(ItemPtr widgetItem)
{
    if (m_dismantling)
        return;
    m_dismantling = true;
    // The searches take no more replies meanwhile.
    ItemPtr stopped = d.GetType("search_stopped")->GetGlobalNullItem();
    for (ItemPtr request : widgetItem.GetItems("search_request")) {
        request.Connect(stopped);
        m_closingRequests.push_back(request);
    }
    for (ItemPtr userNode : widgetItem.GetItems("search_results_user_node"))
        m_closingUserNodes.push_back(userNode);
    // Held across turns: one removed meanwhile by another hand is let go.
    Subscribe(d.GetType("search_request")->itemRemoved, &SearchResultsForm::OnClosingItemRemoved);
    Subscribe(d.GetType("search_results_user_node")->itemRemoved, &SearchResultsForm::OnClosingItemRemoved);
    widgetItem.Remove();
    // The view is hidden now; with a layout pending it only forgets a row
    // that closes, and takes rows out without laying out the rest.
    m_results->setUpdatesEnabled(false);
    m_results->setRootIndex(m_results->rootIndex());
    DismantleSlice(true);
}

void SearchResultsForm::OnClosingItemRemoved(ItemPtr item)
{
    std::erase(m_closingRequests, item);
    std::erase(m_closingUserNodes, item);
}

void SearchResultsForm::DismantleSlice(bool timed)
{
    if (!m_dismantling)
        return;
    const QDeadlineTimer turn = SlicedWork::Turn();
    auto more = [&] { return !timed || !turn.hasExpired(); };
    // The rows close, then leave the tree one top-level row at a time (a row
    // taken out costs a walk over the rows still open).
    while (m_closedTops < m_results->topLevelItemCount() && more()) {
        QTreeWidgetItem* top = m_results->topLevelItem(m_closedTops++);
        if (top->childCount() == 0)
            continue; // a row of the flat list
        for (int i = 0; i < top->childCount(); ++i)
            top->child(i)->setExpanded(false);
        top->setExpanded(false);
    }
    while (m_closedTops >= m_results->topLevelItemCount() && m_results->topLevelItemCount() > 0 && more()) {
        for (int n = 0; n < 16 && m_results->topLevelItemCount() > 0; ++n)
            m_doomedRows.push_back(m_results->takeTopLevelItem(m_results->topLevelItemCount() - 1));
    }
    // Rows out of the tree, children first.
    while (!m_doomedRows.empty() && more()) {
        for (int n = 0; n < 256 && !m_doomedRows.empty(); ++n) {
            QTreeWidgetItem* row = m_doomedRows.back();
            if (row->childCount() > 0) {
                m_doomedRows.push_back(row->takeChild(row->childCount() - 1));
                continue;
            }
            m_doomedRows.pop_back();
            delete row;
        }
        MergeFreedBlocks();
    }
    // The tab's indexes of rows and names.
    while (!m_fileRows.Empty() && more()) {
        m_fileRows.Forget(4096);
        MergeFreedBlocks();
    }
    while (more() && !m_names.Forget(4096))
        MergeFreedBlocks();
    // The user and folder nodes.
    while (!m_closingUserNodes.empty() && more()) {
        ItemPtr userNode = m_closingUserNodes.back();
        m_closingUserNodes.pop_back();
        userNode.GetItems("search_results_folder_node").Remove();
        userNode.Remove();
    }
    // The replies, one at a time, with their results, the results' nodes and
    // the attributes only they held; a big reply's results a batch at a time.
    while (!m_closingRequests.empty() && more()) {
        ItemPtr request = m_closingRequests.back();
        ItemPtr reply = request["search_results"];
        if (!reply) {
            m_closingRequests.pop_back();
            request.Remove();
            continue;
        }
        std::vector<ItemPtr> attributes;
        for (int n = 0; n < SlicedWork::kItemsAtOnce; ++n) {
            ItemPtr result = reply["search_result"];
            if (!result)
                break;
            result["search_result_node"].Remove();
            for (const char* type : kResultAttributes)
                if (ItemPtr attribute = result[type])
                    attributes.push_back(attribute);
            result.Remove();
        }
        if (!reply.IsConnected("search_result"))
            reply.Remove();
        // Results share attributes: each is looked at once.
        std::sort(attributes.begin(), attributes.end(), [](ItemPtr a, ItemPtr b) { return a.Get() < b.Get(); });
        attributes.erase(std::unique(attributes.begin(), attributes.end()), attributes.end());
        for (ItemPtr attribute : attributes)
            if (attribute.IsDisconnectedFromAll())
                attribute.Remove();
    }
    if (!timed)
        return;
    if (m_results->topLevelItemCount() > 0 || !m_doomedRows.empty() || !m_fileRows.Empty() || !m_names.Forget(0) || !m_closingUserNodes.empty()
        || !m_closingRequests.empty())
        m_dismantleTurn.Wake();
    else
        deleteLater();
}
