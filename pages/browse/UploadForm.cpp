#include "UploadForm.h"
#include "UserShareBuilder.h"
#include "shell/ActionSetToolBar.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "transfers/TransferQueueManager.h"
#include <QTextBrowser>
#include <QTreeWidget>
#include <map>

UploadForm::UploadForm(QString user, QWidget* parent)
    : ShareViewBase(user, QStringLiteral("UploadForm"), parent)
{
    resize(559, 316);
    FileList()->setSelectionMode(QAbstractItemView::SingleSelection);
    if (actionBar) {
        actionBar->RegisterWidget(FolderTree(), QStringLiteral("upload_folders"));
        actionBar->RegisterWidget(FileList(), QStringLiteral("upload_files"));
    }
    ItemPtr tab = d.GetType("upload_share_tab")->GetItem(Value(this));
    tab += d.GetType("user")->GetItem(Value(user));
    // One's own share can be large: the rows take a moment.
    MessageBrowser()->append(QStringLiteral("Requesting file list..."));
    SubscribeFunction(d.GetType("user_share")->itemRemoved, [this](ItemPtr share) {
        if (share == m_ownShare)
            m_ownShare = ItemPtr();
    });
}

void UploadForm::Load()
{
    if (!sharedFoldersManager)
        return;
    sharedFoldersManager->RequestSharedFilesAsUserShare(
        m_user, this, [this](FileInfoMap& share, AttributeTranslationTable&) {
            if (!m_closed)
                m_ownShare = BuildFromList(share)->Share();
        });
}

void UploadForm::TakeShare(ItemPtr share)
{
    SetShare(share);
}

void UploadForm::SetShare(ItemPtr share)
{
    if (!share)
        return;
    m_ownShare = share;
    // In byte order of the paths; a parent path still comes first.
    std::map<std::string, ItemPtr> byPath;
    for (ItemPtr folder : share.GetItems("user_share_folder"))
        byPath.emplace(folder["user_share_folder_name"].Text(), folder);
    ItemList folders;
    folders.reserve(byPath.size());
    for (const auto& entry : byPath)
        folders.push_back(entry.second);
    BuildRows(share, folders);
}

void UploadForm::RowsBuilt()
{
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UploadForm::OnActionBarTriggered,
            Qt::UniqueConnection);
    m_expandLevel = 0;
    ShowTree();
}

void UploadForm::Upload(ItemPtr file)
{
    ItemPtr folder = file["user_share_folder"];
    if (!folder || !transferQueueManager)
        return;
    const std::string path = folder["user_share_folder_name"].Text() + "\\" + file["user_share_file_name"].Text();
    transferQueueManager->AddUpload(m_user, QString::fromStdString(path));
    SetIcon(file, QIcon(QStringLiteral(":/icons/upload_icon")));
}

void UploadForm::OnActionBarTriggered(QWidget* widget, QString action)
{
    if (action == QLatin1String("upload_share_folder") && widget == FolderTree()) {
        for (QTreeWidgetItem* row : FolderTree()->selectedItems()) {
            if (ItemPtr folder = FolderOfRow(row))
                UploadFolder(folder);
        }
    } else if (action == QLatin1String("upload_share_file") && widget == FileList()) {
        for (QTreeWidgetItem* row : FileList()->selectedItems()) {
            if (ItemPtr file = FileOfRow(row))
                Upload(file);
        }
    }
}

void UploadForm::UploadFolder(ItemPtr folder)
{
    for (ItemPtr at : FoldersBelow(folder)) {
        for (ItemPtr file : at.GetItems("user_share_file"))
            Upload(file);
    }
}

void UploadForm::Delete()
{
    m_closed = true;
    Forget();
    if (ItemPtr tab = d.GetType("upload_share_tab")->HasItem(Value(this)))
        tab.Remove();
    if (m_ownShare) {
        const ItemSet folders = m_ownShare.GetItems("user_share_folder");
        folders.GetItems("user_share_file").Remove();
        folders.Remove();
        m_ownShare.Remove();
        m_ownShare = ItemPtr();
        d.RemoveDisconnectedItems();
    }
    deleteLater();
}
