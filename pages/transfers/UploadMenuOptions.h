#pragma once
// The upload entries of the Transfers page's context menu: open the shared
// file or its folder, remove the uploads. Made for one right click.
#include "LiveItemSet.h"
#include <QObject>

class QMenu;

class UploadMenuOptions : public QObject {
    Q_OBJECT
public:
    UploadMenuOptions(QMenu* menu, const ItemSet& entries, QObject* parent = nullptr);

public slots:
    void OnRemoveUploads();
    void OnOpenFile();
    void OnOpenFolder();

private:
    LiveItemSet m_entries;
};
