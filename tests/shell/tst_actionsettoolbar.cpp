// The main tool bar follows the keyboard focus between the widgets that pages
// bind to action sets, and reports clicks with the keys the pages read.
#include "ActionSetToolBar.h"
#include "TabWidget.h"
#include "TreeWidget.h"
#include "helper_kit.h"
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QVBoxLayout>

class TestActionSetToolBar : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void followsFocusAndReportsKeys();
    void perWidgetTextsAndHiddenActions();
    void destroyedWidgetLeavesNothingBehind();
    void statusAndPrivilegesButtons();

private:
    QStringList VisibleTexts() const;

    QMainWindow* m_window = nullptr;
    ActionSetToolBar* m_bar = nullptr;
    TabWidget* m_tabs = nullptr;
    QWidget* m_usersPage = nullptr;
    TreeWidget* m_tree = nullptr;
    QWidget* m_roomPage = nullptr;
    QLineEdit* m_roomEdit = nullptr;
};

QStringList TestActionSetToolBar::VisibleTexts() const
{
    QStringList texts;
    for (QAction* a : m_bar->actions()) {
        if (a->isVisible() && !a->text().isEmpty())
            texts << a->text();
    }
    return texts;
}

void TestActionSetToolBar::initTestCase()
{
    PrepareKit();
    settings.Set("availability_status", "available");
    m_window = new QMainWindow;
    mainWindow = m_window;
    m_bar = new ActionSetToolBar(m_window);
    m_window->addToolBar(m_bar);
    m_bar->Init();

    m_tabs = new TabWidget;
    m_usersPage = new QWidget;
    m_tree = new TreeWidget(m_usersPage);
    m_tree->setColumnCount(2);
    for (const char* name : { "alice", "bob" })
        new QTreeWidgetItem(m_tree, { QStringLiteral("row"), QString::fromLatin1(name) });
    (new QVBoxLayout(m_usersPage))->addWidget(m_tree);
    m_roomPage = new QWidget;
    m_roomEdit = new QLineEdit(m_roomPage);
    (new QVBoxLayout(m_roomPage))->addWidget(m_roomEdit);
    m_tabs->addTab(m_usersPage, QStringLiteral("Users"));
    m_tabs->addTab(m_roomPage, QStringLiteral("Room"));
    m_window->setCentralWidget(m_tabs);

    // Declarations of two sets interleave: order numbers are shared.
    m_bar->AddSetAction("users", "message_user", "Message", ":/icons/chat_icon", true);
    m_bar->AddSetAction("room", "leave_room", "Leave", ":/icons/room_icon", false);
    m_bar->AddSetAction("users", "refresh", "Refresh & Sort", ":/icons/circular_arrow_icon", false);
    m_bar->AddSetAction("room", "give_up_ownership", "Give Up", ":/icons/stop_icon", false);
    m_bar->RegisterWidget(m_usersPage, "users");
    m_bar->AddWidgetColumnKey(m_usersPage, "user", 1);
    m_bar->AddWidgetKey(m_usersPage, "room", "lobby");
    m_bar->RegisterWidget(m_roomPage, "room");
    m_bar->AddWidgetKey(m_roomPage, "room", "cellar");
    QVERIFY(ShowActive(m_window));
}

void TestActionSetToolBar::followsFocusAndReportsKeys()
{
    QSignalSpy clicks(m_bar, &ActionSetToolBar::ActionTriggered);
    QCOMPARE(m_bar->GetKey("user"), QString());

    m_tree->setFocus();
    QCOMPARE(m_bar->CurrentSet(), QStringLiteral("users"));
    // "&" in a text is shown, not taken as a mnemonic.
    QCOMPARE(VisibleTexts(), QStringList({ "Message", "Refresh && Sort" }));
    QCOMPARE(m_bar->GetKey("room"), QStringLiteral("lobby"));

    // Needs a selected row: nothing is reported without one.
    m_bar->FindAction("message_user")->trigger();
    QCOMPARE(clicks.count(), 0);
    m_bar->FindAction("refresh")->trigger();
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(clicks.at(0).at(0).value<QWidget*>(), m_usersPage);
    QCOMPARE(clicks.at(0).at(1).toString(), QStringLiteral("refresh"));
    QCOMPARE(m_bar->GetKey("user"), QString());

    // The column key takes the selected row's text when the button is clicked.
    m_tree->topLevelItem(1)->setSelected(true);
    m_bar->FindAction("message_user")->trigger();
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(clicks.at(1).at(1).toString(), QStringLiteral("message_user"));
    QCOMPARE(m_bar->GetKey("user"), QStringLiteral("bob"));

    // Focus on the tab bar stands for the page it shows.
    m_tabs->setCurrentWidget(m_roomPage);
    m_tabs->tabBar()->setFocus();
    QCOMPARE(m_bar->CurrentSet(), QStringLiteral("room"));
    QCOMPARE(VisibleTexts(), QStringList({ "Leave", "Give Up" }));
    QCOMPARE(m_bar->GetKey("room"), QStringLiteral("cellar"));
    m_bar->FindAction("leave_room")->trigger();
    QCOMPARE(clicks.last().at(0).value<QWidget*>(), m_roomPage);
    // The keys are global: the last value set by any widget stays.
    QCOMPARE(m_bar->GetKey("user"), QStringLiteral("bob"));

    // Outside every bound widget only the two fixed buttons remain.
    QWidget dialog;
    auto* edit = new QLineEdit(&dialog);
    QVERIFY(ShowActive(&dialog));
    edit->setFocus();
    QCOMPARE(m_bar->CurrentSet(), QString());
    QCOMPARE(VisibleTexts(), QStringList());
    QVERIFY(m_bar->StatusButton() && m_bar->PrivilegesButton());
    dialog.close();
    QVERIFY(ShowActive(m_window));
}

void TestActionSetToolBar::perWidgetTextsAndHiddenActions()
{
    // A second room page shares the set; texts and hidden marks stay its own.
    auto* otherRoom = new QLineEdit;
    m_tabs->addTab(otherRoom, QStringLiteral("Other"));
    m_bar->RegisterWidget(otherRoom, "room");

    m_tabs->setCurrentWidget(m_roomPage);
    m_roomEdit->setFocus();
    m_bar->SetWidgetActionText(m_roomPage, "leave_room", "Leave cellar");
    m_bar->SetWidgetActionText(m_roomPage, "leave_room", "Leave the cellar");
    m_bar->SetWidgetActionHidden(m_roomPage, "give_up_ownership", true);
    QCOMPARE(VisibleTexts(), QStringList({ "Leave the cellar" }));
    m_bar->SetWidgetActionHidden(m_roomPage, "give_up_ownership", false);
    QCOMPARE(VisibleTexts(), QStringList({ "Leave the cellar", "Give Up" }));
    m_bar->SetWidgetActionHidden(m_roomPage, "give_up_ownership", true);

    // A text set while another widget is shown appears at the next focus.
    m_tabs->setCurrentWidget(otherRoom);
    otherRoom->setFocus();
    m_bar->SetWidgetActionText(otherRoom, "leave_room", "Leave other");
    QCOMPARE(VisibleTexts(), QStringList({ "Leave other", "Give Up" }));
    m_bar->SetWidgetActionText(m_roomPage, "leave_room", "Leave it");
    QCOMPARE(VisibleTexts(), QStringList({ "Leave other", "Give Up" }));
    m_tabs->setCurrentWidget(m_roomPage);
    m_roomEdit->setFocus();
    QCOMPARE(VisibleTexts(), QStringList({ "Leave it" }));
    delete otherRoom;
}

void TestActionSetToolBar::destroyedWidgetLeavesNothingBehind()
{
    // The room page as the functions before left it: shown again once the
    // doomed page goes.
    m_tabs->setCurrentWidget(m_roomPage);
    m_roomEdit->setFocus();
    const QStringList roomTexts = VisibleTexts();
    const size_t roomHidden = d.GetType("widget_action_hidden")->Count();
    auto* page = new QLineEdit;
    m_tabs->addTab(page, QStringLiteral("Doomed"));
    m_bar->RegisterWidget(page, "room");
    m_bar->AddWidgetKey(page, "room", "doomed");
    m_bar->SetWidgetActionText(page, "leave_room", "Leave doomed");
    m_bar->SetWidgetActionHidden(page, "give_up_ownership", true);
    m_tabs->setCurrentWidget(page);
    page->setFocus();
    QCOMPARE(m_bar->CurrentWidget(), page);
    QAction* shown = m_bar->FindAction("leave_room");
    QVERIFY(shown);
    const std::string address = AddressText(page);

    delete page;
    // The bar no longer shows its set but that of the page shown now (the
    // keyboard rests on the tab bar, which stands for it), and the store
    // forgot the widget.
    QCOMPARE(m_bar->CurrentWidget(), m_tabs->currentWidget());
    QCOMPARE(m_tabs->currentWidget(), m_roomPage);
    QCOMPARE(VisibleTexts(), roomTexts);
    QVERIFY(!d.GetType("toolbar_action_widget")->HasItem(address));
    QCOMPARE(d.GetType("widget_action_hidden")->Count(), roomHidden);
    // A late click of an action that was on the bar reaches nobody.
    QSignalSpy clicks(m_bar, &ActionSetToolBar::ActionTriggered);
    QMetaObject::invokeMethod(shown, "trigger");
    QCOMPARE(clicks.count(), 0);
    QTest::qWait(0);

    // A new widget (perhaps at the same address) starts without the old
    // binding, keys, texts or hidden marks.
    auto* fresh = new QLineEdit;
    const bool sameAddress = AddressText(fresh) == address;
    m_tabs->addTab(fresh, QStringLiteral("Fresh"));
    m_tabs->setCurrentWidget(fresh);
    fresh->setFocus();
    QCOMPARE(m_bar->CurrentSet(), QString());
    m_bar->RegisterWidget(fresh, "room");
    m_tabs->setCurrentWidget(m_roomPage);
    m_roomEdit->setFocus();
    m_tabs->setCurrentWidget(fresh);
    fresh->setFocus();
    QCOMPARE(m_bar->CurrentWidget(), fresh);
    QCOMPARE(m_bar->GetKey("room"), QStringLiteral("cellar"));
    if (!sameAddress)
        qInfo("the new widget got another address; the check still holds");
    QCOMPARE(VisibleTexts(), QStringList({ "Leave", "Give Up" }));
    delete fresh;
}

void TestActionSetToolBar::statusAndPrivilegesButtons()
{
    m_tree->setFocus();
    m_bar->StatusButton()->click();
    QCOMPARE(settings.Get("availability_status"), QStringLiteral("away"));
    QCOMPARE(m_bar->StatusButton()->text(), QStringLiteral("Away"));
    m_bar->StatusButton()->click();
    QCOMPARE(settings.Get("availability_status"), QStringLiteral("available"));
    QCOMPARE(m_bar->StatusButton()->text(), QStringLiteral("Available"));
    settings.Set("availability_status", "busy");
    m_bar->Clear();
    QCOMPARE(m_bar->StatusButton()->text(), QStringLiteral("Away"));

    // Days left, rounded to the nearest day with halves up.
    settings.SetYes("is_supporter", true);
    for (auto [seconds, text] : { std::pair { 129599, "1 Days Left" }, std::pair { 129600, "2 Days Left" } }) {
        settings.Set("privileges_time_left", seconds);
        m_bar->OnReceivedOwnPrivilegesStatus(seconds);
        QCOMPARE(m_bar->PrivilegesButton()->text(), QString::fromLatin1(text));
        QVERIFY(!m_bar->PrivilegesButton()->icon().isNull());
    }
    settings.SetYes("is_supporter", false);
    settings.Set("privileges_time_left", 0);
    m_bar->OnReceivedOwnPrivilegesStatus(0);
    QCOMPARE(m_bar->PrivilegesButton()->text(), QStringLiteral("Support Marrowby!"));
    QVERIFY(m_bar->PrivilegesButton()->icon().isNull());

    // Too narrow for the set, the bar shows its texts alone and then leaves
    // the privileges button out, keeping every action; with room, both return.
    m_bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon); // as in the window
    m_bar->ChangeSet(m_usersPage, "users");
    QWidget* refresh = m_bar->widgetForAction(m_bar->FindAction("refresh"));
    QVERIFY(refresh);
    for (const int wide : { 800, 0, 800 }) {
        m_window->resize(wide ? wide : refresh->geometry().right() + 8, m_window->height());
        QVERIFY(QTest::qWaitFor([&] {
            return m_bar->toolButtonStyle() == (wide ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonTextOnly)
                && m_bar->PrivilegesButton()->isVisible() == bool(wide) && refresh->isVisible();
        }));
    }
}

QTEST_MAIN(TestActionSetToolBar)
#include "tst_actionsettoolbar.moc"
