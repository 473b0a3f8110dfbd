#pragma once
// What the share view and the upload browse view have in common: a message
// area, a folder tree, the file list of the chosen folder and a filter line,
// over a share held as browsed-share items (user_share and below).
//
// Rows and items are tied through node items (user_share_folder_node,
// user_share_file_node) whose value is the row's address. Lookups in either
// direction never create an item, and a row's node goes exactly when the row
// goes, so an address is never taken from a node whose row is gone. Rows show
// names direction-isolated and keep them as sent (ShareFileRow::Name): the
// filter and the file list's order read the names kept, never the cells.
//
// A large share never stalls the window: folder rows are made in slices while
// the message area says "Requesting file list...", detached from the tree and
// put in at the end in one go; a folder of many files fills the file list in
// slices too. Folders are put in order by their names, never by whole paths,
// and a tree deeper than kOpenDepth opens only that far (ExpandAll). Trees are
// walked with explicit stacks, never by recursion per level, so a hostile list
// with a folder chain ten thousand deep is shown and torn down without deep
// native recursion of our own.
#include "peers/FileInfo.h"
#include "store/Event.h"
#include "store/FilterParser.h"
#include "store/ItemSet.h"
#include <QIcon>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <unordered_map>
#include <vector>

class ColumnSortingModel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class Type;
class UserShareBuilder;

class ShareViewBase : public QWidget, public DataHandler {
    Q_OBJECT
public:
    ~ShareViewBase() override;

    const QString& UserName() const { return m_user; }
    // The user_share shown; null before one is taken and after it is gone.
    ItemPtr Share() const { return m_share; }
    // Items are being made or rows being built.
    bool IsBuilding() const;

    void ExpandLevel();
    // Opens every folder row, or in a tree deeper than kOpenDepth the rows of
    // the first kOpenDepth levels: the view lays out a chain of open rows in
    // time that grows with the square of its length, and a hostile list may
    // nest folders ten thousand deep. Deeper rows open at the user's click.
    void ExpandAll();
    static constexpr int kOpenDepth = 256;
    void CollapseAll();
    // Applies the filter to the folder row and everything below it and tells
    // whether the row stays visible.
    bool FilterFolderNode(QTreeWidgetItem* row, FilterParser& filter);

    QTreeWidget* FolderTree() const { return m_folderTree; }
    QTreeWidget* FileList() const { return m_fileList; }
    QTextBrowser* MessageBrowser() const { return m_messageBrowser; }
    QLineEdit* FilterEdit() const { return m_filterEdit; }

    // Rows and items: null when the other side is gone.
    ItemPtr FolderOfRow(QTreeWidgetItem* row) const;
    ItemPtr FileOfRow(QTreeWidgetItem* row) const;
    QTreeWidgetItem* RowOfFolder(ItemPtr folder) const;
    QTreeWidgetItem* RowOfFile(ItemPtr file) const;

    // Builds the share's items from a received list in slices and shows them
    // when done (TakeShare). The builder's user_share exists at once.
    UserShareBuilder* BuildFromList(const FileInfoMap& share);

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void OnFilterTextChanged(QString text);
    void OnFilterHelpClicked();

protected:
    ShareViewBase(const QString& user, const QString& objectName, QWidget* parent);

    // The builder finished: show its share.
    virtual void TakeShare(ItemPtr share) = 0;
    // The folder rows are in the tree.
    virtual void RowsBuilt() = 0;
    // A new file row (the share view gives its rows a sorting model).
    virtual QTreeWidgetItem* NewFileRow();
    // The share went from the store.
    virtual void ShareRemoved() { }

    // Holds the share and builds one row per folder, in the given order, in
    // slices; RowsBuilt() follows.
    void BuildRows(ItemPtr share, const ItemList& folders);
    // The folders in the order of their paths regardless of case, as a tree:
    // each after its parent, siblings by name (top rows by path). Below the
    // top only names are compared, never whole paths, so a chain thousands of
    // levels deep costs no more than a flat share.
    static ItemList TreeOrder(const ItemSet& folders);
    void ShowTree();
    // Empties the file list together with the node items of its rows.
    void ClearFileList();
    void Forget();
    void SetIcon(ItemPtr file, const QIcon& icon);
    // The files of a folder and of every folder below it (explicit stack).
    static std::vector<ItemPtr> FoldersBelow(ItemPtr folder);

    QString m_user;
    ItemPtr m_share;
    int m_maxDepth = 0;
    int m_expandLevel = 0;

private:
    void BuildSlice();
    void OpenRows();
    void FinishRows();
    void FillSlice();
    // Every folder row, children before parents.
    std::vector<QTreeWidgetItem*> FolderRows() const;
    void DeleteFolderRows();
    void OnShareItemRemoved(ItemPtr share);

    QTextBrowser* m_messageBrowser;
    QSplitter* m_splitter;
    QTreeWidget* m_folderTree;
    QTreeWidget* m_fileList;
    QPushButton* m_filterHelpButton;
    QLineEdit* m_filterEdit;

    Type* m_folderNodeType;
    Type* m_fileNodeType;
    Type* m_fileType;

    UserShareBuilder* m_builder = nullptr;

    // Folder rows being built, detached from the tree until the end.
    ItemList m_buildFolders;
    size_t m_buildNext = 0;
    bool m_building = false;
    QList<QTreeWidgetItem*> m_buildTops;
    std::unordered_map<QTreeWidgetItem*, int> m_rowDepth;
    QTimer m_buildTimer;

    // The file list: its rows, and the files still to list.
    std::vector<QTreeWidgetItem*> m_fileRows;
    std::vector<ItemPtr> m_fillFiles;
    size_t m_fillNext = 0;
    FilterParser m_fillFilter;
    QTimer m_fillTimer;
};
