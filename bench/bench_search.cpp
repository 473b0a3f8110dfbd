// link: pages
// One results tab taking 50,000 results, arriving as 500 replies of 100 from
// 500 users (rows, node items, the filter applied as they arrive), against a
// bare QTreeWidget in the same run that does the same work the same way as the
// page, less the store (BareTree): the same rows made, put in at their places
// a reply per turn, opened and filtered. Once with every row shown, once with
// a filter that hides three files in four; each run says how many rows its tab
// shows (user, folder and file rows). Then the re-sort of a 50,000-row flat
// tab by another column. Last, a wish of 20,000 results (200 users with 100
// files each) repeated in its open tab: what the store holds more after each
// repetition that brings nothing new (a figure below 0 is a store that shrank;
// see StoreBytes).
//
// Usage: bench_search [replies] [files-per-reply]   (defaults 500 and 100)
// Prints:
//   search.results_50k: N s
//   search.results_50k_bare_tree: N s
//   search.results_50k_longest_stall: N ms
//   search.results_50k_rows_shown: N rows
//   search.results_50k_filtered: N s
//   search.results_50k_filtered_bare_tree: N s
//   search.results_50k_filtered_longest_stall: N ms
//   search.results_50k_filtered_rows_shown: N rows
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
#include "shell/TextBound.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/FilterParser.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// What a tab shows: the rows not hidden, under parents not hidden.
int ShownRows(const QTreeWidgetItem* parent)
{
    int shown = 0;
    for (int i = 0; i < parent->childCount(); ++i) {
        const QTreeWidgetItem* row = parent->child(i);
        if (!row->isHidden())
            shown += 1 + ShownRows(row);
    }
    return shown;
}

// The turns of the event loop of one tree's fill: their time, the longest of
// them and the rows the tree shows at the end.
struct Fill {
    double seconds = 0;
    qint64 longest = 0;
    int shown = 0;

    // One turn: the work, then every event it left until none is left (the
    // tree lays out and paints, its scroll bars follow), so that nothing of
    // this turn is counted in the next one.
    template <typename Work> void Turn(Work work)
    {
        QElapsedTimer step;
        step.start();
        work();
        QAbstractEventDispatcher* events = QAbstractEventDispatcher::instance();
        for (int pass = 0; pass < 16 && events->processEvents(QEventLoop::AllEvents); ++pass) {
        }
        const qint64 spent = step.nsecsElapsed();
        seconds += spent / 1e9;
        longest = std::max(longest, spent);
    }
};

// The same rows in a plain tree, filled the way the page fills its tree, less
// the store and the page's bookkeeping. One reply per turn of the event loop:
// the reply's user, folder and file rows are made outside the tree (the file
// rows marked as never having children) with the same texts (names cut and
// isolated once per name, the name and its lower-cased key kept beside them,
// reversed folder paths, free slot or queue, speed, size with commas,
// bitrate) and the file rows' numbers; each row goes in at its place in the
// tab's order (the Free column, descending: a free slot first, then shorter
// queues, faster users, file names), the files in their folder, the folders
// in their user, the user among the others; the user and its folders are
// opened; then the reply's folders are put through the tab's filter, each
// row hidden or shown only where that changes.
class BareTree {
public:
    // A window of its own holding only the tree, with the size, headers and
    // column widths of the page's tree, so that both lay out and paint the
    // same.
    BareTree(QTreeWidget* page, const QString& filterText)
        : m_filterText(filterText)
    {
        m_tree.setColumnCount(page->columnCount());
        for (int i = 0; i < page->columnCount(); ++i) {
            m_tree.headerItem()->setText(i, page->headerItem()->text(i));
            m_tree.setColumnWidth(i, page->columnWidth(i));
        }
        m_tree.header()->setStretchLastSection(page->header()->stretchLastSection());
        m_tree.setUniformRowHeights(true);
        m_tree.resize(page->size());
        m_tree.show();
    }

    void AddReply(const std::vector<Row>& rows);
    int Shown() const { return ShownRows(m_tree.invisibleRootItem()); }

private:
    struct Name {
        QString text, shown, key;
    };

    void SetName(QTreeWidgetItem* row, int column, const QString& text)
    {
        auto name = m_names.find(text);
        if (name == m_names.end())
            name = m_names.insert(text, { text, IsolatedText(TextBound::Shown(text, 1024)), text.toLower() });
        row->setData(column, Qt::UserRole, name->text);
        row->setData(column, Qt::UserRole + 1, name->key);
        row->setText(column, name->shown);
    }

    // Whether row a ranks before row b in the tab's order.
    static bool Before(const QTreeWidgetItem& a, const QTreeWidgetItem& b)
    {
        const QString freeA = a.text(1);
        const QString freeB = b.text(1);
        const bool yesA = freeA == QLatin1String("Y");
        const bool yesB = freeB == QLatin1String("Y");
        if (yesA != yesB)
            return yesA;
        const qint64 queueA = yesA ? 0 : freeA.toLongLong();
        const qint64 queueB = yesB ? 0 : freeB.toLongLong();
        if (queueA != queueB)
            return queueA < queueB;
        const double speedA = a.text(2).toDouble();
        const double speedB = b.text(2).toDouble();
        if (speedA != speedB)
            return speedA > speedB;
        return a.data(4, Qt::UserRole).toString() < b.data(4, Qt::UserRole).toString();
    }

    // Puts the row after every row of parent that does not rank after it.
    static void Place(QTreeWidgetItem* parent, QTreeWidgetItem* row)
    {
        int low = 0;
        int high = parent->childCount();
        while (low < high) {
            const int mid = (low + high) / 2;
            if (Before(*row, *parent->child(mid)))
                high = mid;
            else
                low = mid + 1;
        }
        parent->insertChild(low, row);
    }

    static void SetHidden(QTreeWidgetItem* row, bool hidden)
    {
        if (row->isHidden() != hidden)
            row->setHidden(hidden);
    }

    QTreeWidget m_tree;
    QString m_filterText;
    QHash<QString, Name> m_names;
};

void BareTree::AddReply(const std::vector<Row>& rows)
{
    const Row& first = rows.front();
    auto* user = new QTreeWidgetItem;
    SetName(user, 0, first.user);
    user->setText(1, first.free ? QStringLiteral("Y") : QString::number(first.queue));
    user->setTextAlignment(1, Qt::AlignHCenter);
    if (first.speed != 0)
        user->setText(2, QStringLiteral("%1").arg(first.speed / 1024.0, 0, 'f', 1));
    std::vector<std::pair<std::string, QTreeWidgetItem*>> folders;
    for (const Row& row : rows) {
        auto folder = std::find_if(
            folders.begin(), folders.end(), [&](const auto& known) { return known.first == row.folder; });
        if (folder == folders.end()) {
            auto* folderRow = new QTreeWidgetItem;
            SetName(folderRow, 3, ReversePathname(QString::fromStdString(row.folder)));
            folder = folders.insert(folders.end(), { row.folder, folderRow });
        }
        auto* file = new QTreeWidgetItem;
        file->setFlags(file->flags() | Qt::ItemNeverHasChildren);
        SetName(file, 4, QString::fromStdString(row.file));
        file->setText(5, CommafyNumber(row.size));
        file->setText(6, QString::number(row.bitrate));
        file->setData(5, Qt::UserRole + 2, row.size);
        file->setData(5, Qt::UserRole + 3, row.bitrate);
        Place(folder->second, file);
    }
    for (const auto& folder : folders)
        Place(user, folder.second);
    Place(m_tree.invisibleRootItem(), user);
    user->setExpanded(true);
    for (const auto& folder : folders)
        folder.second->setExpanded(true);

    FilterParser filter;
    filter.Parse(m_filterText);
    bool userShown = false;
    for (const auto& [path, folder] : folders) {
        FilterParser remainder;
        int visible = 0;
        if (filter.IsMatching(folder->data(3, Qt::UserRole).toString(), &remainder, ItemPtr())
            != FilterParser::Excluded) {
            for (int k = 0; k < folder->childCount(); ++k) {
                QTreeWidgetItem* file = folder->child(k);
                const bool shown = remainder.IsMatching(file->data(4, Qt::UserRole).toString(), nullptr, ItemPtr())
                    == FilterParser::Match;
                SetHidden(file, !shown);
                visible += shown ? 1 : 0;
            }
        }
        const bool shown = visible > 0 && visible >= filter.MinFilesInFolder();
        SetHidden(folder, !shown);
        userShown = userShown || shown;
    }
    SetHidden(user, !userShown);
}

// A results tab of the tree layout, in front, with the filter text, for the
// replies made for it.
SearchResultsForm* OpenTab(SearchForm* form, const QString& filter, int replies, int files,
    std::vector<ItemPtr>* stored, std::vector<std::vector<Row>>* rows)
{
    const unsigned token = gp_server->FileSearch(QStringLiteral("music track"), false);
    SearchResultsForm* tab = form->CreateSearchForm(token, QStringLiteral("music track"), ManualSearch);
    for (QWidget* up = tab->parentWidget(); up; up = up->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(up)) {
            tabs->setCurrentWidget(tab);
            break;
        }
    tab->filterEdit()->setText(filter);
    *stored = MakeReplies(token, replies, files, rows);
    QTest::qWait(20);
    return tab;
}

// One run of a filter: a tab takes the replies as the peer network hands
// them over, one per turn of the event loop, alone as a user has it: its
// longest turn. Then a second tab takes them again, each of its turns
// followed by the bare tree's turn with the same rows, so that both see the
// shared machine alike: their times.
void FillTab(SearchForm* form, const char* run, const QString& filter, int replies, int files)
{
    std::vector<ItemPtr> stored;
    std::vector<std::vector<Row>> rows;
    Fill alone;
    SearchResultsForm* tab = OpenTab(form, filter, replies, files, &stored, nullptr);
    for (ItemPtr reply : stored)
        alone.Turn([&] { form->OnUserSearchResults(reply); });
    alone.shown = ShownRows(tab->searchResults()->invisibleRootItem());

    tab = OpenTab(form, filter, replies, files, &stored, &rows);
    BareTree bareTree(tab->searchResults(), filter);
    QTest::qWait(20);
    Fill page;
    Fill bare;
    for (size_t i = 0; i < stored.size(); ++i) {
        page.Turn([&] { form->OnUserSearchResults(stored[i]); });
        bare.Turn([&] { bareTree.AddReply(rows[i]); });
    }
    page.shown = ShownRows(tab->searchResults()->invisibleRootItem());
    bare.shown = bareTree.Shown();
    std::printf("%s: %.3f s\n", run, page.seconds);
    std::printf("%s_bare_tree: %.3f s\n", run, bare.seconds);
    std::printf("%s_longest_stall: %.1f ms\n", run, alone.longest / 1e6);
    std::printf("%s_rows_shown: %d rows\n", run, alone.shown);
    if (page.shown != alone.shown || bare.shown != alone.shown)
        std::printf("%s_rows_shown: the second tab shows %d rows, the bare tree %d\n", run, page.shown, bare.shown);
    std::fflush(stdout);
}

// What the store holds: its items, their texts and their connections, each
// connection as one 8-byte entry. Not the room the connection arrays keep:
// a shared name or size gains and loses a repetition's results each time, and
// its arrays grow by a quarter and shrink by half, so their room swings (some
// 40 KiB over a cycle of a hundred repetitions) while nothing is kept.
size_t StoreBytes()
{
    size_t bytes = 0;
    for (Type* type : d.Types())
        for (ItemPtr item : type->GetItems()) {
            bytes += sizeof(Item) + item.Get()->value.MemoryBytes();
            item.Get()->connections.ForEach([&bytes](Item*) { bytes += 8; });
        }
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

    // The tree layout with every row shown, then with a filter that hides
    // three files in four: the folder names hold neither word, and a quarter
    // of the file names lack "live".
    const struct {
        const char* name;
        QString filter;
    } runs[] = { { "search.results_50k", QString() }, { "search.results_50k_filtered", QStringLiteral("track -live") } };
    for (const auto& run : runs)
        FillTab(form, run.name, run.filter, replies, files);

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
