// Random use of the whole window while two other users come and go: a fixed
// number of steps of clicks, menus, dialogs, typing, closed tabs and Delete,
// chosen by a seed printed at the start. The run passes when nothing crashed,
// no peer text was shown as markup, nothing was written outside the client's
// folders and the data file loads again afterwards.
//
// MARROWBY_RANDOM_SEED=<n> runs one seed again; MARROWBY_RANDOM_STEPS=<n>
// sets the number of steps.
#include "gui/GuiTest.h"
#include "helper_shares.h"
#include "helper_whole.h"
#include "pages/browse/SharesForm.h"
#include "pages/search/SearchForm.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Settings.h"
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define RANDOMUSE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RANDOMUSE_SANITIZED 1
#endif
#endif

namespace {

const QByteArray kSentinel("sentinel: must stay as it is\n");

template <typename T>
QList<T*> Visible(QWidget* root, bool enabled = true)
{
    QList<T*> out;
    for (T* w : root->findChildren<T*>())
        if (w->isVisible() && (!enabled || w->isEnabled()))
            out << w;
    return out;
}

bool InOptions(QWidget* w)
{
    QWidget* options = mainWindow ? static_cast<MainWindow*>(mainWindow)->Ui().optionsTab : nullptr;
    return options && (w == options || options->isAncestorOf(w));
}

// Brings the widget's page and tabs to the front; true when it shows then.
bool Reveal(QWidget* w)
{
    for (QWidget* child = w; child && child->parentWidget(); child = child->parentWidget()) {
        QWidget* parent = child->parentWidget();
        if (auto* stack = qobject_cast<QStackedWidget*>(parent)) {
            if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget()))
                tabs->setCurrentWidget(child);
        }
    }
    return w->isVisible() && w->isEnabled();
}

// A list of any page that has rows (or any list when none has), shown.
QTreeWidget* PickTree(QWidget* window, QRandomGenerator& rng)
{
    QList<QTreeWidget*> full;
    QList<QTreeWidget*> all;
    for (QTreeWidget* tree : window->findChildren<QTreeWidget*>()) {
        if (InOptions(tree))
            continue;
        all << tree;
        if (tree->topLevelItemCount() > 0)
            full << tree;
    }
    const QList<QTreeWidget*>& from = full.isEmpty() || rng.bounded(5) == 0 ? all : full;
    if (from.isEmpty())
        return nullptr;
    QTreeWidget* tree = from.at(rng.bounded(from.size()));
    return Reveal(tree) ? tree : nullptr;
}

QTreeWidgetItem* PickRow(QTreeWidget* tree, QRandomGenerator& rng)
{
    if (tree->topLevelItemCount() == 0)
        return nullptr;
    QTreeWidgetItem* item = tree->topLevelItem(rng.bounded(tree->topLevelItemCount()));
    while (item->childCount() > 0 && rng.bounded(2))
        item = item->child(rng.bounded(item->childCount()));
    return item;
}

// Answers whatever pops up: menus pick a random entry or close, message boxes
// a random button, file dialogs are cancelled, other dialogs are filled with a
// hostile text and accepted, or cancelled.
class RandomAnswerer : public QObject {
public:
    explicit RandomAnswerer(QRandomGenerator& rng)
        : m_rng(rng)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start(40);
    }
    int answered = 0;

private:
    void Poll()
    {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            QList<QAction*> entries;
            for (QAction* a : menu->actions())
                if (a->isVisible() && a->isEnabled() && !a->isSeparator() && !a->text().contains(QStringLiteral("Quit")))
                    entries << a;
            ++answered;
            if (entries.isEmpty() || m_rng.bounded(4) == 0) {
                menu->close();
                return;
            }
            QAction* pick = entries.at(m_rng.bounded(entries.size()));
            if (pick->menu()) {
                menu->setActiveAction(pick);
                return;
            }
            menu->setActiveAction(pick);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
        QList<QWidget*> boxes;
        if (QWidget* modal = QApplication::activeModalWidget())
            boxes << modal;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && qobject_cast<QDialog*>(w) && !boxes.contains(w))
                boxes << w;
        for (QWidget* w : boxes) {
            auto* dialog = qobject_cast<QDialog*>(w);
            if (!dialog)
                continue;
            ++answered;
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                const QList<QAbstractButton*> buttons = box->buttons();
                if (buttons.isEmpty())
                    box->done(0);
                else
                    buttons.at(m_rng.bounded(buttons.size()))->click();
            } else if (qobject_cast<QFileDialog*>(dialog) || m_rng.bounded(5) < 3) {
                dialog->reject();
            } else {
                const QStringList texts = whole::HostileTexts();
                for (QLineEdit* edit : dialog->findChildren<QLineEdit*>())
                    if (edit->isVisible() && !edit->isReadOnly() && edit->text().isEmpty())
                        edit->setText(texts.at(m_rng.bounded(texts.size())));
                if (auto* input = qobject_cast<QInputDialog*>(dialog))
                    input->setTextValue(texts.at(m_rng.bounded(texts.size())));
                dialog->accept();
            }
            return; // one per tick
        }
    }

    QRandomGenerator& m_rng;
    QTimer m_timer;
};

// The longest time the event loop went without running a short timer.
class StallMeter : public QObject {
public:
    StallMeter()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 gap = m_clock.restart();
            if (gap > longest) {
                longest = gap;
                during = current;
            }
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(5);
        m_clock.start();
    }
    qint64 longest = 0;
    QString during;
    QString current;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
};

int StepCount()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MARROWBY_RANDOM_STEPS", &ok);
    if (ok && n > 0)
        return n;
#ifdef RANDOMUSE_SANITIZED
    return 500;
#else
    return 1200;
#endif
}

quint32 Seed()
{
    bool ok = false;
    const uint seed = qEnvironmentVariable("MARROWBY_RANDOM_SEED").toUInt(&ok);
    return ok ? seed : QRandomGenerator::global()->generate();
}

} // namespace

GUI_CHILD_ROLE(verify_load)
{
    gui::Session session;
    gui::ModalAnswerer answers;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice"), QStringLiteral("secret"), false))
        return 1;
    QTest::qWait(300);
    if (answers.CountTitled(QStringLiteral("Error loading configuration data")) != 0) {
        std::fprintf(stderr, "the data file did not load\n");
        return 2;
    }
    if (settings.Get("username") != QLatin1String("alice"))
        return 3;
    session.CloseWindow();
    return 0;
}

class TestRandomUse : public QObject {
    Q_OBJECT
    gui::Session session;

    void DriverStep(QRandomGenerator& rng, DriverProcess* d, int index);
    QString WindowStep(QRandomGenerator& rng);

    QStringList m_rooms { QStringLiteral("lounge"), QStringLiteral("den<b>%1</b>&%1").arg(whole::kMark) };
    QString m_shareFile;
    bool m_online[2] = { true, true };

private slots:
    void randomUse();
};

void TestRandomUse::DriverStep(QRandomGenerator& rng, DriverProcess* d, int index)
{
    const QStringList texts = whole::HostileTexts();
    const QString text = texts.at(rng.bounded(texts.size()));
    const QString room = m_rooms.at(rng.bounded(m_rooms.size()));
    if (!m_online[index]) {
        if (rng.bounded(3) == 0) {
            d->Send(QStringLiteral("connect"));
            m_online[index] = true;
        }
        return;
    }
    switch (rng.bounded(12)) {
    case 0: d->Send(QStringLiteral("join ") + room); break;
    case 1: d->Send(QStringLiteral("leave ") + room); break;
    case 2: d->Send(QStringLiteral("say %1 %2").arg(room, text)); break;
    case 3: d->Send(QStringLiteral("message alice ") + text); break;
    case 4: d->Send(QStringLiteral("search tune")); break;
    case 5: d->Send(QStringLiteral("send-share alice names")); break;
    case 6: d->Send(QStringLiteral("get-shares alice")); break;
    case 7: d->Send(QStringLiteral("user-info alice")); break;
    case 8: d->Send(QStringLiteral("send-user-info alice 2 0 1 ") + text); break;
    case 9: d->Send(QStringLiteral("push-upload alice ") + m_shareFile); break;
    case 10: d->Send(QStringLiteral("search ") + whole::kMark); break;
    case 11:
        if (rng.bounded(3) == 0) {
            d->Send(QStringLiteral("disconnect"));
            m_online[index] = false;
        } else {
            d->Send(rng.bounded(2) ? QStringLiteral("away") : QStringLiteral("available"));
        }
        break;
    }
}

QString TestRandomUse::WindowStep(QRandomGenerator& rng)
{
    MainWindow* window = session.Window();
    Ui_MainWindow& ui = window->Ui();
    // Not the mark alone: typed into a chat it is rightly shown without tags,
    // which the markup check would take for tags lost (the search box searches
    // for it below).
    const QStringList texts = whole::HostileTexts() + QStringList { QStringLiteral("tune") };
    switch (rng.bounded(14)) {
    case 0: case 1: case 2: { // an enabled action of the tool bar, after focusing a list
        if (QTreeWidget* tree = PickTree(window, rng)) {
            tree->setFocus();
            if (QTreeWidgetItem* row = PickRow(tree, rng)) {
                tree->clearSelection();
                tree->setCurrentItem(row);
                row->setSelected(true);
            }
            QCoreApplication::processEvents();
        }
        QList<QAction*> actions;
        const QList<QAction*> excluded
            = { actionBar->FindAction(QStringLiteral("finish_uploads_and_quit")),
                  actionBar->FindAction(QStringLiteral("open_log_folder")) };
        for (QAction* a : actionBar->actions())
            if (a->isVisible() && a->isEnabled() && !a->isSeparator() && !a->text().isEmpty() && !excluded.contains(a))
                actions << a;
        if (actions.isEmpty())
            return QStringLiteral("no action");
        QAction* a = actions.at(rng.bounded(actions.size()));
        const QString name = QStringLiteral("action %1").arg(a->text());
        a->trigger();
        return name;
    }
    case 3: {
        const int page = rng.bounded(ui.tabControl->count());
        ui.tabControl->setCurrentIndex(page);
        return QStringLiteral("page %1").arg(page);
    }
    case 4: {
        QList<QTabWidget*> tabs;
        for (QTabWidget* t : window->findChildren<QTabWidget*>())
            if (t != ui.tabControl && t->count() > 0)
                tabs << t;
        if (tabs.isEmpty())
            return QStringLiteral("no tabs");
        QTabWidget* t = tabs.at(rng.bounded(tabs.size()));
        Reveal(t);
        const int i = rng.bounded(t->count());
        t->setCurrentIndex(i);
        return QStringLiteral("tab %1 of %2").arg(i).arg(t->objectName());
    }
    case 5: { // a context menu on a random row
        QWidget* w = PickTree(window, rng);
        if (!w || w->contextMenuPolicy() != Qt::CustomContextMenu) {
            QList<QWidget*> targets;
            for (QWidget* c : Visible<QWidget>(window))
                if (c->contextMenuPolicy() == Qt::CustomContextMenu)
                    targets << c;
            if (targets.isEmpty())
                return QStringLiteral("no menu");
            w = targets.at(rng.bounded(targets.size()));
        }
        QPoint pos(5, 5);
        if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
            if (QTreeWidgetItem* item = PickRow(tree, rng)) {
                tree->clearSelection();
                tree->setCurrentItem(item);
                item->setSelected(true);
                tree->scrollToItem(item);
                pos = tree->visualItemRect(item).center();
            }
        }
        const QString name = QStringLiteral("menu on %1 %2").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
        emit w->customContextMenuRequested(pos);
        return name;
    }
    case 6: { // typing into an input of a page, then Return
        QList<QWidget*> inputs;
        for (QLineEdit* e : window->findChildren<QLineEdit*>())
            if (!e->isReadOnly() && !InOptions(e))
                inputs << e;
        for (QPlainTextEdit* e : window->findChildren<QPlainTextEdit*>())
            if (!e->isReadOnly() && !InOptions(e))
                inputs << e;
        if (inputs.isEmpty())
            return QStringLiteral("no input");
        QWidget* input = inputs.at(rng.bounded(inputs.size()));
        if (!Reveal(input))
            return QStringLiteral("hidden input");
        const QString text = texts.at(rng.bounded(texts.size()));
        input->setFocus();
        const QString name = QStringLiteral("type into %1").arg(input->objectName());
        if (auto* e = qobject_cast<QLineEdit*>(input)) {
            e->setText(text);
            QTest::keyClick(e, Qt::Key_Return);
        } else {
            static_cast<QPlainTextEdit*>(input)->setPlainText(text);
        }
        return name;
    }
    case 7: { // closing a tab
        QList<QTabWidget*> tabs;
        for (QTabWidget* t : window->findChildren<QTabWidget*>())
            if (t->tabsClosable() && t->count() > 0)
                tabs << t;
        if (tabs.isEmpty())
            return QStringLiteral("no closable tab");
        QTabWidget* t = tabs.at(rng.bounded(tabs.size()));
        Reveal(t);
        const int i = rng.bounded(t->count());
        const QString name = QStringLiteral("close tab %1 of %2").arg(i).arg(t->objectName());
        if (auto* button = qobject_cast<QAbstractButton*>(t->tabBar()->tabButton(i, QTabBar::RightSide)))
            button->click();
        else
            emit t->tabCloseRequested(i);
        return name;
    }
    case 8: { // Delete on a selected row
        QTreeWidget* tree = PickTree(window, rng);
        QTreeWidgetItem* item = tree ? PickRow(tree, rng) : nullptr;
        if (!item)
            return QStringLiteral("no row");
        tree->setFocus();
        tree->clearSelection();
        tree->setCurrentItem(item);
        item->setSelected(true);
        const QString name = QStringLiteral("delete in %1").arg(tree->objectName());
        QTest::keyClick(tree, Qt::Key_Delete);
        return name;
    }
    case 9: { // a double click on a row
        QTreeWidget* tree = PickTree(window, rng);
        QTreeWidgetItem* item = tree ? PickRow(tree, rng) : nullptr;
        if (!item)
            return QStringLiteral("no row");
        tree->setCurrentItem(item);
        const QString name = QStringLiteral("double click in %1").arg(tree->objectName());
        emit tree->itemDoubleClicked(item, rng.bounded(qMax(1, tree->columnCount())));
        return name;
    }
    case 10: { // a button or check box of a page
        QList<QAbstractButton*> buttons;
        for (QAbstractButton* b : Visible<QAbstractButton>(window))
            if (!InOptions(b) && !actionBar->isAncestorOf(b) && !eventToolBar->isAncestorOf(b)
                && !qobject_cast<QTabBar*>(b->parentWidget()))
                buttons << b;
        if (buttons.isEmpty())
            return QStringLiteral("no button");
        QAbstractButton* b = buttons.at(rng.bounded(buttons.size()));
        const QString name = QStringLiteral("click %1 %2").arg(b->objectName(), b->text());
        b->click();
        return name;
    }
    case 11: { // a search from the search box
        SearchForm* page = searchForm;
        Reveal(page->searchEdit());
        page->searchEdit()->lineEdit()->setText(rng.bounded(2) ? QStringLiteral("tune") : whole::kMark);
        page->searchButton()->click();
        return QStringLiteral("search");
    }
    case 12: { // a user's share, or the upload view for them
        const QString user = rng.bounded(2) ? QStringLiteral("bob") : whole::HostileName(0);
        if (rng.bounded(2))
            sharesForm->OpenShareBrowse(user);
        else
            sharesForm->OpenUploadBrowse(user);
        return QStringLiteral("browse ") + user;
    }
    default: { // an event of the event bar
        QList<QAction*> events;
        for (QAction* a : eventToolBar->actions())
            if (a->isVisible() && a->isEnabled() && !a->text().isEmpty())
                events << a;
        if (events.isEmpty())
            return QStringLiteral("no event");
        QAction* a = events.at(rng.bounded(events.size()));
        const QString name = QStringLiteral("event %1").arg(a->text());
        a->trigger();
        return name;
    }
    }
}

void TestRandomUse::randomUse()
{
    const quint32 seed = Seed();
    const int steps = StepCount();
    std::printf("randomuse.seed: %u (MARROWBY_RANDOM_SEED=%u runs it again), %d steps\n", seed, seed, steps);
    std::fflush(stdout);
    QRandomGenerator rng(seed);

    QVERIFY(session.Prepare());
    const QString home = session.Home();
    // Files the run must leave alone.
    QDir(home).mkpath(QStringLiteral("sentinel"));
    for (const QString& path : { home + QStringLiteral("/sentinel/keep.txt"), home + QStringLiteral("/keep.txt") }) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kSentinel);
    }
    // The window's own shares and the drivers' shares: names with markup,
    // "&", "%1", separators and control characters.
    const QString mine = home + QStringLiteral("/share/tune & <b>%1</b>").arg(whole::kMark);
    QDir().mkpath(mine);
    WriteFile(mine + QStringLiteral("/tune %1 <i>x</i>.mp3"), QByteArray(2000, 'a'));
    WriteFile(mine + QStringLiteral("/tune a\\b\x01.txt"), QByteArray(3000, 'b'));
    QTemporaryDir theirs;
    const QString folder = theirs.path() + QStringLiteral("/tunes&%1<u>%2</u>").arg(QStringLiteral("%1"), whole::kMark);
    QDir().mkpath(folder + QStringLiteral("/sub"));
    WriteFile(folder + QStringLiteral("/tune_%1_<b>%2</b>.mp3").arg(QStringLiteral("%1"), whole::kMark), QByteArray(5000, 'c'));
    WriteFile(folder + QStringLiteral("/sub/tune..\\..\\x\x02.txt"), QByteArray(7000, 'd'));
    m_shareFile = folder + QStringLiteral("/tune_%1_<b>%2</b>.mp3").arg(QStringLiteral("%1"), whole::kMark);

    gui::UrlCatcher urls;
    MainWindow* window = session.StartWindow(QStringLiteral("alice"));
    QVERIFY(window);
    window->resize(1300, 850);
    sharedFoldersManager->AddSharedFolder(mine);
    const QSet<QString> before = whole::FilesUnder(home);

    DriverProcess* drivers[2] = { session.StartDriver(QStringLiteral("bob")),
        session.StartDriver(whole::HostileName(0)) };
    QVERIFY(drivers[0] && drivers[1]);
    for (DriverProcess* d : drivers) {
        d->Send(QStringLiteral("share-folder ") + folder);
        d->Send(QStringLiteral("join lounge"));
    }

    RandomAnswerer answerer(rng);
    StallMeter stalls;
    QStringList markup;
    for (int step = 0; step < steps; ++step) {
        for (int i = 0; i < 2; ++i)
            if (rng.bounded(3) == 0)
                DriverStep(rng, drivers[i], i);
        stalls.current = QStringLiteral("step %1").arg(step);
        const QString what = WindowStep(rng);
        stalls.current = QStringLiteral("after step %1 (%2)").arg(step).arg(what);
        std::printf("%d %s\n", step, qPrintable(what));
        std::fflush(stdout);
        QTest::qWait(20 + rng.bounded(120));
        if (step % 50 == 49)
            markup += whole::MarkupFaults();
    }
    markup += whole::MarkupFaults();
    markup.removeDuplicates();
    std::printf("randomuse.longest_stall: %lld ms (%s)\n", stalls.longest, qPrintable(stalls.during));
    std::printf(
        "randomuse.answered: %d boxes and menus, %d links\n", answerer.answered, int(urls.Urls().size()));
    std::fflush(stdout);
    QVERIFY2(markup.isEmpty(), qPrintable(markup.join(QStringLiteral("\n"))));

    session.CloseWindow();
    const QStringList stray = whole::StrayFiles(home, before);
    QVERIFY2(stray.isEmpty(), qPrintable(stray.join(QStringLiteral("\n"))));
    for (const QString& path : { home + QStringLiteral("/sentinel/keep.txt"), home + QStringLiteral("/keep.txt") }) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), kSentinel);
    }
    QCOMPARE(session.RunChild("verify_load"), 0);
}

GUI_TEST_MAIN(TestRandomUse)
#include "tst_randomuse.moc"
