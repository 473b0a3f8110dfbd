#include "DownloadMenuOptions.h"
#include "TransfersForm.h"
#include "shell/Kit.h"
#include "transfers/TransferQueueManager.h"
#include <QMenu>
#include <QTreeWidgetItem>

namespace {

QIcon Icon(const char* name)
{
    return QIcon(QString::fromLatin1(name));
}

bool IsComplete(ItemPtr entry)
{
    return entry["download_entry_status"].Text() == "complete";
}

bool AnyPending(const ItemSet& entries)
{
    for (ItemPtr entry : entries) {
        if (!IsComplete(entry))
            return true;
    }
    return false;
}

// The one item of the type that all entries share, or a null handle.
ItemPtr SharedItem(const ItemSet& entries, const char* type)
{
    const ItemSet all = entries.GetItems(type);
    return all.Size() == 1 ? all.First() : ItemPtr();
}

} // namespace

DownloadMenuOptions::DownloadMenuOptions(QMenu* menu, const ItemSet& entries, QObject* parent)
    : QObject(parent)
    , m_entries("download_entry", entries)
    , m_user("user")
    , m_remoteFolder("remote_folder")
{
    if (entries.Empty())
        return;
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    const bool several = entries.Size() > 1;
    ItemPtr first = entries.First();
    const bool firstComplete = IsComplete(first);
    const bool firstActive = first["download_entry_status"].IsConnected("is_active");
    if (!several && firstComplete)
        menu->addAction(Icon(":/icons/play_icon"), QStringLiteral("Open File"), this, &DownloadMenuOptions::OnOpenFile);
    menu->addAction(Icon(":/icons/folder_icon"), QStringLiteral("Open Folder"), this, &DownloadMenuOptions::OnOpenFolder);
    if (several || (!firstComplete && !firstActive))
        menu->addAction(Icon(":/icons/transfer_icon"),
            several ? QStringLiteral("Retry downloads") : QStringLiteral("Retry download"), this,
            &DownloadMenuOptions::OnRetryDownloads);
    menu->addSeparator();
    menu->addAction(Icon(":/icons/transfer_icon"),
        several ? QStringLiteral("Remove downloads") : QStringLiteral("Remove download"), this,
        &DownloadMenuOptions::OnRemoveDownloads);

    if (ItemPtr user = SharedItem(entries, "user"))
        m_user.Insert(user);
    if (ItemPtr folder = SharedItem(entries, "remote_folder"))
        m_remoteFolder.Insert(folder);
    AddAlertEntries(menu);

    ItemPtr search = first["search_request_text"];
    if (search && TransfersForm::CanRerunSearch()) {
        m_searchText = search.AsString();
        menu->addAction(Icon(":/icons/search_icon"), PlainLabel(QStringLiteral("Re-run Search: ") + m_searchText),
            this, &DownloadMenuOptions::OnRerunSearch);
    }
}

void DownloadMenuOptions::AddAlertEntries(QMenu* menu)
{
    auto* alerts = new QMenu(QStringLiteral("Notify me when..."), menu);
    alerts->setIcon(Icon(":/icons/alert_icon"));
    ItemPtr user = m_user.Items().First();
    ItemPtr folder = m_remoteFolder.Items().First();
    if (m_entries.Size() == 1) {
        ItemPtr entry = m_entries.Items().First();
        if (!entry.IsConnected("complete_download_alert") && !IsComplete(entry))
            alerts->addAction(QStringLiteral("File download completes"), this,
                &DownloadMenuOptions::OnSetFileDownloadAlert);
    }
    if (user && folder && !d.GetItem(user, folder, "complete_download_alert")
        && AnyPending(folder.GetItems("download_entry").Connected(user)))
        alerts->addAction(
            QStringLiteral("Folder download completes"), this, &DownloadMenuOptions::OnSetFolderDownloadAlert);
    if (user && user["download_list_user_node"].CountItems("download_list_folder_node") > 1
        && user.GetItems("complete_download_alert").NotConnected("remote_folder").Empty()
        && AnyPending(user.GetItems("download_entry")))
        alerts->addAction(QStringLiteral("All downloads from user complete"), this,
            &DownloadMenuOptions::OnSetUserDownloadAlert);
    if (alerts->actions().isEmpty())
        delete alerts;
    else
        menu->addMenu(alerts);
}

void DownloadMenuOptions::OnOpenFile()
{
    if (ItemPtr entry = m_entries.Items().First())
        TransfersForm::OpenDownloadPath(transferQueueManager->GetCompleteFilePath(entry));
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (ItemPtr entry = m_entries.Items().First())
        TransfersForm::OpenDownloadPath(transferQueueManager->GetDownloadTargetFolder(entry, true));
}

void DownloadMenuOptions::OnRetryDownloads()
{
    LiveItemSet entries("download_entry", m_entries.Items());
    while (ItemPtr entry = entries.TakeFirst())
        transferQueueManager->RequeueDownload(entry);
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    LiveItemSet entries("download_entry", m_entries.Items());
    while (ItemPtr entry = entries.TakeFirst())
        transferQueueManager->RemoveDownload(entry);
}

void DownloadMenuOptions::OnRerunSearch()
{
    TransfersForm::RerunSearch(m_searchText);
}

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    ItemPtr entry = m_entries.Items().First();
    if (!entry || entry.IsConnected("complete_download_alert"))
        return;
    if (QTreeWidgetItem* row = TransfersForm::DownloadRow(entry))
        row->setIcon(2, Icon(":/icons/alert_icon"));
    d.GetType("complete_download_alert")->NewItem() += entry;
}

void DownloadMenuOptions::OnSetFolderDownloadAlert()
{
    ItemPtr user = m_user.Items().First();
    ItemPtr folder = m_remoteFolder.Items().First();
    if (!user || !folder || d.GetItem(user, folder, "complete_download_alert"))
        return;
    ItemPtr node = d.GetItem(user["download_list_user_node"], folder, "download_list_folder_node");
    if (auto* row = node.AsPointer<QTreeWidgetItem>())
        row->setIcon(1, Icon(":/icons/alert_icon"));
    ItemPtr alert = d.GetType("complete_download_alert")->NewItem();
    alert += user;
    alert += folder;
}

void DownloadMenuOptions::OnSetUserDownloadAlert()
{
    ItemPtr user = m_user.Items().First();
    if (!user)
        return;
    if (auto* row = user["download_list_user_node"].AsPointer<QTreeWidgetItem>())
        row->setIcon(0, Icon(":/icons/alert_icon"));
    d.GetType("complete_download_alert")->NewItem() += user;
}
