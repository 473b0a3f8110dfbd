#include "ShareForm.h"
#include "ShareDownloads.h"
#include "ShareFileRow.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QMenu>
#include <QTextBrowser>
#include <QTreeWidget>

ShareForm::ShareForm(QString user, QWidget* parent)
    : ShareViewBase(user, QStringLiteral("ShareForm"), parent)
{
    resize(563, 371);
    FileList()->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (actionBar) {
        actionBar->RegisterWidget(FolderTree(), QStringLiteral("share_folders"));
        actionBar->RegisterWidget(FileList(), QStringLiteral("share_files"));
    }
    ItemPtr tab = d.GetType("user_share_tab")->GetItem(Value(this));
    tab += d.GetType("user")->GetItem(Value(user));
    MessageBrowser()->append(QStringLiteral("Requesting file list..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &ShareForm::OnConnectionToUserFailed);
    connect(FileList(), &QTreeWidget::currentItemChanged, this, &ShareForm::OnFileItemChanged);
    FolderTree()->setContextMenuPolicy(Qt::CustomContextMenu);
    FileList()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FolderTree(), &QWidget::customContextMenuRequested, this, &ShareForm::OnFolderContextMenuRequested);
    connect(FileList(), &QWidget::customContextMenuRequested, this, &ShareForm::OnFileContextMenuRequested);
    m_sortingModel.SetColumnSortingNumeric(1);
    m_sortingModel.SetColumnSortingNumeric(2);
    m_downloads = new ShareDownloads(this);
}

void ShareForm::TakeShare(ItemPtr share)
{
    SetShare(share);
}

void ShareForm::SetShare(ItemPtr share)
{
    // A second list leaves the share on screen and its items in place.
    if (!share || Share() || IsBuilding())
        return;
    m_settled = true;
    ItemSet folders = share.GetItems("user_share_folder");
    if (folders.Empty()) {
        m_share = share;
        MessageBrowser()->append(QStringLiteral("No files returned. The user is either not sharing any files, "
                                                "or is sharing all of their files privately."));
        RaiseEvent(MessageBrowser());
        return;
    }
    BuildRows(share, TreeOrder(folders));
}

void ShareForm::RowsBuilt()
{
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ShareForm::OnActionBarTriggered,
            Qt::UniqueConnection);
    m_expandLevel = 0;
    ShowTree();
    RaiseEvent(FolderTree());
    connect(FolderTree(), &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFolderDoubleClicked,
        Qt::UniqueConnection);
    connect(FileList(), &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFileDoubleClicked,
        Qt::UniqueConnection);
    if (!m_pendingFolder.isEmpty())
        BrowseToFolder(m_pendingFolder);
}

QTreeWidgetItem* ShareForm::NewFileRow()
{
    auto* row = new ShareFileRow;
    row->SetSortingModel(&m_sortingModel);
    return row;
}

void ShareForm::RaiseEvent(QWidget* widget)
{
    if (eventToolBar)
        eventToolBar->AddEvent(IsolatedText(m_user), QStringLiteral(":/icons/browse_icon"), widget, QString(),
            QStringLiteral("browse"), false);
}

void ShareForm::showEvent(QShowEvent* event)
{
    ShareViewBase::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(FolderTree());
}

void ShareForm::BrowseToFolder(QString path)
{
    if (!Share() || IsBuilding()) {
        m_pendingFolder = path;
        return;
    }
    ItemPtr name = d.GetType("user_share_folder_name")->HasItem(Value(path));
    ItemPtr folder = name ? d.GetItem(Share(), name, "user_share_folder") : ItemPtr();
    QTreeWidgetItem* row = RowOfFolder(folder);
    if (!row || row->treeWidget() != FolderTree())
        return;
    FolderTree()->scrollToItem(row, QAbstractItemView::PositionAtTop);
    FolderTree()->setCurrentItem(row);
}

void ShareForm::OnConnectionToUserFailed(QString user, QString type)
{
    if (m_settled || user != m_user || type != QLatin1String("P"))
        return;
    m_settled = true;
    if (!gp_server || !gp_server->IsConnected()) {
        MessageBrowser()->append(
            QStringLiteral("Not connected to the server, so the user could not be reached for the file list. "
                           "Close this tab and browse again once the client is connected."));
        RaiseEvent(MessageBrowser());
        return;
    }
    QString host = qEnvironmentVariable("MARROWBY_WEB").trimmed();
    if (host.isEmpty())
        host = QStringLiteral(MARROWBY_DEFAULT_WEB);
    const QString link = QStringLiteral("http://%1/porttest.php?port=%2")
                             .arg(host.toHtmlEscaped())
                             .arg(settings.GetInt("listening_port"));
    MessageBrowser()->append(
        QStringLiteral("A connection could not be successfully formed to the user. If this is happening to you a "
                       "lot, <a href=\"%1\">Check here</a> to make sure that your port is open.")
            .arg(link));
    RaiseEvent(MessageBrowser());
}

void ShareForm::SayRefused(const QString& why)
{
    if (HasShare())
        return;
    m_settled = true;
    MessageBrowser()->append(
        QStringLiteral("The file list that came from the user was refused: %1.").arg(why).toHtmlEscaped());
    RaiseEvent(MessageBrowser());
}

void ShareForm::Delete()
{
    // The folders asked for are read before their items go.
    m_downloads->Finish();
    Forget();
    if (sharedFoldersManager)
        sharedFoldersManager->RemoveUserShare(m_user);
    if (ItemPtr tab = d.GetType("user_share_tab")->HasItem(Value(this)))
        tab.Remove();
    deleteLater();
}

// Downloads.

void ShareForm::DownloadFileRows(const QList<QTreeWidgetItem*>& rows)
{
    std::vector<ItemPtr> files;
    for (QTreeWidgetItem* row : rows) {
        if (ItemPtr file = FileOfRow(row); file["user_share_folder"]["user_share"]["user"])
            files.push_back(file);
    }
    m_downloads->AddFiles(m_user, std::move(files));
}

void ShareForm::DownloadFolder(ItemPtr folder, bool below)
{
    ItemPtr user = folder["user_share"]["user"];
    if (!user)
        return;
    // The chosen folder, then every folder below it at any depth.
    m_downloads->AddFolders(user.AsString(), FoldersBelow(folder), below);
}

void ShareForm::OnFolderDoubleClicked(QTreeWidgetItem* row, int)
{
    if (ItemPtr folder = FolderOfRow(row))
        DownloadFolder(folder, false);
}

void ShareForm::OnFileDoubleClicked(QTreeWidgetItem* row, int)
{
    DownloadFileRows({ row });
}

void ShareForm::OnDownloadFolder()
{
    for (QTreeWidgetItem* row : FolderTree()->selectedItems()) {
        if (ItemPtr folder = FolderOfRow(row))
            DownloadFolder(folder, false);
    }
}

void ShareForm::OnDownloadFile()
{
    DownloadFileRows(FileList()->selectedItems());
}

void ShareForm::OnFolderContextMenuRequested(QPoint pos)
{
    if (!FolderTree()->itemAt(pos))
        return;
    QMenu menu;
    menu.addAction(QIcon(QStringLiteral(":/icons/transfer_icon")), QStringLiteral("Download Folder"), this,
        &ShareForm::OnDownloadFolder);
    menu.exec(FolderTree()->viewport()->mapToGlobal(pos));
}

void ShareForm::OnFileContextMenuRequested(QPoint pos)
{
    QMenu menu;
    menu.addAction(QIcon(QStringLiteral(":/icons/transfer_icon")), QStringLiteral("Download File(s)"), this,
        &ShareForm::OnDownloadFile);
    menu.exec(FileList()->viewport()->mapToGlobal(pos));
}
