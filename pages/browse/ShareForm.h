#pragma once
// One tab of the Browse page: another user's share as a folder tree, the file
// list of the chosen folder and a filter, from which files and whole folders
// are queued for download.
//
// Once the view holds a share (or is turning a received list into one), a
// further list from the same user changes nothing: the transfer engine asks
// for lists of its own (its empty-share probe), and the share on screen must
// stay for the downloads made from it. A list that came before the view asked
// is not its answer either: it answers a tab closed since.
#include "ShareViewBase.h"
#include "shell/TreeWidgetItem.h"
#include <QPoint>

class ShareDownloads;

class ShareForm : public ShareViewBase {
    Q_OBJECT
public:
    ShareForm(QString user, QWidget* parent);

    // Shows a share; a view that holds one (or is building one) keeps it.
    void SetShare(ItemPtr share);
    // Selects the folder with this full path, now or once the share is shown.
    void BrowseToFolder(QString path);
    // Closes the view and drops the browsed share from the store.
    void Delete();
    // Queues every file of the folder (level 0) and of every folder below it
    // (level 1); files of an excluded extension are skipped.
    void DownloadFolder(ItemPtr folder, bool below);
    // Holds a share, or is turning a list into one.
    bool HasShare() const { return Share() || IsBuilding(); }
    // The user's list came but was refused (why, as the log tells it): a view
    // still waiting for a list says so.
    void SayRefused(const QString& why);
    // The view's request went out when the peer network had numbered that
    // many share lists: it takes only lists numbered above.
    void AskedAfter(quint64 number) { m_askedAfter = number; }
    bool Answers(quint64 listNumber) const { return listNumber > m_askedAfter; }

public slots:
    void OnFileItemChanged(QTreeWidgetItem*, QTreeWidgetItem*) { }
    void OnActionBarTriggered(QWidget*, QString) { }
    void OnConnectionToUserFailed(QString user, QString type);
    void OnFolderDoubleClicked(QTreeWidgetItem* row, int column);
    void OnFileDoubleClicked(QTreeWidgetItem* row, int column);
    void OnFolderContextMenuRequested(QPoint pos);
    void OnFileContextMenuRequested(QPoint pos);
    void OnDownloadFolder();
    void OnDownloadFile();

protected:
    void showEvent(QShowEvent* event) override;
    void TakeShare(ItemPtr share) override;
    void RowsBuilt() override;
    QTreeWidgetItem* NewFileRow() override;

private:
    void DownloadFileRows(const QList<QTreeWidgetItem*>& rows);
    void RaiseEvent(QWidget* widget);

    bool m_settled = false;
    quint64 m_askedAfter = 0;
    QString m_pendingFolder;
    ColumnSortingModel m_sortingModel;
    ShareDownloads* m_downloads = nullptr;
};
