// The Transfers page's commands: completion alerts and automatic clearing of
// complete downloads, the tool-bar actions, the Delete key, the double click
// on a download and the upload controls.
#include "CompleteDownloadsForm.h"
#include "TransfersForm.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/ToQString.h"
#include "transfers/TransferQueueManager.h"
#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QSpinBox>
#include <QUrl>

namespace {

void RaiseDownloadEvent(QWidget* widget, const QString& text, const QString& alert)
{
    if (eventToolBar)
        eventToolBar->AddEvent(text, QStringLiteral(":/icons/download_icon"), widget, alert,
            QStringLiteral("download"), false);
}

} // namespace

void TransfersForm::OnDownloadComplete(ItemPtr entry)
{
    // Only an entry that is still there: it may have been removed while this
    // call waited in the queue. While saved rows are built, they wait for
    // all to be in (the figures of their folder and user rows then hold
    // every download beneath).
    if (m_buildingRows || !m_pendingComplete->Contains(entry))
        return;
    m_pendingComplete->Erase(entry);

    if (ItemPtr alert = entry["complete_download_alert"]) {
        const QString name = IsolatedText(entry["file_name"].AsString());
        RaiseDownloadEvent(m_downloadsList, name, QStringLiteral("Download of file %1 complete").arg(name));
        if (QTreeWidgetItem* row = DownloadRow(entry))
            row->setIcon(2, QIcon());
        alert.Remove();
    }

    ItemPtr user = entry["user"];
    ItemPtr folder = entry["remote_folder"];
    // The folder row holds the user's downloads of that folder and the user
    // row all of theirs: their figures say whether all are complete, without
    // a walk over them at each completion.
    QTreeWidgetItem* row = DownloadRow(entry);
    QTreeWidgetItem* folderRow = row ? row->parent() : nullptr;
    const auto allComplete = [](QTreeWidgetItem* parent) {
        return parent && FiguresOf(parent).complete == FiguresOf(parent).entries;
    };
    if (allComplete(folderRow)) {
        if (ItemPtr alert = d.GetItem(user, folder, "complete_download_alert")) {
            const QString name = IsolatedText(ToQString(GetFileName(folder.Text())));
            RaiseDownloadEvent(m_downloadsList, name, QStringLiteral("Download of folder %1 complete").arg(name));
            if (QTreeWidgetItem* row = DownloadRow(entry))
                row->parent()->setIcon(1, QIcon());
            alert.Remove();
        }
    }

    if (folderRow && allComplete(folderRow->parent())) {
        const ItemSet alerts = user.GetItems("complete_download_alert").NotConnected("remote_folder");
        if (!alerts.Empty()) {
            const QString name = IsolatedText(user.AsString());
            RaiseDownloadEvent(m_downloadsList, name, QStringLiteral("All download from user %1 complete").arg(name));
            if (auto* row = user["download_list_user_node"].AsPointer<QTreeWidgetItem>())
                row->setIcon(0, QIcon());
            alerts.Remove();
        }
    }

    if (settings.IsYes("clear_complete_downloads") && transferQueueManager)
        transferQueueManager->RemoveDownload(entry);
}

void TransfersForm::OnActionBarTriggered(QWidget*, QString id)
{
    if (id == QLatin1String("expand_download_folders"))
        ToggleExpand(m_downloadsList, m_expandDownloadFolders, "expand_download_folders",
            QStringLiteral("Expand Folders"), false);
    else if (id == QLatin1String("expand_download_users"))
        ToggleExpand(m_downloadsList, m_expandDownloadUsers, "expand_download_users", QStringLiteral("Expand Users"),
            true);
    else if (id == QLatin1String("clear_complete_downloads")) {
        LiveItemSet complete("download_entry",
            d.GetType("download_entry_status")->HasItem("complete").GetItems("download_entry"));
        while (ItemPtr entry = complete.TakeFirst())
            transferQueueManager->RemoveDownload(entry);
    } else if (id == QLatin1String("expand_upload_folders"))
        ToggleExpand(m_uploadsList, m_expandUploadFolders, "expand_upload_folders", QStringLiteral("Expand Folders"),
            false);
    else if (id == QLatin1String("expand_upload_users"))
        ToggleExpand(m_uploadsList, m_expandUploadUsers, "expand_upload_users", QStringLiteral("Expand Users"), true);
    else if (id == QLatin1String("clear_complete_and_aborted_uploads"))
        ClearCompleteAndAbortedUploads();
    else if (id == QLatin1String("finish_uploads_and_quit"))
        ToggleFinishUploadsAndQuit();
    else if (id == QLatin1String("complete_downloads"))
        ShowCompleteDownloads();
}

void TransfersForm::ToggleExpand(QTreeWidget* tree, bool& flag, const char* id, const QString& label, bool users)
{
    flag = !flag;
    if (actionBar)
        actionBar->SetWidgetActionText(tree, QString::fromLatin1(id),
            label + (flag ? QStringLiteral(" [on]") : QStringLiteral(" [off]")));
    for (int k = 0; k < tree->topLevelItemCount(); ++k) {
        QTreeWidgetItem* userRow = tree->topLevelItem(k);
        if (users) {
            flag ? tree->expandItem(userRow) : tree->collapseItem(userRow);
            continue;
        }
        for (int f = 0; f < userRow->childCount(); ++f)
            flag ? tree->expandItem(userRow->child(f)) : tree->collapseItem(userRow->child(f));
    }
}

void TransfersForm::ClearCompleteAndAbortedUploads()
{
    if (!transferQueueManager)
        return;
    Type* statuses = d.GetType("upload_entry_status");
    ItemSet finished;
    for (ItemPtr status : statuses->GetItems()) {
        if (!status.IsConnected("is_active") && status.Text() != "queued")
            finished.Add(status.GetItems("upload_entry"));
    }
    LiveItemSet first("upload_entry", finished);
    while (ItemPtr entry = first.TakeFirst())
        transferQueueManager->RemoveUpload(entry);

    const QDateTime now = QDateTime::currentDateTime();
    LiveItemSet queued("upload_entry", statuses->HasItem("queued").GetItems("upload_entry"));
    while (ItemPtr entry = queued.TakeFirst()) {
        ItemPtr user = entry["user"];
        ItemPtr change = user["last_online_status_change"];
        if (user.IsConnected("is_online") || !change)
            continue;
        const QDateTime since = QDateTime::fromString(change.AsString(), Qt::TextDate);
        if (since.isValid() && since.secsTo(now) > 299)
            transferQueueManager->RemoveUpload(entry);
    }
}

void TransfersForm::ToggleFinishUploadsAndQuit()
{
    const bool on = runtimeSettings.IsYes("finish_uploads_and_quit");
    runtimeSettings.Set("finish_uploads_and_quit", on ? "no" : "yes");
    if (actionBar)
        actionBar->SetWidgetActionText(m_uploadsList, QStringLiteral("finish_uploads_and_quit"),
            on ? QStringLiteral("Finish Uploads and Quit [off]") : QStringLiteral("Finish Uploads and Quit [on]"));
}

void TransfersForm::ShowCompleteDownloads()
{
    if (!m_completeDownloads) {
        m_completeDownloads = new CompleteDownloadsForm(this);
        m_tabControl->addTab(m_completeDownloads, QStringLiteral("Complete"));
        m_completeDownloads->Init();
    }
    m_tabControl->setCurrentWidget(m_completeDownloads);
    m_completeDownloads->setVisible(true);
}

void TransfersForm::OnKeyPressedInDownloadList(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        DeleteSelectedDownloads();
}

void TransfersForm::OnKeyPressedInUploadList(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        DeleteSelectedUploads();
}

// Every entry beneath the selected rows is gathered first and each live one
// removed once: a user row and its own file rows may be selected together.
void TransfersForm::DeleteSelected(const TreeKind& kind)
{
    ItemSet entries;
    for (QTreeWidgetItem* row : kind.tree->selectedItems())
        entries.Add(EntriesBeneath(kind, row));
    LiveItemSet live(kind.entryType, entries);
    const bool downloads = &kind == &Downloads();
    while (ItemPtr entry = live.TakeFirst())
        downloads ? transferQueueManager->RemoveDownload(entry) : transferQueueManager->RemoveUpload(entry);
}

void TransfersForm::DeleteSelectedDownloads()
{
    DeleteSelected(Downloads());
}

void TransfersForm::DeleteSelectedUploads()
{
    DeleteSelected(Uploads());
}

void TransfersForm::OpenDownloadPath(const QString& itemPath)
{
    // Nothing opens for a path that would leave the downloads folder.
    const QString path = transferQueueManager ? transferQueueManager->LocalPath(itemPath) : QString();
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* row, int)
{
    ItemPtr node = NodeOf("download_list_node", row);
    if (node && transferQueueManager)
        OpenDownloadPath(transferQueueManager->GetCompleteFilePath(node["download_entry"]));
}

void TransfersForm::OnUploadSlotsSpinValueChanged(int value)
{
    transferQueueManager->SetUploadSlots(value);
}

void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int value)
{
    m_uploadLimitCheckBox->setChecked(value != 0);
    transferQueueManager->SetUploadSpeedLimit(value);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int state)
{
    if (state != Qt::PartiallyChecked)
        transferQueueManager->EnableUploadSpeedLimit(state == Qt::Checked);
}
