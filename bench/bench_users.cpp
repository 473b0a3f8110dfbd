// link: pages
// The Users page at scale:
//   users.list_10k_build      the user list of 10,000 users in groups, a third
//                             with notes, built by the page from the store
//   users.list_10k_bare_tree  a bare QTreeWidget filled the page's way, less
//                             the store: from the values the store holds
//                             (names, numbers, the group names of each set of
//                             groups, notes) it makes the same texts (isolated
//                             names with the raw name kept beside them, counts
//                             with commas, speeds, each set of groups joined
//                             once), the same icons, sorts the rows in the
//                             page's order and puts them in as one batch
// and a peer's hostile user information:
//   user_info.nested_description_ms  the longest stall of the window while a
//                             description of 4,000 and one of 18 nested tables
//                             arrive in the open information tab, are laid out
//                             and painted (median of 5 each)
// Usage: bench_users [users]   (default 10000)
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserListItemWidget.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

double Ms(QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// An information tab in a shown window receives replies whose descriptions
// nest tables: the time from the reply to the text laid out and painted.
double NestedDescriptionMs()
{
    QTabWidget tabs;
    tabs.resize(700, 500);
    auto* form = new UserInfoForm;
    tabs.addTab(form, QStringLiteral("bob"));
    tabs.show();
    QCoreApplication::processEvents();
    const QString open = QStringLiteral("<table><tr><td>");
    const QString close = QStringLiteral("</td></tr></table>");
    double longest = 0;
    for (const QString& description : { open.repeated(4000) + QStringLiteral("deep"),
             open.repeated(18) + QStringLiteral("x") + close.repeated(18) }) {
        std::vector<double> runs;
        for (int run = 0; run < 5; ++run) {
            form->Init(QStringLiteral("bob")); // one reply is shown for each request
            QElapsedTimer timer;
            timer.start();
            form->OnUserInfoReceived(QStringLiteral("bob"), description, false, nullptr, 0, 1, 0, true);
            form->UserInfoText()->document()->size();
            form->UserInfoText()->viewport()->repaint();
            QCoreApplication::processEvents();
            runs.push_back(Ms(timer));
        }
        longest = std::max(longest, Median(runs));
    }
    return longest;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 10000;

    std::printf("user_info.nested_description_ms: %.1f ms\n", NestedDescriptionMs());
    std::fflush(stdout);

    new TimerManager(&app);
    dataSaver = new DataSaver(&d);
    new Server(&app);
    Settings::CreateTypes();
    gp_server->CreateData();
    Type* note = d.DeclareType("user_note", kLink);
    d.RelateTypes(d.GetType("user"), note, Many, One);
    d.RelateTypes(d.GetType("user"), d.DeclareType("unshared", kAttribute, true), Many, One);

    // The store: users in mixed case, each in one to three of twenty groups,
    // every third with a note, most with a file count.
    Type* user = d.GetType("user");
    Type* group = d.GetType("user_list_group");
    // What the page reads from the store for a row.
    struct Stored {
        QString name;
        bool online;
        qint64 files;
        int speed;
        int groups; // the index of its set of groups
        QString note;
    };
    std::vector<Stored> stored;
    std::vector<QStringList> groupSets;
    std::map<QStringList, int> groupSetIndex;
    for (int i = 0; i < count; ++i) {
        const QString name = (i % 2 ? QStringLiteral("User%1") : QStringLiteral("user%1")).arg((i * 7919) % count, 5, 10, QLatin1Char('0'));
        ItemPtr u = user->GetItem(Value(name));
        ItemPtr inList = u.NewItem("in_user_list");
        QStringList groups;
        for (int g = 0; g <= i % 3; ++g) {
            const QString groupName = QStringLiteral("group %1").arg((i + g * 7) % 20);
            inList.Connect(group->GetItem(Value(groupName)));
            groups.append(groupName);
        }
        groups.sort();
        QString noteText;
        if (i % 3 == 0) {
            noteText = QStringLiteral("note about %1").arg(name);
            u.Connect(note->GetItem(Value(noteText)));
        }
        if (i % 4)
            u.Connect(d.GetType("shared_file_count")->GetItem(Value(i * 13)));
        const auto set = groupSetIndex.emplace(groups, int(groupSets.size())).first;
        if (set->second == int(groupSets.size()))
            groupSets.push_back(groups);
        stored.push_back({ name, u.IsConnected("is_online"), i % 4 ? i * 13 : -1, 0, set->second, noteText });
    }

    const QIcon offline(QStringLiteral(":/icons/offline_icon"));
    const QIcon noteIcon(QStringLiteral(":/icons/note_icon"));
    auto bare = [&] {
        QTreeWidget tree;
        tree.setRootIsDecorated(false);
        tree.setHeaderLabels({ "User", "Files", "K/s", "Groups", "Note" });
        QElapsedTimer timer;
        timer.start();
        std::vector<QString> joined(groupSets.size());
        struct Entry {
            QTreeWidgetItem* row;
            const Stored* user;
        };
        std::vector<Entry> entries;
        entries.reserve(stored.size());
        for (const Stored& user : stored) {
            auto* row = new QTreeWidgetItem;
            if (!user.note.isEmpty()) {
                row->setText(4, user.note);
                row->setIcon(4, noteIcon);
            }
            QString& groups = joined[size_t(user.groups)];
            if (groups.isEmpty())
                groups = groupSets[size_t(user.groups)].join(QStringLiteral(", "));
            row->setText(3, groups);
            if (user.speed)
                row->setText(2, QString::number(user.speed / 1024.0, 'f', 1));
            if (user.files >= 0)
                row->setText(1, CommafyNumber(user.files));
            row->setData(0, Qt::UserRole, user.name);
            row->setText(0, IsolatedText(user.name));
            row->setIcon(0, offline);
            entries.push_back({ row, &user });
        }
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return UserListItemWidget::Less(a.user->online, a.user->name, b.user->online, b.user->name);
        });
        QList<QTreeWidgetItem*> rows;
        rows.reserve(qsizetype(entries.size()));
        for (const Entry& e : entries)
            rows.append(e.row);
        tree.addTopLevelItems(rows);
        return Ms(timer);
    };
    // Interleaved runs, medians: the machine is shared.
    auto build = [&]() -> double {
        UserListForm form;
        form.Init();
        QElapsedTimer timer;
        timer.start();
        form.DataLoaded();
        const double ms = Ms(timer);
        if (form.UserList()->topLevelItemCount() != count) {
            std::fprintf(stderr, "built %d rows of %d\n", form.UserList()->topLevelItemCount(), count);
            std::exit(1);
        }
        return ms;
    };
    bare(); // warm-up
    std::vector<double> builds, bares;
    for (int run = 0; run < 5; ++run) {
        bares.push_back(bare());
        builds.push_back(build());
        // The next page starts from a store without rows.
        if (Type* nodes = d.HasType("user_list_node"))
            nodes->GetItems().Remove();
        QCoreApplication::processEvents();
    }
    std::sort(builds.begin(), builds.end());
    std::sort(bares.begin(), bares.end());
    const double buildMs = builds[builds.size() / 2];
    const double bareMs = bares[bares.size() / 2];
    std::printf("users.list_10k_build: %.1f ms\n", buildMs);
    std::printf("users.list_10k_bare_tree: %.1f ms\n", bareMs);
    std::fflush(stdout);
    delete gp_server;
    return 0;
}
