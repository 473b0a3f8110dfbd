#include "UploadMenuOptions.h"
#include "transfers/TransferQueueManager.h"
#include <QDesktopServices>
#include <QMenu>
#include <QUrl>

namespace {

void OpenLocal(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace

UploadMenuOptions::UploadMenuOptions(QMenu* menu, const ItemSet& entries, QObject* parent)
    : QObject(parent)
    , m_entries("upload_entry", entries)
{
    if (entries.Empty())
        return;
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    const bool several = entries.Size() > 1;
    if (!several)
        menu->addAction(QIcon(QStringLiteral(":/icons/play_icon")), QStringLiteral("Open File"), this,
            &UploadMenuOptions::OnOpenFile);
    menu->addAction(QIcon(QStringLiteral(":/icons/folder_icon")), QStringLiteral("Open Folder"), this,
        &UploadMenuOptions::OnOpenFolder);
    menu->addSeparator();
    menu->addAction(QIcon(QStringLiteral(":/icons/transfer_icon")),
        several ? QStringLiteral("Remove uploads") : QStringLiteral("Remove upload"), this,
        &UploadMenuOptions::OnRemoveUploads);
}

void UploadMenuOptions::OnOpenFile()
{
    ItemPtr file = m_entries.Items().First()["shared_file"];
    if (file)
        OpenLocal(file["shared_file_folder"].AsString() + QLatin1Char('/') + file["shared_file_name"].AsString());
}

void UploadMenuOptions::OnOpenFolder()
{
    ItemPtr folder = m_entries.Items().First()["shared_file"]["shared_file_folder"];
    if (folder)
        OpenLocal(folder.AsString());
}

void UploadMenuOptions::OnRemoveUploads()
{
    LiveItemSet entries("upload_entry", m_entries.Items());
    while (ItemPtr entry = entries.TakeFirst())
        transferQueueManager->RemoveUpload(entry);
}
