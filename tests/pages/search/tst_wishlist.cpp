// The wish list: wishes added from a results tab, repeated by the stand-in
// server's short period into one tab per wish with one alert and a store that
// does not grow with the repetitions, rows edited in place, the searcher's turn
// and its guards, the tool bar acting on the tab shown, and the list after a
// restart.
#include "helper_search.h"
#include "helper_shares.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultsForm.h"
#include "pages/search/WishListSearcher.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include <QComboBox>
#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <climits>

using namespace searchtest;

namespace {

const QStringList kServerArgs{ QStringLiteral("--wishlist-period"), QStringLiteral("2") };

QTreeWidgetItem* WishRow(const QString& text)
{
    QTreeWidget* list = Page()->wishList();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(1) == text)
            return list->topLevelItem(i);
    return nullptr;
}

QStringList WishRows()
{
    QStringList rows;
    QTreeWidget* list = Page()->wishList();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        auto* box = qobject_cast<QCheckBox*>(list->itemWidget(list->topLevelItem(i), 0));
        rows << list->topLevelItem(i)->text(1) + (box && box->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]"));
    }
    return rows;
}

QCheckBox* WishBox(const QString& text)
{
    QTreeWidgetItem* row = WishRow(text);
    return row ? qobject_cast<QCheckBox*>(Page()->wishList()->itemWidget(row, 0)) : nullptr;
}

ItemPtr Wish(const QString& text)
{
    return d.GetType("wish_list_item")->HasItem(Value(text));
}

SearchResultsForm* WishTab(const QString& text)
{
    TabWidget* tabs = Page()->wishListTabControl();
    for (int i = 0; i < tabs->count(); ++i)
        if (auto* tab = qobject_cast<SearchResultsForm*>(tabs->widget(i)); tab && tab->SearchText() == text)
            return tab;
    return nullptr;
}

// A wish as the store holds it, shown in the list.
ItemPtr AddWish(const QString& text, bool enabled = false)
{
    ItemPtr wish = d.GetType("wish_list_item")->NewItem(Value(text));
    if (enabled)
        wish.Connect(d.GetType("wish_list_item_enabled")->GetGlobalNullItem());
    Page()->OnWishListItemAdded(wish);
    return wish;
}

// The wish that the first function makes from a results tab (enabled,
// filtered by "-zzz", its tab open), made here when that one did not run.
bool ComeTogether()
{
    const QString song = QStringLiteral("come together");
    if (!Wish(song))
        AddWish(song, true).Connect(d.GetType("wish_list_item_filter_text")->GetItem(Value("-zzz")));
    return gui::WaitFor([&] { return WishTab(song); }, 20000);
}

size_t WishSearchesSent()
{
    return d.GetType("wishlist_search")->GetGlobalNullItem().CountItems("search_request");
}

// The button the event tool bar shows for a wish's tab.
QString WishEvent(const QString& text)
{
    return IsolatedText(text);
}

void EditRow(QTreeWidgetItem* row, const QString& text)
{
    row->setText(1, text); // what the editor writes back
    QCoreApplication::processEvents(); // the queued row deletions
}

} // namespace

GUI_CHILD_ROLE(verify_wishes)
{
    gui::Session session;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice")))
        return 1;
    if (WishRows() != QStringList{ QStringLiteral("come together [x]") }) {
        qWarning() << "rows" << WishRows();
        return 2;
    }
    // The next repetition opens the tab with the wish's own filter.
    if (!gui::WaitFor([] { return WishTab(QStringLiteral("come together")); }, 20000))
        return 3;
    if (WishTab(QStringLiteral("come together"))->filterEdit()->text() != QLatin1String("-zzz"))
        return 4;
    return 0;
}

class TestWishList : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir shares;
    DriverProcess* bob = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(MakeMp3(shares.filePath(QStringLiteral("Wish/Come Together.mp3")), 128));
        QVERIFY(MakeMp3(shares.filePath(QStringLiteral("Wish/Other Song.mp3")), 128));
        QVERIFY(session.Prepare(kServerArgs));
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
        bob->Send(QStringLiteral("share-folder ") + shares.filePath(QStringLiteral("Wish")));
        bob->Send(QStringLiteral("wait-shares"));
        QCOMPARE(bob->WaitFor(QStringLiteral("shares-ready")), QStringLiteral("shares-ready 2"));
        QVERIFY(gui::WaitFor([] { return wishListSearcher->Timer()->isActive(); }));
        settings.Set("show_event_buttons", "yes");
    }

    // A wish made from a manual tab is searched again and again into one tab:
    // no file twice, one alert, the wish's own tool-bar texts. The manual
    // tab's button then offers to take the wish back.
    void wishIsSearchedAgainIntoOneTab()
    {
        SearchResultsForm* manual = Search(QStringLiteral("come together"));
        QVERIFY(manual);
        QCOMPARE(ActionText(manual, QStringLiteral("add_remove_wishlist")), QStringLiteral("Add to Wishlist"));
        Trigger(manual, QStringLiteral("add_remove_wishlist"));
        QCOMPARE(ActionText(manual, QStringLiteral("add_remove_wishlist")),
            QStringLiteral("Remove from Wish List"));
        Trigger(manual, QStringLiteral("add_remove_wishlist"));
        QVERIFY(WishRows().isEmpty());
        QCOMPARE(
            ActionText(manual, QStringLiteral("add_remove_wishlist")), QStringLiteral("Add to Wishlist"));
        Trigger(manual, QStringLiteral("add_remove_wishlist"));
        QCOMPARE(WishRows(), QStringList{ QStringLiteral("come together [x]") });
        // "Y" is the text the column sorts by: the cell draws only the box.
        QTreeWidgetItem* wishRow = WishRow(QStringLiteral("come together"));
        QCOMPARE(wishRow->text(0), QStringLiteral("Y"));
        const QModelIndex cell = wishRow->treeWidget()->indexFromItem(wishRow, 0);
        QStyleOptionViewItem option;
        option.initFrom(wishRow->treeWidget()->viewport());
        option.rect = QRect(QPoint(), wishRow->treeWidget()->visualRect(cell).size());
        QImage drawn(option.rect.size(), QImage::Format_ARGB32), blank = drawn;
        drawn.fill(Qt::white);
        blank.fill(Qt::white);
        QPainter painter(&drawn);
        wishRow->treeWidget()->itemDelegateForIndex(cell)->paint(&painter, option, cell);
        painter.end();
        QVERIFY(drawn == blank);

        QSignalSpy replies(peerMessenger, &PeerMessenger::SearchResults);
        QVERIFY(gui::WaitFor([] { return WishTab(QStringLiteral("come together")); }, 20000));
        SearchResultsForm* tab = WishTab(QStringLiteral("come together"));
        QVERIFY(WaitForFiles(tab, 1));
        QVERIFY(gui::WaitFor([&] { return replies.count() >= 3; }, 20000));
        QTest::qWait(500);
        QCOMPARE(Page()->wishListTabControl()->count(), 1);
        QCOMPARE(VisibleFiles(tab), QStringList{ QStringLiteral("Come Together.mp3") });
        QCOMPARE(FileRowCount(tab), 1);
        QCOMPARE(EventButtons().count(WishEvent(QStringLiteral("come together"))), 1);
        QCOMPARE(Page()->wishListTabControl()->tabText(0), IsolatedText(QStringLiteral("come together")));

        // Repetitions that bring nothing new leave the store as it was.
        wishListSearcher->Timer()->stop();
        const auto resume = qScopeGuard([] { wishListSearcher->OnWishListWait(2); });
        std::vector<size_t> counts;
        for (int i = 0; i < 20; ++i) {
            const int before = replies.count();
            gp_server->FileSearch(QStringLiteral("come together"), true);
            QVERIFY(gui::WaitFor([&] { return replies.count() > before; }));
            QCoreApplication::processEvents();
            counts.push_back(d.ItemCount());
        }
        QCOMPARE(counts.back(), counts.front());
        QCOMPARE(*std::max_element(counts.begin(), counts.end()), counts.front());
        QCOMPARE(FileRowCount(tab), 1);

        // The same file with another size updates its row.
        QTreeWidgetItem* row = FindRow(tab, QStringLiteral("Come Together.mp3"));
        const QString folder = SearchResultsForm::ResultOfRow(row)["search_result_file_folder"].AsString();
        const QString size = row->text(5);
        const quint32 token = gp_server->NextToken();
        ItemPtr request = d.GetType("search_request")->NewItem(Value(token));
        request.Connect(d.GetType("search_request_text")->GetItem(Value("come together")));
        request.Connect(d.GetType("wishlist_search")->GetGlobalNullItem());
        bob->Send(
            QStringLiteral("send-search-result alice %1 4321 %2\\Come Together.mp3").arg(token).arg(folder));
        QVERIFY(gui::WaitFor([&] { return row->text(5) == CommafyNumber(4321); }));
        QCOMPARE(FileRowCount(tab), 1);
        QCOMPARE(SearchResultsForm::ResultOfRow(row)["file_size"].AsInt64(), qint64(4321));
        QCOMPARE(d.ItemCount(), counts.front() + 1); // the item of the new size
        const int before = replies.count();
        gp_server->FileSearch(QStringLiteral("come together"), true);
        QVERIFY(gui::WaitFor([&] { return replies.count() > before; }));
        QCOMPARE(row->text(5), size);
        Shot(QStringLiteral("wish_event"));
        FocusWidget(Page()->wishList());
        Shot(QStringLiteral("wish_list"));

        bool visible = true;
        QCOMPARE(ActionText(tab, QStringLiteral("add_remove_wishlist")), QStringLiteral("Remove from Wish List"));
        ActionText(tab, QStringLiteral("stop_search"), &visible);
        QVERIFY(!visible);
        // Looking at the tab clears its alert; the filter is kept on the wish.
        QVERIFY(!EventButtons().contains(WishEvent(QStringLiteral("come together"))));
        tab->filterEdit()->setText(QStringLiteral("-z"));
        tab->filterEdit()->setText(QStringLiteral("-zzz"));
        QCOMPARE(Wish(QStringLiteral("come together"))["wish_list_item_filter_text"].AsString(), QStringLiteral("-zzz"));
        QVERIFY(!d.GetType("wish_list_item_filter_text")->HasItem(Value("-z")));
        FocusWidget(Page()->searchEdit());
    }

    // Unchecking a wish stops its searches; checking it resumes them. A
    // closed wish tab takes its searches along and the next repetition opens
    // a new one, which raises no alert while its filter hides every row.
    void uncheckingAWishStopsItsSearches()
    {
        QVERIFY(ComeTogether());
        QCheckBox* box = WishBox(QStringLiteral("come together"));
        QVERIFY(box);
        box->setChecked(false);
        QVERIFY(!Wish(QStringLiteral("come together")).IsConnected("wish_list_item_enabled"));
        QVERIFY(WishRow(QStringLiteral("come together"))->text(0).isEmpty());
        const size_t sent = WishSearchesSent();
        QTest::qWait(5000);
        QCOMPARE(WishSearchesSent(), sent);

        SearchForm* page = Page();
        page->OnWishTabCloseRequested(0);
        QCOMPARE(page->wishListTabControl()->count(), 0);
        QVERIFY(!EventButtons().contains(WishEvent(QStringLiteral("come together"))));
        Wish(QStringLiteral("come together"))
            .Connect(d.GetType("wish_list_item_filter_text")->GetItem(Value("-together")));
        QSignalSpy replies(peerMessenger, &PeerMessenger::SearchResults);
        Trigger(page->wishList(), QStringLiteral("enable_all_wish_list_items"));
        QVERIFY(box->isChecked());
        QVERIFY(Wish(QStringLiteral("come together")).IsConnected("wish_list_item_enabled"));
        QVERIFY(gui::WaitFor([] { return WishTab(QStringLiteral("come together")); }, 20000));
        SearchResultsForm* tab = WishTab(QStringLiteral("come together"));
        QCOMPARE(tab->filterEdit()->text(), QStringLiteral("-together"));
        QVERIFY(WaitForFiles(tab, 1));
        const int seen = replies.count();
        QVERIFY(gui::WaitFor([&] { return replies.count() > seen; }, 20000));
        QCoreApplication::processEvents();
        QVERIFY(VisibleFiles(tab).isEmpty());
        QVERIFY(!EventButtons().contains(WishEvent(QStringLiteral("come together"))));
        // Once a row shows, the next reply alerts.
        tab->filterEdit()->setText(QStringLiteral("-zzz"));
        QVERIFY(gui::WaitFor(
            [] { return EventButtons().contains(WishEvent(QStringLiteral("come together"))); }, 20000));
    }

    // Rows edited in place. A wish renamed away and back keeps its one tab,
    // whose filter stays the wish's.
    void editedRowsKeepOneWishAndItsTab()
    {
        QVERIFY(ComeTogether());
        SearchForm* page = Page();
        for (const char* text : { "alpha", "beta" })
            AddWish(text);
        Wish(QStringLiteral("alpha")).Connect(d.GetType("wish_list_item_filter_text")->GetItem(Value("keep")));
        const ItemPtr alpha = Wish(QStringLiteral("alpha"));

        // Blanks around the same text: the row reads the trimmed text and the
        // wish (with its filter) stays.
        EditRow(WishRow(QStringLiteral("alpha")), QStringLiteral("  alpha "));
        QCOMPARE(Wish(QStringLiteral("alpha")), alpha);
        QCOMPARE(alpha["wish_list_item_filter_text"].AsString(), QStringLiteral("keep"));
        QVERIFY(WishRow(QStringLiteral("alpha")));

        // A new text replaces the wish and keeps the check state.
        WishBox(QStringLiteral("alpha"))->setChecked(true);
        EditRow(WishRow(QStringLiteral("alpha")), QStringLiteral("gamma"));
        QVERIFY(!Wish(QStringLiteral("alpha")));
        QVERIFY(Wish(QStringLiteral("gamma")).IsConnected("wish_list_item_enabled"));
        QVERIFY(WishBox(QStringLiteral("gamma"))->isChecked());

        // The text of another row: the edited row goes, the other stays.
        EditRow(WishRow(QStringLiteral("gamma")), QStringLiteral("beta"));
        QCOMPARE(WishRows(), (QStringList{ QStringLiteral("beta [ ]"), QStringLiteral("come together [x]") }));
        QVERIFY(!Wish(QStringLiteral("gamma")));
        QCOMPARE(Count("wish_list_node"), size_t(2));

        // Blanks only: the row and its wish go.
        EditRow(WishRow(QStringLiteral("beta")), QStringLiteral("   "));
        QCOMPARE(WishRows(), QStringList{ QStringLiteral("come together [x]") });
        QVERIFY(!Wish(QStringLiteral("beta")));
        QCOMPARE(Count("wish_list_node_checkbox"), size_t(1));

        const QString song = QStringLiteral("come together");
        QVERIFY(WishTab(song));
        EditRow(WishRow(song), QStringLiteral("come tog"));
        EditRow(WishRow(QStringLiteral("come tog")), song);
        QVERIFY(gui::WaitFor([&] { return !Wish(song)["search_results_widget"].IsNull(); }, 20000));
        TabWidget* tabs = page->wishListTabControl();
        int songTabs = 0;
        for (int i = 0; i < tabs->count(); ++i)
            songTabs += static_cast<SearchResultsForm*>(tabs->widget(i))->SearchText() == song;
        QCOMPARE(songTabs, 1);
        QCOMPARE(Wish(song)["wish_list_item_filter_text"].AsString(), QStringLiteral("-zzz"));
    }

    // The turn of the searcher and its guards.
    void searcherTakesEnabledWishesInTurn()
    {
        QVERIFY(ComeTogether());
        WishListSearcher* searcher = wishListSearcher;
        searcher->Timer()->stop();
        Trigger(Page()->wishList(), QStringLiteral("disable_all_wish_list_items"));
        for (const char* text : { "beta", "Alpha", "alpha" })
            AddWish(text, true);
        QSignalSpy sent(gp_server, &Server::SearchRequested);
        runtimeSettings.Set("wish_list_search_index", Value(0));
        for (int i = 0; i < 4; ++i)
            searcher->OnSearchTimerTimeout();
        QStringList texts;
        for (const QList<QVariant>& call : sent)
            texts << call[1].toString() + (call[2].toBool() ? QString() : QStringLiteral(" (not a wish)"));
        QCOMPARE(texts, (QStringList{ "Alpha", "alpha", "beta", "Alpha" }));

        // A stored index beyond a shrunken list wraps.
        runtimeSettings.Set("wish_list_search_index", Value(5));
        sent.clear();
        searcher->OnSearchTimerTimeout();
        QCOMPARE(sent.at(0).at(1).toString(), QStringLiteral("beta"));
        QCOMPARE(runtimeSettings.GetInt("wish_list_search_index"), 0);

        // Nothing is sent while logged out.
        gp_server->Disconnect();
        sent.clear();
        searcher->OnSearchTimerTimeout();
        QCOMPARE(sent.size(), 0);
        gp_server->Connect();
        QVERIFY(session.WaitLoggedIn());

        // Periods: none for 0 or a negative one, a long one without overflow.
        searcher->OnWishListWait(0);
        QVERIFY(!searcher->Timer()->isActive());
        searcher->OnWishListWait(0xFFFFFFF0u);
        QVERIFY(!searcher->Timer()->isActive());
        searcher->OnWishListWait(3000000);
        QVERIFY(searcher->Timer()->isActive());
        QCOMPARE(searcher->Timer()->interval(), INT_MAX);
        searcher->OnWishListWait(120);
        QCOMPARE(searcher->Timer()->interval(), 120000);
        QCOMPARE(runtimeSettings.GetInt("wish_list_wait"), 120);

        for (const char* text : { "beta", "Alpha", "alpha" })
            Wish(QString::fromLatin1(text)).Remove();
        QCOMPARE(WishRows(), QStringList{ QStringLiteral("come together [ ]") });
        Trigger(Page()->wishList(), QStringLiteral("enable_all_wish_list_items"));
        searcher->OnWishListWait(2);
    }

    // A reply to a wish that is disabled opens no tab and leaves nothing. Once
    // enabled its tab opens, and "Remove from Wish List" on the tab shown
    // removes that wish, whatever the hidden manual tab holds.
    void replyToADisabledWishOpensNoTab()
    {
        QVERIFY(ComeTogether());
        AddWish(QStringLiteral("other song"));
        QSignalSpy replies(peerMessenger, &PeerMessenger::SearchResults);
        const quint32 token = gp_server->FileSearch(QStringLiteral("other song"), true);
        ItemPtr request = d.GetType("search_request")->HasItem(Value(token));
        // Other wishes are searched meanwhile: wait for this reply by count.
        const int before = replies.count();
        QVERIFY(!bob->WaitFor(QStringLiteral("search-processed 1 other song")).isEmpty());
        QVERIFY(gui::WaitFor([&] { return replies.count() > before; }));
        QTest::qWait(1000);
        QVERIFY(!WishTab(QStringLiteral("other song")));
        QCOMPARE(request.CountItems("search_results"), size_t(0));

        SearchResultsForm* manual = Search(QStringLiteral("something else"));
        QVERIFY(manual);
        WishBox(QStringLiteral("other song"))->setChecked(true);
        QVERIFY(gui::WaitFor([] { return WishTab(QStringLiteral("other song")); }, 20000));
        SearchResultsForm* tab = WishTab(QStringLiteral("other song"));
        FocusWidget(tab->searchResults());
        QVERIFY(tab->isVisible() && !manual->isVisible());
        QCOMPARE(
            ActionText(tab, QStringLiteral("add_remove_wishlist")), QStringLiteral("Remove from Wish List"));
        Trigger(tab, QStringLiteral("add_remove_wishlist"));
        QVERIFY(!Wish(QStringLiteral("other song")));
        QVERIFY(!WishRow(QStringLiteral("other song")));
        QVERIFY(!Wish(QStringLiteral("something else")));
        QVERIFY(Wish(QStringLiteral("come together")));
        Page()->OnWishTabCloseRequested(Page()->wishListTabControl()->indexOf(tab));
    }

    // The list and a wish's own filter survive a restart.
    void wishesAndTheirFiltersSurviveARestart()
    {
        QVERIFY(ComeTogether());
        session.CloseWindow();
        QCOMPARE(session.RunChild("verify_wishes"), 0);
    }
};

GUI_TEST_MAIN(TestWishList)
#include "tst_wishlist.moc"
