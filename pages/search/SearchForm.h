#pragma once
// The Search page: the search entry with its targets and history, one results
// tab per search, the wish list with a tab control of its own for the wish-list
// results, and the searches received from others.
//
// Replies arrive from the peer network as search_results items and are routed
// to their tab through the store: a search_request is connected to the
// search_results_widget item of its tab (whose value is the tab's address). A
// wish-list search gets its tab on its first reply; later repetitions of the
// same wish are connected to the same tab, and an earlier repetition left with
// no reply (all it brought was shown already) is let go then, so a tab kept
// open holds no more than the files it shows. A closed tab leaves at once and
// is taken apart with its searches a slice at a time
// (SearchResultsForm::Dismantle); results the peer network left out are told
// in their tab.
//
// Other pages reach this one through CreateSearchForm: the Transfers page's
// "Re-run Search" opens a ManualSearch tab for a token it got from
// Server::FileSearch.
#include "store/Data.h"
#include "store/DataLoadedEventHandler.h"
#include <QWidget>

class QComboBox;
class QTabWidget;
class QPushButton;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class ReceivedSearchesForm;
class SearchResultsForm;
class TabWidget;

enum SearchType { ManualSearch = 0, WishListSearch = 1, UserListSearch = 2, RoomSearch = 3 };

class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler {
    Q_OBJECT
public:
    static constexpr int kHistorySize = 20;

    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;
    void Init();
    void DataLoaded() override;

    // Opens (or, for a wish-list search, reuses) the results tab of a search.
    // Returns the tab; null when a wish-list search has no wish-list item.
    SearchResultsForm* CreateSearchForm(unsigned int token, QString text, SearchType type);
    void RecordSearch(QString text);
    // The results tab shown in the visible tab control, or null.
    SearchResultsForm* GetCurrentSearchResultsForm() const;

    QTabWidget* tabWidget() const { return m_tabs; }
    QComboBox* searchEdit() const { return m_searchEdit; }
    QPushButton* searchButton() const { return m_searchButton; }
    QComboBox* searchTargetBox() const { return m_targetBox; }
    TabWidget* searchTabControl() const { return m_searchTabs; }
    TabWidget* wishListTabControl() const { return m_wishTabs; }
    QTreeWidget* wishList() const { return m_wishList; }
    QSplitter* wishListSplitter() const { return m_wishSplitter; }
    ReceivedSearchesForm* receivedSearches() const { return m_received; }

public slots:
    void OnSearchEntered();
    void OnUserSearchResults(ItemPtr results);
    void OnCorrelationClicked(QTreeWidgetItem* row, int column);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* row, int column);
    void OnTabCloseRequested(int index);
    void OnWishTabCloseRequested(int index);
    void OnActionBarTriggered(QWidget* widget, QString key);
    // The wish list.
    void OnWishListItemAdded(ItemPtr item);
    void OnWishListItemCheckStateChanged(int state);
    void OnWishListItemChanged(QTreeWidgetItem* row, int column);
    void DeleteNode(QTreeWidgetItem* row);
    void OnWishListContextMenuRequested(const QPoint& pos);
    void OnRemoveWishListItemRequested();

private:
    void BuildWidgets();
    void OnWishListItemRemoved(ItemPtr item);
    void OnEnteredRoom(ItemPtr room);
    void OnLeftRoom(ItemPtr room);
    void CloseTab(TabWidget* tabs, int index);
    void SetUpWishList();
    void SetWishRowEnabled(QTreeWidgetItem* row, bool enabled);
    void QueueDeleteNode(QTreeWidgetItem* row);
    void SetCheckBoxes(bool checked);
    // The wish button of every tab that is not a wish's own reads whether its
    // text is a wish (not counting one being removed).
    void ShowWishStates(ItemPtr going = ItemPtr());
    // A tab left open by an earlier wish of the text, now no wish's, or null.
    SearchResultsForm* LeftWishTab(const QString& text) const;

    QTabWidget* m_tabs;
    QComboBox* m_searchEdit;
    QPushButton* m_searchButton;
    QComboBox* m_targetBox;
    QSplitter* m_searchSplitter;
    TabWidget* m_searchTabs;
    QSplitter* m_wishSplitter;
    TabWidget* m_wishTabs;
    QTreeWidget* m_wishList;
    ReceivedSearchesForm* m_received;
    bool m_buildingWishRow = false;
};

extern SearchForm* searchForm;
