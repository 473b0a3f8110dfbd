#pragma once
// The download entries of the Transfers page's context menu: open, retry and
// remove, the completion alerts and the search that found the download. Made
// for one right click; the entries, user and folder it acts on are forgotten
// as soon as the store removes them, so a choice made after a transfer has
// gone acts on what is left.
#include "LiveItemSet.h"
#include <QObject>
#include <QString>

class QMenu;

class DownloadMenuOptions : public QObject {
    Q_OBJECT
public:
    DownloadMenuOptions(QMenu* menu, const ItemSet& entries, QObject* parent = nullptr);

public slots:
    void OnRemoveDownloads();
    void OnRerunSearch();
    void OnOpenFile();
    void OnOpenFolder();
    void OnSetFileDownloadAlert();
    void OnSetFolderDownloadAlert();
    void OnSetUserDownloadAlert();
    void OnRetryDownloads();

private:
    void AddAlertEntries(QMenu* menu);

    LiveItemSet m_entries;
    QString m_searchText;
    LiveItemSet m_user; // the one user of all entries, if there is one
    LiveItemSet m_remoteFolder; // the one remote folder of all entries, if there is one
};
