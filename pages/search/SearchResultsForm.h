#pragma once
// The page of one search: the replies as a tree of user, folder and file rows
// (or, with "use_old_style_search_results", a flat list of file rows), the
// related searches beside them and the filter row beneath.
//
// Rows are tied to the store by node items whose value is the row's address
// (search_results_user_node, search_results_folder_node, search_result_node);
// the tab itself is the search_results_widget item whose value is the form's
// address. New rows go in at their place in the tab's order (sorting stays
// off), so that a reply never costs a sort of the whole tab; a row whose
// numbers a later reply changed makes the tab re-sort itself, at most once a
// second. A file the tab lists already keeps
// its one row: a later result with another size or other attributes updates
// the row, and the result not shown leaves the store (its reply too, once none
// of the reply's files is shown), so repeated replies do not pile up. The
// filter runs over the folders that a reply touched when it arrives, and over
// the whole tab when its text changes; both use the same walk, in which a word
// never matches across the boundary of folder and file name.
#include "FileRowIndex.h"
#include "SearchResultListItem.h"
#include "store/Data.h"
#include "store/FilterParser.h"
#include "store/TurnTaker.h"
#include <QPointer>
#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

class SearchResultsForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    SearchResultsForm(QString searchText, bool wishList, QWidget* parent = nullptr);
    ~SearchResultsForm() override;
    void Init();

    QTreeWidget* searchResults() const { return m_results; }
    QLineEdit* filterEdit() const { return m_filterEdit; }
    QTreeWidget* CorrelationsWidget() const { return m_correlations; }
    QComboBox* savedFiltersBox() const { return m_savedFilters; }
    QPushButton* saveFilterButton() const { return m_saveFilter; }
    QCheckBox* defaultFilterBox() const { return m_defaultFilter; }
    QPushButton* filterHelpButton() const { return m_filterHelp; }
    QPushButton* clearFilterButton() const { return m_clearFilter; }
    const QString& SearchText() const { return m_searchText; }
    bool IsWishList() const { return m_wishList; }
    bool IsOldStyle() const { return m_oldStyle; }
    int SortColumn() const { return m_sortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }

    // The tab's search_results_widget item, or a null handle once it is gone.
    ItemPtr WidgetItem() const;
    // A search asked for while not connected went nowhere: the tab says so
    // above the (empty) results rather than leaving the user waiting.
    void SayNotSent();
    // Results of the search were left out (the search had all it keeps, or
    // too many arrived at once): the tab says how many, in all, and why.
    void SayDropped(qint64 results, bool searchFull);
    QLabel* NoticeLabel() const { return m_notice; }

    void AddUserSearchResults(ItemPtr searchResults);
    // The tab was closed: its search_results_widget item goes at once; its
    // rows, their nodes and the searches' replies and requests a slice at a
    // time, then the tab itself (deleteLater). The searches take no more
    // replies meanwhile.
    void Dismantle(ItemPtr widgetItem);
    // Adds one file; the user row in the tree layout, null in the flat one.
    QTreeWidgetItem* AddSearchResult(ItemPtr searchResult);
    QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* row) const;
    void PopulateCorrelations();
    // The related search of a row of the list, as the server sent it.
    static QString CorrelationText(const QTreeWidgetItem* row);
    void SetSortingParamters(int column, Qt::SortOrder order);

    // Folder, then file name, case-sensitive.
    static bool CompareSearchResults(ItemPtr a, ItemPtr b);
    // The node items of a row (null handles when the row has none).
    static ItemPtr FileNode(const QTreeWidgetItem* row);
    static ItemPtr FolderNode(const QTreeWidgetItem* row);
    static ItemPtr UserNode(const QTreeWidgetItem* row);
    // The search_result of a file row.
    static ItemPtr ResultOfRow(const QTreeWidgetItem* row);
    // The search_result items under a folder row.
    static ItemList FolderRowResults(const QTreeWidgetItem* folderRow);
    // The whole folder of a file row's user, rows hidden by the filter
    // included: a user's files may come in several replies (a repeated wish),
    // each file kept with the reply that first brought it.
    static ItemList FolderResultsOfFileRow(const QTreeWidgetItem* fileRow);
    // Queues the results for download in that order (many in slices of the
    // engine), each entry linked to the search text item, and marks their
    // rows.
    static void DownloadResults(const ItemList& results, bool single, ItemPtr searchText);
    // The search_request_text of the search a result belongs to.
    static ItemPtr SearchTextOfResult(ItemPtr result);

public slots:
    void Sort();
    void OnSectionClicked(int column);
    void OnSearchCorrelations(QString searchText);
    void OnResultDoubleClicked(QTreeWidgetItem* row, int column);
    void OnContextMenuRequested(const QPoint& pos);
    void OnFilterHelpClicked();
    void OnFilterTextChanged(const QString& text);
    void OnSaveFilterClicked();
    void OnSavedFiltersBoxIndexChanged(int index);
    void OnClearFilterClicked();
    void OnDefaultFilterBoxToggled(bool checked);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildWidgets();
    void OnSavedFilterAdded(ItemPtr item);
    void OnSavedFilterRemoved(ItemPtr item);
    // Hides or shows a folder row and its file rows; true when it stays shown.
    bool FilterFolderRow(QTreeWidgetItem* folderRow, const FilterParser& filter) const;
    // A user row is shown while one of its folder rows is.
    void UpdateUserRow(QTreeWidgetItem* userRow) const;
    bool FlatRowPasses(QTreeWidgetItem* row, const FilterParser& filter) const;
    void AlertWishList();
    void ShowNotice(const QString& text);
    static QString FilterKey(const QString& text);

    QString m_searchText;
    bool m_wishList;
    bool m_oldStyle = false;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;

    QSplitter* m_splitter;
    QTreeWidget* m_results;
    QTreeWidget* m_correlations;
    QPushButton* m_filterHelp;
    QComboBox* m_savedFilters;
    QLineEdit* m_filterEdit;
    QPushButton* m_clearFilter;
    QPushButton* m_saveFilter;
    QCheckBox* m_defaultFilter;
    QLabel* m_notice = nullptr;
    qint64 m_droppedResults = 0;
    bool m_searchFull = false;

    // Taking the tab apart: rows out of the tree still to free, user nodes
    // and searches whose items are still to remove.
    void DismantleSlice(bool timed);
    void OnClosingItemRemoved(ItemPtr item);
    // Tabs closed together share the pass in turn.
    TurnTaker m_dismantleTurn { [this] { DismantleSlice(true); } };
    bool m_dismantling = false;
    int m_closedTops = 0;
    std::vector<QTreeWidgetItem*> m_doomedRows;
    std::vector<ItemPtr> m_closingUserNodes;
    std::vector<ItemPtr> m_closingRequests;

    // Folder rows that the reply being added touched, filtered when it ends.
    std::vector<QTreeWidgetItem*> m_touchedFolders;
    void TouchFolder(QTreeWidgetItem* folderRow);
    // Replies that lost results while a reply was added: those left without
    // any go when it ends.
    std::vector<ItemPtr> m_repliesToCheck;
    // The row of each file shown, by folder row (or user and folder item) and
    // name item, so that a repeated wish-list search does not list a file
    // twice. The items stay while the row's result holds them.
    FileRowIndex m_fileRows;
    SearchResultNames m_names;
    // A file the tab lists already: the row takes the sizes and attributes
    // that changed, and the result it does not show leaves the store. True
    // when the row changed.
    bool TakeRepeatedResult(QTreeWidgetItem* row, ItemPtr result);
    static void SetFileCells(SearchResultListItem* row, ItemPtr result);
    // The Free and K/s cells of a row made for a user's reply.
    static void SetUserCells(SearchResultListItem* row, ItemPtr reply);
    // Puts a new row among the children of parent (the top level when null)
    // at its place in the tab's order.
    void PlaceRow(QTreeWidgetItem* parent, QTreeWidgetItem* row);
    // Places each (parent, row) pair's row under its parent, and empties the
    // list.
    void PlaceRows(std::vector<std::pair<QTreeWidgetItem*, QTreeWidgetItem*>>& rows);
    bool m_sortPending = false;
    // New user and folder rows of the reply being added wait outside the tree
    // while their files go in (rows put in the middle of a tree cost a walk
    // over every row held open), then go in at their places and open.
    void AttachNewRows();
    bool m_addingReply = false;
    std::vector<QTreeWidgetItem*> m_newUsers;
    std::vector<std::pair<QTreeWidgetItem*, QTreeWidgetItem*>> m_newFolders; // user row, folder row
    std::vector<std::pair<QTreeWidgetItem*, QTreeWidgetItem*>> m_newFiles; // folder row, file row
};
