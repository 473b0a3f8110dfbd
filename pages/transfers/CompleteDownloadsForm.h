#pragma once
// The list of downloads completed in this run since the list was first
// opened: a tab "Complete" of the Transfers page, one row per completed
// download record of the transfer engine, newest first.
#include "shell/RowSlab.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"
#include <QTreeWidgetItem>
#include <QWidget>

class QTreeWidget;

// A row of the list; rows order by the completion time of their records.
class CompleteDownloadItem : public QTreeWidgetItem, public SlabRows<CompleteDownloadItem> {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;
};

class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler {
    Q_OBJECT
public:
    explicit CompleteDownloadsForm(QWidget* parent = nullptr);
    ~CompleteDownloadsForm() override;

    // Declares the row binding and follows the engine's completed downloads.
    void Init();
    void DataLoaded() override;

    QTreeWidget* DownloadList() const { return m_downloadList; }

public slots:
    void OnCompleteDownloadAdded(ItemPtr record);

private:
    QTreeWidget* m_downloadList;
};

extern CompleteDownloadsForm* completeDownloadsForm;
