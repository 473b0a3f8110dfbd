// The Transfers page's context menus: the selected rows become one set of
// entries and the names of their users; the menu lives while it is shown.
#include "DownloadMenuOptions.h"
#include "TransfersForm.h"
#include "UploadMenuOptions.h"
#include "pages/search/SearchForm.h"
#include "pages/users/UserMenuOptions.h"
#include "server/Server.h"
#include "shell/TreeWidget.h"
#include <QMenu>
#include <memory>
#include <set>

// The selection becomes the menu's entries: all of a single selected row's,
// and within a larger selection only rows of at most one transfer (a folder or
// user row of several adds none). Its users count whatever the row.
void TransfersForm::ShowContextMenu(const TreeKind& kind, const QPoint& pos)
{
    const QList<QTreeWidgetItem*> rows = kind.tree->selectedItems();
    if (rows.isEmpty())
        return;
    ItemSet entries;
    std::set<Item*> users;
    for (QTreeWidgetItem* row : rows) {
        QTreeWidgetItem* userRow
            = &kind == &Downloads() ? GetDownloadNodeUserNode(row) : GetUploadNodeUserNode(row);
        if (ItemPtr user = NodeOf(kind.userNodeName, userRow)["user"])
            users.insert(user.Get());
        const ItemSet beneath = EntriesBeneath(kind, row);
        if (rows.size() == 1 || beneath.Size() <= 1)
            entries.Add(beneath);
    }
    auto menu = std::make_unique<QMenu>();
    std::unique_ptr<QObject> options;
    if (&kind == &Downloads())
        options = std::make_unique<DownloadMenuOptions>(menu.get(), entries);
    else
        options = std::make_unique<UploadMenuOptions>(menu.get(), entries);
    std::unique_ptr<UserMenuOptions> userOptions;
    if (users.size() == 1)
        userOptions = std::make_unique<UserMenuOptions>(menu.get(), ItemPtr(*users.begin()).AsString());
    menu->exec(kind.tree->viewport()->mapToGlobal(pos));
}

void TransfersForm::OnDownloadsContextMenuRequested(const QPoint& pos)
{
    ShowContextMenu(Downloads(), pos);
}

void TransfersForm::OnUploadsContextMenuRequested(const QPoint& pos)
{
    ShowContextMenu(Uploads(), pos);
}

bool TransfersForm::CanRerunSearch()
{
    return searchForm && gp_server;
}

void TransfersForm::RerunSearch(const QString& text)
{
    if (!CanRerunSearch())
        return;
    const quint32 token = gp_server->FileSearch(text, false);
    searchForm->CreateSearchForm(token, text, ManualSearch);
}
