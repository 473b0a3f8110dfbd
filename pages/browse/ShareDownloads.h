#pragma once
// Downloads asked for from a browsed share: whole folders, or the files
// chosen in the file list. Their names, sizes and order are read from the
// share a slice of a turn at a time (the first at once), then handed to the
// transfer engine, which adds them in slices of its own, and the rows of the
// files listed are marked. Requests keep their order.
//
// The share's items live as long as the view holds its share: the view calls
// Finish() before it lets the share go, and what is left is read at once.
#include "store/ItemPtr.h"
#include "store/SlicedWork.h"
#include <QIcon>
#include <QTimer>
#include <vector>

class ShareViewBase;

class ShareDownloads : public QObject {
public:
    explicit ShareDownloads(ShareViewBase* view);

    // The files of the folders, in that order, each folder's by name: those
    // of the first folder at subfolder level 0 (1 when below is set), the
    // others at 1; files of an excluded extension are left out.
    void AddFolders(const QString& user, std::vector<ItemPtr> folders, bool below);
    // The files, in that order, each on its own.
    void AddFiles(const QString& user, std::vector<ItemPtr> files);
    // Reads and hands over at once whatever is left.
    void Finish();

private:
    struct Request;
    void Add(const std::shared_ptr<Request>& request);
    void RunSlice();

    ShareViewBase* m_view;
    SlicedWork m_work;
    QTimer m_timer;
    QIcon m_icon;
};
