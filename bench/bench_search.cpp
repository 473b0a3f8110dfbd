// link: pages
// One results tab taking 50,000 results, arriving as 500 replies of 100 from
// 500 users (rows, node items, the filter applied as they arrive), against a
// bare QTreeWidget in the same run that does the same work the same way as the
// page, less the store: the same texts made, the same rows added at the end a
// reply per turn, the same rows hidden, one sort at the end (BareTree). Then
// the re-sort of a 50,000-row flat tab by another column. Last, a
// wish of 20,000 results (200 users with 100 files each) repeated in its open
// tab: what the store holds more after each repetition that brings nothing new
// (a figure below 0 is a store that shrank).
//
// Usage: bench_search [replies] [files-per-reply]   (defaults 500 and 100)
// Prints:
//   search.results_50k: N s
//   search.results_50k_bare_tree: N s
//   search.results_50k_longest_stall: N ms
//   search.resort_50k: N ms
//   search.wish_repeat_growth: N KiB
#include "ScratchFolder.h"
#include "SearchReplies.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultsForm.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/FilterParser.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

// The same rows in a plain tree, filled the page's way, less the store: from
// the values the store holds it makes the same texts (names isolated with the
// raw name kept beside them, reversed folder paths, free slot or queue, speed,
// size with commas, bitrate) and the file rows' numbers, puts each reply's
// rows in at the end of the tree, one reply per turn of the event loop, opens
// the new rows, hides the rows that the tab's filter hides (asking the same
// filter), and sorts once at the end by the tab's column and order, sorting
// off meanwhile.
double BareTree(QWidget* host, const std::vector<std::vector<Row>>& replies, const QString& filterText)
{
    auto* tree = new QTreeWidget(host);
    tree->setColumnCount(7);
    tree->setUniformRowHeights(true);
    tree->resize(host->size());
    tree->show();
    tree->raise();
    QElapsedTimer clock;
    clock.start();
    auto setName = [](QTreeWidgetItem* row, int column, const QString& name) {
        row->setData(column, Qt::UserRole, name);
        row->setText(column, IsolatedText(name));
    };
    for (const auto& rows : replies) {
        FilterParser filter;
        filter.Parse(filterText);
        const Row& first = rows.front();
        auto* user = new QTreeWidgetItem;
        setName(user, 0, first.user);
        user->setText(1, first.free ? QStringLiteral("Y") : QString::number(first.queue));
        user->setTextAlignment(1, Qt::AlignHCenter);
        if (first.speed != 0)
            user->setText(2, QStringLiteral("%1").arg(first.speed / 1024.0, 0, 'f', 1));
        tree->addTopLevelItem(user);
        std::map<std::string, QTreeWidgetItem*> folders;
        for (const Row& row : rows) {
            QTreeWidgetItem*& folder = folders[row.folder];
            if (!folder) {
                folder = new QTreeWidgetItem;
                setName(folder, 3, ReversePathname(QString::fromStdString(row.folder)));
                user->addChild(folder);
            }
            auto* file = new QTreeWidgetItem;
            setName(file, 4, QString::fromStdString(row.file));
            file->setText(5, CommafyNumber(row.size));
            file->setText(6, QString::number(row.bitrate));
            file->setData(5, Qt::UserRole, row.size);
            file->setData(5, Qt::UserRole + 1, row.bitrate);
            folder->addChild(file);
            user->setExpanded(true);
            folder->setExpanded(true);
        }
        bool userShown = false;
        for (const auto& [path, folder] : folders) {
            FilterParser remainder;
            int visible = 0;
            if (filter.IsMatching(folder->data(3, Qt::UserRole).toString(), &remainder, ItemPtr())
                != FilterParser::Excluded) {
                for (int k = 0; k < folder->childCount(); ++k) {
                    QTreeWidgetItem* file = folder->child(k);
                    if (remainder.IsMatching(file->data(4, Qt::UserRole).toString(), nullptr, ItemPtr())
                        == FilterParser::Match)
                        ++visible;
                    else
                        file->setHidden(true);
                }
            }
            if (visible == 0 || visible < filter.MinFilesInFolder())
                folder->setHidden(true);
            else
                userShown = true;
        }
        if (!userShown)
            user->setHidden(true);
        QCoreApplication::processEvents();
    }
    tree->sortByColumn(1, Qt::DescendingOrder);
    QCoreApplication::processEvents();
    const double seconds = clock.nsecsElapsed() / 1e9;
    delete tree;
    return seconds;
}

// What the store's items take: the records, their texts and connection maps.
size_t StoreBytes()
{
    size_t bytes = 0;
    for (Type* type : d.Types())
        for (ItemPtr item : type->GetItems())
            bytes += sizeof(Item) + item.Get()->value.MemoryBytes() + item.Get()->connections.MemoryBytes();
    return bytes;
}

// One repetition of the wish: a search flagged as a wish and the replies the
// peer network stores for it, handed to the page one by one.
void RepeatWish(SearchForm* form, const QString& text, int replies, int files)
{
    const unsigned token = gp_server->FileSearch(text, true);
    for (ItemPtr reply : MakeReplies(token, replies, files, nullptr))
        form->OnUserSearchResults(reply);
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    ScratchFolder home("search");
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const int replies = argc > 1 ? atoi(argv[1]) : 500;
    const int files = argc > 2 ? atoi(argv[2]) : 100;

    new TimerManager(&app);
    dataSaver = new DataSaver(&d);
    new Server(&app);
    Settings::CreateTypes();
    gp_server->CreateData();
    settings.Set("use_upnp", "no");
    settings.Set("listening_port", "0");
    settings.Set("obfuscated_listening_port", "0");
    new PeerMessenger(&app);
    new DelayedInvoker(&app);
    new DNetManager(&app);
    new SharedFoldersManager(&app);
    new TransferQueueManager(&app);

    QMainWindow window;
    mainWindow = &window;
    actionBar = new ActionSetToolBar(&window);
    window.addToolBar(actionBar);
    sizeManager = new SizeManager(&window);
    auto* form = new SearchForm(&window);
    window.setCentralWidget(form);
    form->Init();
    eventToolBar = new EventToolBar(&window);
    window.addToolBar(eventToolBar);
    dataSaver->Load(QDir::homePath() + QStringLiteral("/.not-here"));
    window.resize(1300, 850);
    window.show();
    QTest::qWait(50);

    // The tree layout with a filter that hides about a quarter of the files.
    const unsigned token = gp_server->FileSearch(QStringLiteral("music track"), false);
    SearchResultsForm* tab = form->CreateSearchForm(token, QStringLiteral("music track"), ManualSearch);
    tab->filterEdit()->setText(QStringLiteral("track -album 7"));
    std::vector<std::vector<Row>> rows;
    const std::vector<ItemPtr> stored = MakeReplies(token, replies, files, &rows);
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    qint64 longest = 0;
    clock.start();
    for (ItemPtr reply : stored) {
        QElapsedTimer step;
        step.start();
        form->OnUserSearchResults(reply);
        QCoreApplication::processEvents();
        longest = std::max(longest, step.nsecsElapsed());
    }
    // The tab ends sorted, as the once-a-second sort leaves it.
    QElapsedTimer step;
    step.start();
    tab->Sort();
    QCoreApplication::processEvents();
    longest = std::max(longest, step.nsecsElapsed());
    const double seconds = clock.nsecsElapsed() / 1e9;

    const double bare = BareTree(tab, rows, tab->filterEdit()->text());
    std::printf("search.results_50k: %.3f s\n", seconds);
    std::printf("search.results_50k_bare_tree: %.3f s\n", bare);
    std::printf("search.results_50k_longest_stall: %.1f ms\n", longest / 1e6);
    std::fflush(stdout);

    // The flat layout, then a click on the File header.
    settings.Set("use_old_style_search_results", "yes");
    const unsigned flatToken = gp_server->FileSearch(QStringLiteral("music track"), false);
    SearchResultsForm* flat = form->CreateSearchForm(flatToken, QStringLiteral("music track"), ManualSearch);
    for (ItemPtr reply : MakeReplies(flatToken, replies, files, nullptr))
        form->OnUserSearchResults(reply);
    flat->Sort();
    QTest::qWait(20);
    QHeaderView* header = flat->searchResults()->header();
    const int column = 4;
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    QElapsedTimer resort;
    resort.start();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCoreApplication::processEvents();
    std::printf("search.resort_50k: %.1f ms\n", resort.nsecsElapsed() / 1e6);
    if (flat->SortColumn() != column)
        std::printf("search.resort_50k: the click did not reach the header\n");
    std::fflush(stdout);

    // A wish of 20,000 results in an open tab, repeated with the same replies.
    settings.Clear("use_old_style_search_results");
    const QString wish = QStringLiteral("music track");
    d.GetType("wish_list_item")
        ->NewItem(Value(wish))
        .Connect(d.GetType("wish_list_item_enabled")->GetGlobalNullItem());
    // The first repetition fills the tab; the second finds the connection maps
    // of the shared sizes and names at the size one repetition needs.
    RepeatWish(form, wish, 200, 100);
    RepeatWish(form, wish, 200, 100);
    const size_t first = StoreBytes();
    const int repetitions = 10;
    for (int r = 0; r < repetitions; ++r)
        RepeatWish(form, wish, 200, 100);
    const double growth = (double(StoreBytes()) - double(first)) / repetitions / 1024.0;
    std::printf("search.wish_repeat_growth: %.0f KiB\n", growth);
    std::fflush(stdout);
    // The window's teardown is not measured.
    home.remove();
    std::_Exit(0);
}
