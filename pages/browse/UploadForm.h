#pragma once
// A tab of the Browse page showing one's own share as one user may see it,
// from which files and whole folders are pushed to that user as uploads. The
// share is a snapshot taken when the tab opens.
#include "ShareViewBase.h"

class ShareTransfers;

class UploadForm : public ShareViewBase {
    Q_OBJECT
public:
    UploadForm(QString user, QWidget* parent);

    // Reads one's own share as the user may see it (in the background) and
    // shows it.
    void Load();
    void SetShare(ItemPtr share);
    // Removes the tab item and the share's items, then the view.
    void Delete();
    // Pushes every file of the folder and of every folder below it, read a
    // slice at a time.
    void UploadFolder(ItemPtr folder);

public slots:
    void OnActionBarTriggered(QWidget* widget, QString action);

protected:
    void TakeShare(ItemPtr share) override;
    void RowsBuilt() override;

private:
    ShareTransfers* m_pushes;
    ItemPtr m_ownShare; // the share this view made, removed by Delete
    bool m_closed = false;
};
