#pragma once
// Transfers asked for from a share view: downloads from a browsed share
// (whole folders, or the files chosen in the file list), and one's own files
// pushed to a user from the upload browse view. Their names, sizes and order
// are read from the share a slice of a turn at a time (the first at once),
// then handed to the transfer engine, which adds them in slices of its own,
// and the rows of the files listed are marked. Requests keep their order.
//
// The share's items live as long as the view holds its share: the view calls
// Finish() before it lets the share go, and what is left is read at once.
#include "store/ItemPtr.h"
#include "store/SlicedWork.h"
#include <QIcon>
#include <QTimer>
#include <vector>

class ShareViewBase;

class ShareTransfers : public QObject {
public:
    explicit ShareTransfers(ShareViewBase* view);

    // The files of the folders, in that order, each folder's by name: those
    // of the first folder at subfolder level 0 (1 when below is set), the
    // others at 1; files of an excluded extension are left out.
    void AddFolders(const QString& user, std::vector<ItemPtr> folders, bool below);
    // The files, in that order, each on its own.
    void AddFiles(const QString& user, std::vector<ItemPtr> files);
    // Pushes the files of the folders to the user, in that order, each
    // folder's in the share's order; then the files given.
    void PushFolders(const QString& user, std::vector<ItemPtr> folders);
    void PushFiles(const QString& user, std::vector<ItemPtr> files);
    // Reads and hands over at once whatever is left.
    void Finish();

private:
    struct Marked;
    struct Request;
    struct Pushed;
    void Add(const std::shared_ptr<Request>& request);
    void Push(const std::shared_ptr<Pushed>& pushed);
    // Marks the rows of the request's files that are still listed, then runs
    // a slice.
    void MarkAndRun(const std::shared_ptr<Marked>& request, const QIcon& icon);
    void RunSlice();

    ShareViewBase* m_view;
    SlicedWork m_work;
    QTimer m_timer;
    QIcon m_downloadIcon;
    QIcon m_uploadIcon;
};
