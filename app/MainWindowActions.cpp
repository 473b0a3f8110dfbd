// The window's tool-bar actions, the shared-folder list of the File Sharing
// page with its context menu, the excluded-extensions field and the import of
// the older client's user list.
#include "MainWindow.h"
#include "pages/browse/AddSharedFolderDialog.h"
#include "pages/transfers/TransfersForm.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ChangeListeningPortDialog.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/ColorSelectionDialog.h"
#include "shell/ExcludedExtensionsDialog.h"
#include "shell/Kit.h"
#include "store/ConfigurationImporter.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTreeWidget>
#include <algorithm>

void MainWindow::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    if (i_action == QLatin1String("share_folder")) {
        (new AddSharedFolderDialog(ItemPtr(), this))->show();
    } else if (i_action == QLatin1String("set_download_folder")) {
        const QString path = QDir::fromNativeSeparators(QFileDialog::getExistingDirectory(
            this, QStringLiteral("Set Download Folder"), ChooserStart(settings.Get("download_folder")),
            QFileDialog::ShowDirsOnly));
        if (path.isEmpty())
            return;
        settings.Set("download_folder", Value(path));
        m_ui->downloadFolderEdit->setText(path);
    } else if (i_action == QLatin1String("rescan_shares")) {
        m_rescanAsked = true;
        sharedFoldersManager->RescanShares();
    } else if (i_action == QLatin1String("set_user_pass")) {
        if (gp_server->IsConnected()) {
            QMessageBox::information(this, QStringLiteral("Cannot change username while online"),
                QStringLiteral("You must be disconnected from the Marrowby server to change your username."));
            return;
        }
        (new ChangeUsernamePasswordDialog(false, this))->show();
    } else if (i_action == QLatin1String("set_listening_port")) {
        (new ChangeListeningPortDialog(this))->show();
    } else if (i_action == QLatin1String("connect_disconnect")) {
        if (gp_server->IsConnected()) {
            gp_server->Disconnect();
        } else {
            m_connectAsked = true;
            gp_server->Connect();
        }
    }
}

// ---- Shared-folder list ----------------------------------------------------

QTreeWidgetItem* MainWindow::FindFolderRow(const QString& path) const
{
    QTreeWidget* list = m_ui->sharedFoldersList;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == path)
            return list->topLevelItem(i);
    }
    return nullptr;
}

void MainWindow::OnSharedFolderAdded(ItemPtr folder)
{
    auto* row = new QTreeWidgetItem(m_ui->sharedFoldersList);
    row->setText(0, folder.AsString());
}

void MainWindow::OnSharedFolderRemoved(ItemPtr folder)
{
    delete FindFolderRow(folder.AsString());
}

void MainWindow::OnSharedFolderChange(ConnectionInfo& info)
{
    const std::string other = info.second.GetType() ? info.second.GetType()->Name() : std::string();
    if (other != "shared_public" && other != "shared_userlist" && other != "user_list_group")
        return;
    QTreeWidgetItem* row = FindFolderRow(info.first.AsString());
    if (!row)
        return;
    ItemPtr folder = info.first;
    QString access;
    if (folder.IsConnected("shared_public")) {
        access = QStringLiteral("Everyone");
    } else if (folder.IsConnected("shared_userlist")) {
        access = QStringLiteral("User List");
    } else {
        QStringList groups;
        for (ItemPtr group : folder.GetItems("user_list_group"))
            groups.append(group.AsString());
        std::sort(groups.begin(), groups.end());
        access = groups.join(QStringLiteral(", "));
    }
    row->setText(1, access);
}

ItemPtr MainWindow::SelectedFolder() const
{
    const QList<QTreeWidgetItem*> selected = m_ui->sharedFoldersList->selectedItems();
    if (selected.isEmpty())
        return ItemPtr();
    return d.GetType("shared_folder")->HasItem(Value(selected.first()->text(0)));
}

void MainWindow::OnSharedFoldersListContextMenuRequested(const QPoint& pos)
{
    QTreeWidget* list = m_ui->sharedFoldersList;
    if (!list->itemAt(pos))
        return;
    QMenu menu(this);
    const QIcon icon(QStringLiteral(":/icons/browse_icon"));
    menu.addAction(icon, QStringLiteral("Set Folder Permissions"), this, &MainWindow::OnSetFolderPermissions);
    menu.addAction(icon, QStringLiteral("Unshare Folder"), this, &MainWindow::OnUnshareFolder);
    menu.exec(list->viewport()->mapToGlobal(pos));
}

void MainWindow::OnUnshareFolder()
{
    // The item is found from the row first; removing it deletes the row.
    ItemPtr folder = SelectedFolder();
    if (folder.IsNull())
        return;
    folder.Remove();
    d.RemoveDisconnectedItems();
}

void MainWindow::OnSetFolderPermissions()
{
    ItemPtr folder = SelectedFolder();
    if (folder.IsNull())
        return;
    (new AddSharedFolderDialog(folder, this))->show();
}

// ---- Other option buttons --------------------------------------------------

void MainWindow::OnSelectColors()
{
    auto* dialog = new ColorSelectionDialog(this);
    if (transfersForm)
        connect(dialog, &ColorSelectionDialog::ColorsSaved, transfersForm, &TransfersForm::RecolorEntries);
    dialog->show();
}

void MainWindow::OnEditExcludedDownloadExtensionsClicked()
{
    if (!excludedExtensionsDialog)
        new ExcludedExtensionsDialog(this);
    excludedExtensionsDialog->show();
    excludedExtensionsDialog->raise();
    // The window, not the dialog widget: it keeps the keyboard in its input.
    excludedExtensionsDialog->activateWindow();
}

void MainWindow::OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr)
{
    QStringList values;
    for (ItemPtr extension : d.GetType("excluded_download_extension")->GetItems()) {
        if (extension != m_removingExtension)
            values.append(extension.AsString());
    }
    m_ui->excludedExtensionsEdit->setText(values.join(QLatin1Char(' ')));
}

void MainWindow::OnImportUserListClicked()
{
    const QString title = QStringLiteral("Importing user list from original Marrowby client");
    QMessageBox::information(this, title,
        QStringLiteral("To import your user list, your original Marrowby client must be set not to save "
                       "configuration data to the registry (under Options->General), and the hotlist.cfg file must "
                       "then be located on your computer. The next dialog will ask you to navigate to the exact "
                       "location of the hotlist.cfg file."));
    const QString path = QDir::fromNativeSeparators(QFileDialog::getOpenFileName(
        this, QStringLiteral("Find User List Configuration File"), ChooserStart(), QStringLiteral("hotlist.cfg")));
    if (path.isEmpty())
        return;
    const bool ok = ConfigurationImporter::ImportUserList(path);
    QMessageBox::information(this, title,
        ok ? QStringLiteral("Import successful.") : QStringLiteral("Import could not be completed successfully."));
}
