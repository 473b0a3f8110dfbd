// The Search page end to end: the real main window logged in to the stand-in
// server, two headless clients sharing real MP3s. Searching, reading and
// filtering the results, downloading from them, stopping and closing
// searches, the search targets, the received searches and what survives a
// restart.
#include "helper_search.h"
#include "helper_shares.h"
#include "pages/browse/ShareForm.h"
#include "pages/search/FilterHelpDialog.h"
#include "pages/search/ReceivedSearchesForm.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultListItem.h"
#include "pages/search/SearchResultMenuOptions.h"
#include "pages/search/SearchResultsForm.h"
#include "pages/transfers/TransfersForm.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include "transfers/TransferQueueManager.h"
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

using namespace searchtest;

namespace {

// Markup, a right-to-left override that would show the name backwards, and
// line and paragraph separators that would hide what follows them.
const QString kHostileFolder = QString::fromUtf16(u"Tags &\u2029<i>x");
const QString kHostileFile = QString::fromUtf16(u"<b>Bold & Co \u202Eevil together 3pm.jpg\u2028.mp3");

QAction* MenuEntry(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

QStringList MenuTexts(QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        if (!action->isSeparator())
            texts << action->text();
    return texts;
}

QString Name(const QTreeWidgetItem* row, int column)
{
    return SearchResultListItem::Name(*row, column);
}

QString Local(QString path)
{
    return path.replace(u'\\', u'/');
}

bool WaitComplete(ItemPtr entry, int ms = 30000)
{
    return gui::WaitFor([&] { return entry["download_entry_status"].AsString() == QLatin1String("complete"); }, ms);
}

QStringList BoxTexts(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

GUI_CHILD_ROLE(verify_restart)
{
    gui::Session session;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice")))
        return 1;
    SearchForm* page = Page();
    // The history, newest first, as the first run left it.
    QFile expected(session.Home() + QStringLiteral("/expected_history"));
    if (!expected.open(QIODevice::ReadOnly)
        || BoxTexts(page->searchEdit()) != QString::fromUtf8(expected.readAll()).split(u'\n')) {
        qWarning() << "history" << BoxTexts(page->searchEdit());
        return 2;
    }
    // The saved filter and the default filter reach a new tab.
    SearchResultsForm* tab = page->CreateSearchForm(gp_server->NextToken(), QStringLiteral("later"), ManualSearch);
    if (!BoxTexts(tab->savedFiltersBox()).contains(QStringLiteral("together -live"))
        || tab->filterEdit()->text() != QLatin1String("Together -live") || !tab->defaultFilterBox()->isChecked()) {
        qWarning() << "filters" << BoxTexts(tab->savedFiltersBox()) << tab->filterEdit()->text();
        return 3;
    }
    return 0;
}

class TestSearch : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir shares;
    DriverProcess* bob = nullptr;
    DriverProcess* carol = nullptr;
    QString bobRoot;
    QPointer<SearchResultsForm> together;

    QString BobFile(const QString& relative) const { return bobRoot + u'/' + relative; }

private slots:
    void initTestCase()
    {
        bobRoot = shares.filePath(QStringLiteral("Music"));
        QVERIFY(MakeMp3(BobFile(QStringLiteral("Abbey Road/01 Come Together.mp3")), 128));
        QVERIFY(MakeMp3(BobFile(QStringLiteral("Abbey Road/02 Something Together.mp3")), 0, true));
        WriteFile(BobFile(QStringLiteral("Abbey Road/03 Together Octopus.flac")), QByteArray(5000, 'f'));
        QVERIFY(MakeMp3(BobFile(QStringLiteral("Live Bootlegs/Come Together live.mp3")), 320));
        QVERIFY(MakeMp3(BobFile(kHostileFolder + u'/' + kHostileFile), 128));
        for (const char* twin : { "Demos/twin take.flac", "Outtakes/twin take.flac" })
            WriteFile(BobFile(QString::fromLatin1(twin)), QByteArray(700, 't'));
        // The longest, so the largest: an order by size is no order by bitrate.
        QVERIFY(MakeMp3(shares.filePath(QStringLiteral("Songs/Come Together cover.mp3")), 192, false, 3.0));

        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        carol = session.StartDriver(QStringLiteral("carol"));
        QVERIFY(bob && carol);
        bob->Send(QStringLiteral("share-folder ") + bobRoot);
        bob->Send(QStringLiteral("wait-shares"));
        carol->Send(QStringLiteral("share-folder ") + shares.filePath(QStringLiteral("Songs")));
        carol->Send(QStringLiteral("wait-shares"));
        QCOMPARE(bob->WaitFor(QStringLiteral("shares-ready")), QStringLiteral("shares-ready 7"));
        QCOMPARE(carol->WaitFor(QStringLiteral("shares-ready")), QStringLiteral("shares-ready 1"));
        // The MP3 headers are read after the walk, on the scanner's thread:
        // results carry every bitrate once all are read.
        const auto scanned = [](DriverProcess* driver) {
            const qsizetype from = driver->Lines().size();
            driver->Send(QStringLiteral("log MP3 Scanning"));
            return driver->Sync() ? driver->Lines().mid(from).filter(QStringLiteral("log Scanned")).size() : -1;
        };
        QVERIFY(gui::WaitFor([&] { return scanned(bob) == 4 && scanned(carol) == 1; }, 60000));
    }

    // A search from the box: a tab with the users' rows, folders, sizes and
    // MP3 attributes, the related searches and the history.
    void searchFromTheBoxShowsResultsAndHistory()
    {
        SearchForm* page = Page();
        const int tabs = page->searchTabControl()->count();
        page->searchEdit()->lineEdit()->setText(QStringLiteral("   "));
        page->searchButton()->click();
        QCOMPARE(page->searchTabControl()->count(), tabs);

        together = Search(QStringLiteral("  together "));
        QVERIFY(together);
        QCOMPARE(together->SearchText(), QStringLiteral("together"));
        QCOMPARE(page->searchTabControl()->tabText(page->searchTabControl()->indexOf(together)),
            IsolatedText(QStringLiteral("together")));
        QVERIFY(page->searchEdit()->lineEdit()->text().isEmpty());
        QVERIFY(WaitForFiles(together, 6));
        // At the window's first size the tab's whole tool bar shows, and the
        // names are not cut while the list has room for them.
        QTreeWidget* list = together->searchResults();
        FocusWidget(list);
        QVERIFY(actionBar->FindAction(QStringLiteral("stop_search")));
        for (QAction* action : actionBar->actions())
            QVERIFY2(!action->isVisible() || actionBar->widgetForAction(action)->isVisible(), qPrintable(action->text()));
        const auto fits = [list](int column) {
            return list->columnWidth(column) >= static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column)
                || list->header()->length() >= list->viewport()->width();
        };
        QVERIFY(gui::WaitFor([&] { return fits(3) && fits(4); }));

        QTreeWidgetItem* bobRow = FindRow(together, QStringLiteral("bob"));
        QVERIFY(bobRow && FindRow(together, QStringLiteral("carol")));
        QCOMPARE(bobRow->childCount(), 3);
        QCOMPARE(bobRow->text(1), QStringLiteral("Y"));
        QTreeWidgetItem* come = FindRow(together, QStringLiteral("01 Come Together.mp3"));
        QVERIFY(come);
        QVERIFY2(Name(come->parent(), 3).startsWith(QStringLiteral("Abbey Road/Music/")),
            qPrintable(come->parent()->text(3)));
        QCOMPARE(come->text(5), CommafyNumber(QFileInfo(BobFile(QStringLiteral("Abbey Road/01 Come Together.mp3"))).size()));
        QVERIFY2(come->text(6).startsWith(QStringLiteral("128 CBR")), qPrintable(come->text(6)));
        QVERIFY(FindRow(together, QStringLiteral("02 Something Together.mp3"))->text(6).contains(QStringLiteral(" VBR")));
        QVERIFY(FindRow(together, QStringLiteral("03 Together Octopus.flac"))->text(6).isEmpty());
        // Names from peers are shown as they are, never as markup, and
        // isolated on one line: a direction control can't turn them around,
        // nor a line separator hide their real extension.
        QTreeWidgetItem* hostile = FindRow(together, kHostileFile);
        QVERIFY(hostile);
        QVERIFY(gui::ShowsIsolated(hostile->text(4), kHostileFile));
        QVERIFY(Name(hostile->parent(), 3).startsWith(kHostileFolder + u'/'));
        QVERIFY(gui::ShowsIsolated(hostile->parent()->text(3), Name(hostile->parent(), 3)));
        QVERIFY(gui::ShowsIsolated(bobRow->text(0), QStringLiteral("bob")));

        // Related searches, by rank.
        QVERIFY(gui::WaitFor([&] { return together->CorrelationsWidget()->topLevelItemCount() == 2; }));
        QVERIFY(together->CorrelationsWidget()->isVisible());
        QCOMPARE(together->CorrelationsWidget()->topLevelItem(0)->text(0),
            IsolatedText(QStringLiteral("together remix")));
        QCOMPARE(together->CorrelationsWidget()->topLevelItem(1)->text(0),
            IsolatedText(QStringLiteral("together live")));
        // A later answer for the text, while the user is in the list: the
        // keyboard stays there, on the row it was on.
        QTreeWidget* related = together->CorrelationsWidget();
        FocusWidget(related);
        related->setCurrentItem(related->topLevelItem(1));
        QSignalSpy answered(gp_server, &Server::SearchCorrelations);
        gp_server->GetSearchCorrelations(QStringLiteral("together"));
        QVERIFY(answered.wait());
        QCOMPARE(QApplication::focusWidget(), related);
        QCOMPARE(SearchResultsForm::CorrelationText(related->currentItem()), QStringLiteral("together live"));
        emit together->CorrelationsWidget()->itemClicked(together->CorrelationsWidget()->topLevelItem(1), 0);
        QCOMPARE(page->searchEdit()->lineEdit()->text(), QStringLiteral("together live"));
        emit together->CorrelationsWidget()->itemDoubleClicked(together->CorrelationsWidget()->topLevelItem(1), 0);
        QCOMPARE(page->searchTabControl()->count(), tabs + 2);
        QVERIFY(page->searchEdit()->lineEdit()->text().isEmpty());

        // History: one entry per query, newest first, at most 20; a related
        // search is not recorded.
        QCOMPARE(BoxTexts(page->searchEdit()), QStringList{ QStringLiteral("together") });
        for (int i = 1; i <= 21; ++i) {
            page->RecordSearch(QStringLiteral("query %1").arg(i));
            QTest::qWait(2); // distinct times
        }
        page->RecordSearch(QStringLiteral("query 5"));
        QTest::qWait(2);
        // The entry of that text moves to the top; the others keep their order.
        QStringList history{ QStringLiteral("query 5") };
        for (int i = 21; i >= 2; --i)
            if (i != 5)
                history << QStringLiteral("query %1").arg(i);
        QCOMPARE(BoxTexts(page->searchEdit()), history);
        QCOMPARE(Count("search_record"), size_t(SearchForm::kHistorySize));
        QVERIFY(!BoxTexts(page->searchEdit()).contains(QStringLiteral("together")));
        QVERIFY(!d.GetType("search_record")->HasItem(Value("together")));
        QVERIFY(BoxTexts(page->searchEdit()).contains(QStringLiteral("query 1")) == bool(d.GetType("search_record")->HasItem(Value("query 1"))));
        page->RecordSearch(QStringLiteral("query 21"));

        // What is typed is searched, not the history entry it begins.
        QLineEdit* line = page->searchEdit()->lineEdit();
        line->clear();
        FocusWidget(line);
        QVERIFY(gui::WaitFor([&] { return line->hasFocus(); }));
        const int before = page->searchTabControl()->count();
        QTest::keyClicks(line, QStringLiteral("quer"));
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(page->searchTabControl()->count(), before + 1);
        auto* typed = qobject_cast<SearchResultsForm*>(page->searchTabControl()->widget(before));
        QVERIFY(typed);
        QCOMPARE(typed->SearchText(), QStringLiteral("quer"));
        QCOMPARE(typed->WidgetItem().GetItems("search_request").First()["search_request_text"].AsString(),
            QStringLiteral("quer"));
        QCOMPARE(page->searchEdit()->itemText(0), QStringLiteral("quer"));
        QCOMPARE(page->searchEdit()->itemText(1), QStringLiteral("query 21"));

        // The tab's order: free users first, then faster ones; file
        // rows by name within a folder.
        QVERIFY(gui::WaitFor([&] { return together->searchResults()->header()->sortIndicatorSection() == 1; }));
        QTreeWidgetItem* abbey = come->parent();
        QCOMPARE(Name(abbey->child(0), 4), QStringLiteral("01 Come Together.mp3"));
        QCOMPARE(Name(abbey->child(2), 4), QStringLiteral("03 Together Octopus.flac"));
        FocusWidget(together->searchResults());
        Shot(QStringLiteral("search_results"));

        // The tab's view actions and their per-tab texts.
        Trigger(together, QStringLiteral("expand_folders"));
        QCOMPARE(ActionText(together, QStringLiteral("expand_folders")), QStringLiteral("Expand Folders [off]"));
        QVERIFY(!abbey->isExpanded() && bobRow->isExpanded());
        Trigger(together, QStringLiteral("expand_users"));
        QVERIFY(!bobRow->isExpanded());
        Trigger(together, QStringLiteral("expand_folders"));
        Trigger(together, QStringLiteral("expand_users"));
        QCOMPARE(ActionText(together, QStringLiteral("expand_folders")), QStringLiteral("Expand Folders [on]"));
        QVERIFY(abbey->isExpanded() && bobRow->isExpanded());
        Trigger(together, QStringLiteral("order_by_fastest"));
        QCOMPARE(ActionText(together, QStringLiteral("order_by_fastest")), QStringLiteral("Order by Fastest [on]"));
        QCOMPARE(ActionText(together, QStringLiteral("order_by_available")), QStringLiteral("Order by Available"));
        QCOMPARE(together->SortColumn(), 2);
        Trigger(together, QStringLiteral("order_by_available"));
        QCOMPARE(together->SortColumn(), 1);
        Trigger(together, QStringLiteral("reenter_search"));
        QCOMPARE(page->searchEdit()->lineEdit()->text(), QStringLiteral("together"));
        page->searchEdit()->lineEdit()->clear();
    }

    // The filter language over the tree, saved filters and the default filter.
    void filtersHideRowsAndTheDefaultReachesNewTabs()
    {
        if (!together) // opened by the first function
            together = Search(QStringLiteral("together"));
        QVERIFY(together && WaitForFiles(together, 6));
        QLineEdit* filter = together->filterEdit();
        const QStringList all = VisibleFiles(together);
        QCOMPARE(all.size(), 6);

        filter->setText(QStringLiteral("together -live"));
        QCOMPARE(VisibleFiles(together).size(), 5);
        QVERIFY(FindRow(together, QStringLiteral("Come Together live.mp3"))->parent()->isHidden());

        filter->setText(QStringLiteral("abbey COME"));
        QCOMPARE(VisibleFiles(together), QStringList{ QStringLiteral("01 Come Together.mp3") });
        QVERIFY(FindRow(together, QStringLiteral("carol"))->isHidden());

        filter->setText(QStringLiteral("mbr:300"));
        QCOMPARE(VisibleFiles(together), QStringList{ QStringLiteral("Come Together live.mp3") });
        filter->setText(QStringLiteral("isvbr"));
        QCOMPARE(VisibleFiles(together), QStringList{ QStringLiteral("02 Something Together.mp3") });
        filter->setText(QStringLiteral("minfilesinfolder:3"));
        QCOMPARE(VisibleFiles(together).size(), 3);
        QVERIFY(FindRow(together, QStringLiteral("carol"))->isHidden());

        // A word never spans the folder text and the file name.
        const QString folderTail
            = Name(FindRow(together, QStringLiteral("01 Come Together.mp3"))->parent(), 3).section(u'/', -1);
        filter->setText(folderTail + QStringLiteral("01"));
        QVERIFY(VisibleFiles(together).isEmpty());

        together->clearFilterButton()->click();
        QCOMPARE(VisibleFiles(together), all);

        // Saving keeps the simplified, lower-cased text; the button follows.
        filter->setText(QStringLiteral("  Together   -LIVE "));
        QCOMPARE(together->saveFilterButton()->text(), QStringLiteral("Save Filter"));
        together->saveFilterButton()->click();
        QVERIFY(d.GetType("saved_filter")->HasItem(Value("together -live")));
        QCOMPARE(together->saveFilterButton()->text(), QStringLiteral("Remove Filter"));
        QCOMPARE(BoxTexts(together->savedFiltersBox()),
            (QStringList{ QStringLiteral("-- saved filters"), QStringLiteral("together -live") }));
        filter->setText(QStringLiteral("   "));
        together->saveFilterButton()->click();
        QCOMPARE(Count("saved_filter"), size_t(1));
        together->savedFiltersBox()->setCurrentIndex(1);
        QCOMPARE(filter->text(), QStringLiteral("together -live"));
        QCOMPARE(together->savedFiltersBox()->currentIndex(), 0);
        QCOMPARE(VisibleFiles(together).size(), 5);

        // Default filter: not with an empty text; a new tab starts with it.
        filter->clear();
        together->defaultFilterBox()->click();
        QVERIFY(!together->defaultFilterBox()->isChecked());
        QVERIFY(!settings.Has("default_search_filter"));
        filter->setText(QStringLiteral("Together -live"));
        together->defaultFilterBox()->click();
        QCOMPARE(settings.Get("default_search_filter"), QStringLiteral("Together -live"));
        filter->clear();
        QVERIFY(!together->defaultFilterBox()->isChecked());
        QCOMPARE(settings.Get("default_search_filter"), QStringLiteral("Together -live"));
        SearchResultsForm* fresh = Search(QStringLiteral("octopus"));
        QVERIFY(fresh);
        QCOMPARE(fresh->filterEdit()->text(), QStringLiteral("Together -live"));
        QVERIFY(fresh->defaultFilterBox()->isChecked());
        // The filter applies to rows as they arrive.
        QVERIFY(WaitForFiles(fresh, 1));
        QCOMPARE(VisibleFiles(fresh), QStringList{ QStringLiteral("03 Together Octopus.flac") });
        FocusWidget(together->searchResults());
        together->filterEdit()->setText(QStringLiteral("together -live mfif:2"));
        together->filterHelpButton()->click();
        Shot(QStringLiteral("filter_help"));
        Shot(QStringLiteral("filter_help_dialog"), filterHelpDialog);
        if (filterHelpDialog)
            filterHelpDialog->close();
        together->filterEdit()->clear();
    }

    // Downloads from the results: a file by double click, a folder from the
    // menu, byte-identical, each entry keeping the search text.
    void resultsDownloadAsTheyAreAndKeepTheSearchText()
    {
        if (!together) // opened by the first function
            together = Search(QStringLiteral("together"));
        QVERIFY(together && WaitForFiles(together, 6));
        d.GetType("excluded_download_extension")->GetItem(Value("flac"));

        QTreeWidgetItem* come = FindRow(together, QStringLiteral("01 Come Together.mp3"));
        together->OnResultDoubleClicked(come, 4);
        ItemPtr entry = transferQueueManager->GetDownloadEntry(
            QStringLiteral("bob"), "01 Come Together.mp3", SearchResultsForm::ResultOfRow(come)["search_result_file_folder"].Text());
        QVERIFY(entry);
        QCOMPARE(entry["search_request_text"].AsString(), QStringLiteral("together"));
        QVERIFY(entry.IsConnected("single_download"));
        QVERIFY(!come->icon(4).isNull());
        QVERIFY(WaitComplete(entry));
        QCOMPARE(ReadWholeFileBytes(Local(transferQueueManager->GetDownloadTargetPath(entry, true))),
            ReadWholeFileBytes(BobFile(QStringLiteral("Abbey Road/01 Come Together.mp3"))));

        // The folder from the menu of one of its files: the flac is skipped.
        QTreeWidgetItem* something = FindRow(together, QStringLiteral("02 Something Together.mp3"));
        together->searchResults()->clearSelection();
        something->setSelected(true);
        {
            QMenu menu;
            SearchResultMenuOptions options(&menu, something);
            QCOMPARE(MenuTexts(menu),
                (QStringList{ QStringLiteral("Download File(s)"), QStringLiteral("Download Folder(s)"), QStringLiteral("Browse Folder") }));
            MenuEntry(menu, QStringLiteral("Download Folder(s)"))->trigger();
        }
        const std::string folder = SearchResultsForm::ResultOfRow(something)["search_result_file_folder"].Text();
        ItemPtr second = transferQueueManager->GetDownloadEntry(QStringLiteral("bob"), "02 Something Together.mp3", folder);
        QVERIFY(second);
        QVERIFY(!transferQueueManager->GetDownloadEntry(QStringLiteral("bob"), "03 Together Octopus.flac", folder));
        QVERIFY(!second.IsConnected("single_download"));
        QCOMPARE(second["search_request_text"].AsString(), QStringLiteral("together"));
        QVERIFY(WaitComplete(second));
        QCOMPARE(ReadWholeFileBytes(Local(transferQueueManager->GetDownloadTargetPath(second, true))),
            ReadWholeFileBytes(BobFile(QStringLiteral("Abbey Road/02 Something Together.mp3"))));

        // "Browse Folder": the user's share opens at that folder.
        {
            QMenu menu;
            SearchResultMenuOptions options(&menu, something->parent());
            MenuEntry(menu, QStringLiteral("Browse Folder"))->trigger();
        }
        auto* browse = d.GetType("user")->GetItem(Value("bob"))["user_share_tab"].AsPointer<ShareForm>();
        QVERIFY(browse);
        QVERIFY(gui::WaitFor([&] {
            QTreeWidgetItem* current = browse->FolderTree()->currentItem();
            return current && gui::ShowsIsolated(current->text(0), QStringLiteral("Abbey Road"));
        }));

        // A user row's menu has no result entries.
        {
            QMenu menu;
            SearchResultMenuOptions options(&menu, FindRow(together, QStringLiteral("bob")));
            QVERIFY(menu.actions().isEmpty());
        }

        // Markup-like names, and names that hold line separators, download as
        // they are, under the downloads folder, and show whole on one line.
        QTreeWidgetItem* hostile = FindRow(together, kHostileFile);
        together->OnResultDoubleClicked(hostile, 4);
        ItemPtr third = transferQueueManager->GetDownloadEntry(QStringLiteral("bob"), kHostileFile.toStdString(),
            SearchResultsForm::ResultOfRow(hostile)["search_result_file_folder"].Text());
        QVERIFY(WaitComplete(third));
        const QString target = Local(transferQueueManager->GetDownloadTargetPath(third, true));
        QVERIFY2(target.endsWith(kHostileFolder + u'/' + kHostileFile), qPrintable(target));
        QCOMPARE(ReadWholeFileBytes(target), ReadWholeFileBytes(BobFile(kHostileFolder + u'/' + kHostileFile)));
        QVERIFY(gui::ShowsIsolated(TransfersForm::DownloadRow(third)->text(2), kHostileFile));

        // A reply whose path climbs out: shown literally, downloaded beneath
        // the downloads folder.
        const QString ticket = together->WidgetItem().GetItems("search_request").First().AsString();
        bob->Send(QStringLiteral("send-search-result alice %1 77 ..\\..\\<b>up&amp;\\..\\escape.mp3").arg(ticket));
        QVERIFY(WaitForFiles(together, 7));
        QTreeWidgetItem* escape = FindRow(together, QStringLiteral("escape.mp3"));
        QVERIFY(escape);
        QCOMPARE(Name(escape->parent(), 3), QStringLiteral("../<b>up&amp;/../.."));
        together->OnResultDoubleClicked(escape, 4);
        ItemPtr fourth = transferQueueManager->GetDownloadEntry(QStringLiteral("bob"), "escape.mp3", "..\\..\\<b>up&amp;\\..");
        QVERIFY(fourth);
        const QString root = QDir(Local(settings.Get("download_folder"))).canonicalPath();
        const QString escapeTarget = QDir::cleanPath(Local(transferQueueManager->GetDownloadTargetPath(fourth, false)));
        QVERIFY2(escapeTarget.startsWith(root + u'/'), qPrintable(escapeTarget + QStringLiteral(" not under ") + root));
    }

    // The flat layout: one row per file, a clickable header (names in
    // alphabetical order, attributes by bitrate), and the file entries on
    // every row's menu.
    void oldStyleResultsShowOneRowPerFile()
    {
        settings.Set("use_old_style_search_results", "yes");
        SearchResultsForm* flat = Search(QStringLiteral("come"));
        settings.Clear("use_old_style_search_results");
        QVERIFY(flat && flat->IsOldStyle());
        // The filter applies to rows as they arrive here too.
        flat->filterEdit()->setText(QStringLiteral("cover"));
        QVERIFY(WaitForFiles(flat, 3));
        QCOMPARE(VisibleFiles(flat), QStringList{ QStringLiteral("Come Together cover.mp3") });
        QTreeWidget* tree = flat->searchResults();
        QCOMPARE(tree->topLevelItemCount(), 3);
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QCOMPARE(tree->topLevelItem(i)->childCount(), 0);
            QVERIFY(!tree->topLevelItem(i)->text(0).isEmpty());
            QMenu menu;
            SearchResultMenuOptions options(&menu, tree->topLevelItem(i));
            QVERIFY(MenuEntry(menu, QStringLiteral("Download File(s)")));
        }
        QVERIFY(tree->header()->sectionsClickable());
        flat->filterEdit()->clear();
        QCOMPARE(VisibleFiles(flat).size(), 3);

        // A header click picks the column; later sorts keep it.
        QHeaderView* header = tree->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
            QPoint(header->sectionViewportPosition(4) + 5, header->height() / 2));
        QCOMPARE(flat->SortColumn(), 4);
        flat->Sort();
        QCOMPARE(header->sortIndicatorSection(), 4);
        QStringList names;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            names << Name(tree->topLevelItem(i), 4);
        QStringList sorted = names;
        std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        if (flat->SortOrder() == Qt::DescendingOrder)
            std::reverse(sorted.begin(), sorted.end());
        QCOMPARE(names, sorted);

        // The Attributes column orders by bitrate, the highest first.
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
            QPoint(header->sectionViewportPosition(AttributesColumn) + 5, header->height() / 2));
        QCOMPARE(flat->SortColumn(), int(AttributesColumn));
        QStringList byBitrate { QStringLiteral("Come Together live.mp3"),
            QStringLiteral("Come Together cover.mp3"), QStringLiteral("01 Come Together.mp3") };
        if (flat->SortOrder() == Qt::DescendingOrder)
            std::reverse(byBitrate.begin(), byBitrate.end());
        names.clear();
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            names << Name(tree->topLevelItem(i), FileColumn);
        QCOMPARE(names, byBitrate);

        // One user's files of one name in two folders are two rows.
        settings.Set("use_old_style_search_results", "yes");
        SearchResultsForm* twins = Search(QStringLiteral("twin"));
        settings.Clear("use_old_style_search_results");
        QVERIFY(twins && twins->IsOldStyle());
        twins->filterEdit()->clear();
        QVERIFY(WaitForFiles(twins, 2));
        QCOMPARE(twins->searchResults()->topLevelItemCount(), 2);
    }

    // Stopping keeps the tab and takes no more replies; closing removes the
    // tab and everything the search put into the store, and the last tab
    // leaves the keyboard in the search line; late replies are harmless.
    void stoppedSearchTakesNoRepliesAndClosedLeavesNothing()
    {
        SearchForm* page = Page();
        // Closed tabs let their results go a slice at a time: counted once gone.
        QList<QPointer<QWidget>> closed;
        while (page->searchTabControl()->count() > 0) {
            closed.append(page->searchTabControl()->widget(0));
            page->OnTabCloseRequested(0);
        }
        QVERIFY(gui::WaitFor([&] { return std::all_of(closed.begin(), closed.end(), [](const auto& t) { return !t; }); }));
        const size_t replies = Count("search_results");
        const size_t results = Count("search_result");
        const size_t nodes = Count("search_result_node");
        QPointer<SearchResultsForm> tab = Search(QStringLiteral("octopus"));
        QVERIFY(tab);
        tab->filterEdit()->clear();
        QVERIFY(WaitForFiles(tab, 1));
        const QString ticket = tab->WidgetItem().GetItems("search_request").First().AsString();

        bool visible = false;
        QCOMPARE(ActionText(tab, QStringLiteral("stop_search"), &visible), QStringLiteral("Stop Search"));
        QVERIFY(visible);
        FocusWidget(tab->searchResults());
        Trigger(tab, QStringLiteral("stop_search"));
        QCOMPARE(ActionText(tab, QStringLiteral("stop_search")), QStringLiteral("Search Stopped"));
        const size_t storedBefore = Count("search_results");
        bob->Send(QStringLiteral("send-search-result alice %1 10 late\\file.mp3").arg(ticket));
        QVERIFY(bob->Sync());
        QTest::qWait(500);
        QCOMPARE(FileRowCount(tab), 1);
        QCOMPARE(Count("search_results"), storedBefore);

        // Closing: nothing of the search is left.
        page->OnTabCloseRequested(page->searchTabControl()->indexOf(tab));
        QVERIFY(page->searchTabControl()->indexOf(tab) < 0);
        QCOMPARE(QApplication::focusWidget(), page->searchEdit());
        QVERIFY(gui::WaitFor([&] { return !tab; }));
        QCOMPARE(Count("search_results"), replies);
        QCOMPARE(Count("search_result"), results);
        QCOMPARE(Count("search_result_node"), nodes);
        QVERIFY(!d.GetType("search_request")->HasItem(Value(ticket)));
        bob->Send(QStringLiteral("send-search-result alice %1 10 later\\file.mp3").arg(ticket));
        QVERIFY(bob->Sync());
        QTest::qWait(500);
        QCOMPARE(Count("search_results"), replies);
    }

    // A peer's reply of thousands of results, one named with 60,000 letters
    // in a folder 2,000 deep: stored and shown over several turns of the event
    // loop, every result in the end, the long names cut where a row shows
    // them and kept whole for downloads; closing the tab leaves nothing, not
    // even the folders its results shared.
    void floodOfResultsComesInPartsWithNamesCut()
    {
        const size_t results = Count("search_result");
        const size_t folders = Count("search_result_file_folder");
        QPointer<SearchResultsForm> tab = Search(QStringLiteral("zzflood"));
        QVERIFY(tab);
        tab->filterEdit()->clear();
        SearchReply reply;
        reply.user = "flooder";
        reply.ticket = tab->WidgetItem().GetItems("search_request").First().AsUInt();
        const int count = 5000;
        for (int i = 0; i < count; ++i) {
            FileInfo file;
            file.name = "flood\\" + std::to_string(i / 10) + "\\track " + std::to_string(i) + ".mp3";
            reply.files.push_back(file);
        }
        std::string longName(60000, 'n');
        longName += ".mp3";
        std::string deep = "deep";
        for (int level = 0; level < 2000; ++level)
            deep += "\\d";
        reply.files[0].name = deep + "\\" + longName;
        peerMessenger->ProcessMessage(QStringLiteral("flooder"), EncodeSearchReply(reply).GetBuffer());
        QCOMPARE(FileRowCount(tab), 0);
        int turns = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++turns; });
        ticker.start(0);
        QVERIFY(WaitForFiles(tab, count));
        QVERIFY2(turns > 1, qPrintable(QString::number(turns)));
        QCOMPARE(VisibleFiles(tab).size(), count);
        QCOMPARE(FileRowCount(tab), count);

        QTreeWidgetItem* row = FindRow(tab, QString::fromStdString(longName));
        QVERIFY(row);
        // What is shown, less the unseen places to break a line.
        QVERIFY(row->text(FileColumn).remove(QChar(0x200B)).size() <= SearchResultListItem::kShownName + 4);
        QVERIFY(row->parent()->text(FolderColumn).remove(QChar(0x200B)).size() <= SearchResultListItem::kShownName + 4);
        QCOMPARE(SearchResultsForm::ResultOfRow(row)["search_result_file_name"].Text(), longName);
        QCOMPARE(SearchResultsForm::ResultOfRow(row)["search_result_file_folder"].Text(), deep);
        Shot(QStringLiteral("flood_long_names"), tab);

        // One record repeated 131,071 times, half a gigabyte once read, from
        // a few hundred bytes: refused, the log names the peer, the window
        // stays small and the tab shows nothing of it.
        ResetPeakResident();
        const qint64 peak = PeakResidentKiB();
        carol->Send(QStringLiteral("send-repeated-reply alice %1 4096 131071").arg(reply.ticket));
        QVERIFY(gui::WaitFor([] {
            const auto lines = LogSink::Instance().AreaLines(QStringLiteral("Peer Messenger"));
            return std::any_of(lines.begin(), lines.end(), [](const LogLine& line) {
                return line.text.startsWith(QStringLiteral("Refused a search reply from carol: its 131072 results"));
            });
        }));
        QVERIFY(PeakResidentKiB() - peak < 64 * 1024);
        QCOMPARE(FileRowCount(tab), count);

        // A later reply's files go in among a folder's rows at their places,
        // whatever order they come in.
        SearchReply more = reply;
        more.files.clear();
        for (const char* name : { "35b", "30a", "39z", "0", "31a" }) {
            FileInfo file;
            file.name = std::string("flood\\3\\track ") + name + ".mp3";
            more.files.push_back(file);
        }
        peerMessenger->ProcessMessage(QStringLiteral("flooder"), EncodeSearchReply(more).GetBuffer());
        QVERIFY(WaitForFiles(tab, count + 5));
        QTreeWidgetItem* three = FindRow(tab, QStringLiteral("track 30a.mp3"))->parent();
        QStringList names;
        for (int i = 0; i < three->childCount(); ++i)
            names << Name(three->child(i), FileColumn).toLower();
        QCOMPARE(names.size(), 15);
        QVERIFY2(std::is_sorted(names.begin(), names.end()), qPrintable(names.join(u',')));

        Page()->OnTabCloseRequested(Page()->searchTabControl()->indexOf(tab));
        QVERIFY(gui::WaitFor([&] { return !tab; }));
        QCOMPARE(Count("search_result"), results);
        QCOMPARE(Count("search_result_file_folder"), folders);
        QVERIFY(!d.GetType("search_result_file_name")->HasItem(Value(longName)));
    }

    // The room and user-list targets.
    void roomAndUserListTargetsAskOnlyTheirUsers()
    {
        SearchForm* page = Page();
        // User list: only the users in it answer.
        d.GetType("user")->GetItem(Value("carol")).NewItem("in_user_list");
        gp_server->TrackUser(QStringLiteral("carol"));
        QVERIFY(gui::WaitFor([] { return d.GetType("user")->GetItem(Value("carol")).IsConnected("is_online"); }));
        SearchResultsForm* listed = Search(QStringLiteral("together"), QStringLiteral("User List"));
        QVERIFY(listed);
        listed->filterEdit()->clear();
        QVERIFY(WaitForFiles(listed, 1));
        QTest::qWait(500);
        QCOMPARE(listed->searchResults()->topLevelItemCount(), 1);
        QCOMPARE(Name(listed->searchResults()->topLevelItem(0), 0), QStringLiteral("carol"));

        // Room: a target while we are in the room.
        // Its name is shown isolated and cut; the entry keeps it whole.
        const QString longRoom = QString(5000, QLatin1Char('w'));
        gp_server->EnterRoom(longRoom, false);
        QVERIFY(gui::WaitFor([&] { return page->searchTargetBox()->findData(longRoom) >= 0; }));
        QVERIFY(page->searchTargetBox()->itemText(page->searchTargetBox()->findData(longRoom)).size() < 200);
        gp_server->LeaveRoom(longRoom);
        QVERIFY(gui::WaitFor([&] { return page->searchTargetBox()->findData(longRoom) < 0; }));
        gp_server->EnterRoom(QStringLiteral("lounge"), false);
        QVERIFY(gui::WaitFor([&] { return page->searchTargetBox()->findData(QStringLiteral("lounge")) >= 0; }));
        bob->Send(QStringLiteral("join lounge"));
        QVERIFY(bob->Sync());
        if (bob->HasLine(QStringLiteral("error")))
            QSKIP("the driver can't join rooms");
        QTest::qWait(300);
        SearchResultsForm* room
            = Search(QStringLiteral("together"), QStringLiteral("Room: ") + IsolatedText(QStringLiteral("lounge")));
        QVERIFY(room);
        room->filterEdit()->clear();
        QVERIFY(WaitForFiles(room, 5));
        QCOMPARE(Name(room->searchResults()->topLevelItem(0), 0), QStringLiteral("bob"));
        // The chosen room goes: the next search goes nowhere the user did not
        // choose, and the text waits.
        gp_server->LeaveRoom(QStringLiteral("lounge"));
        QVERIFY(gui::WaitFor([&] { return page->searchTargetBox()->findData(QStringLiteral("lounge")) < 0; }));
        QVERIFY(page->searchTargetBox()->toolTip().contains(QLatin1String("lounge")));
        const int tabs = page->searchTabControl()->count();
        page->searchEdit()->lineEdit()->setText(QStringLiteral("together"));
        page->searchButton()->click();
        QCOMPARE(page->searchTabControl()->count(), tabs);
        QCOMPARE(page->searchEdit()->lineEdit()->text(), QStringLiteral("together"));
    }

    // Searches from others: newest first, "Match" on answered ones, pause,
    // and at most 500 rows.
    void othersSearchesShowNewestFirstAndPause()
    {
        QTreeWidget* list = receivedSearchesForm->searchList();
        ItemPtr folder = sharedFoldersManager->AddSharedFolder(shares.filePath(QStringLiteral("Songs")));
        folder += d.GetType("shared_public")->GetGlobalNullItem();
        QVERIFY(WaitForScans(sharedFoldersManager));
        bob->Send(QStringLiteral("search cover"));
        QVERIFY(gui::WaitFor([&] { return list->topLevelItemCount() >= 1; }));
        QCOMPARE(list->topLevelItem(0)->text(0), IsolatedText(QStringLiteral("cover")));
        QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Match"));
        bob->Send(QStringLiteral("search nothingsharedhere"));
        bob->Send(QStringLiteral("search ") + QString::fromUtf16(u"\u202Eevil 3pm.exe"));
        QVERIFY(gui::WaitFor([&] {
            return gui::ShowsIsolated(
                list->topLevelItem(0)->text(0), QString::fromUtf16(u"\u202Eevil 3pm.exe"));
        }));
        QVERIFY(list->topLevelItem(0)->text(1).isEmpty());

        Trigger(receivedSearchesForm, QStringLiteral("pause_unpause"));
        QCOMPARE(ActionText(list, QStringLiteral("pause_unpause")), QStringLiteral("Resume"));
        const int rows = list->topLevelItemCount();
        bob->Send(QStringLiteral("search cover"));
        QVERIFY(!bob->WaitFor(QStringLiteral("search-started")).isEmpty());
        QTest::qWait(500);
        QCOMPARE(list->topLevelItemCount(), rows);
        Trigger(receivedSearchesForm, QStringLiteral("pause_unpause"));
        QCOMPARE(ActionText(list, QStringLiteral("pause_unpause")), QStringLiteral("Pause"));

        for (int i = 0; i < ReceivedSearchesForm::kMaxRows + 1; ++i)
            receivedSearchesForm->OnSearchProcessed(QStringLiteral("same"), false);
        QCOMPARE(list->topLevelItemCount(), ReceivedSearchesForm::kMaxRows);
        QCOMPARE(list->topLevelItem(ReceivedSearchesForm::kMaxRows - 1)->text(0),
            IsolatedText(QStringLiteral("same")));
    }

    // The history, the saved filter and the default filter survive a restart
    // (made here too as the functions above leave them, for a run alone).
    void historyAndFiltersSurviveARestart()
    {
        for (int i = int(Count("search_record")); i < SearchForm::kHistorySize; ++i) {
            Page()->RecordSearch(QStringLiteral("query %1").arg(i));
            QTest::qWait(2); // distinct times
        }
        d.GetType("saved_filter")->GetItem(Value("together -live"));
        settings.Set("default_search_filter", "Together -live");
        const QStringList history = BoxTexts(Page()->searchEdit());
        QCOMPARE(history.size(), SearchForm::kHistorySize);
        QFile expected(session.Home() + QStringLiteral("/expected_history"));
        QVERIFY(expected.open(QIODevice::WriteOnly));
        expected.write(history.join(u'\n').toUtf8());
        expected.close();
        session.CloseWindow();
        QCOMPARE(session.RunChild("verify_restart"), 0);
    }
};

GUI_TEST_MAIN(TestSearch)
#include "tst_search.moc"
