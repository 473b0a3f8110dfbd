// Pending-event buttons: one per widget unless asked for more, a click brings
// the widget's tab forward, and a destroyed widget takes its buttons along (a
// new widget at the same address starts with none). Run under ASan in CI.
#include "ApplicationIcon.h"
#include "EventToolBar.h"
#include "TabWidget.h"
#include "TextBound.h"
#include "helper_kit.h"
#include <QTabBar>
#include <QTextDocumentFragment>

class TestEventToolBar : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void buttonsLeadToTheirWidgets();
    void destroyedWidgetTakesItsButtons();
    void blinksWhileInactiveAndFallsBackToDefaultSound();
    void buttonsSwitchedOff();

private:
    int ButtonCount() const { return m_bar->EventActions().size(); }

    QMainWindow* m_window = nullptr;
    EventToolBar* m_bar = nullptr;
    ApplicationIcon* m_icon = nullptr;
    TabWidget* m_pages = nullptr;
    RoomTabWidget* m_chats = nullptr;
    QWidget* m_home = nullptr;
    QWidget* m_chatA = nullptr;
    QWidget* m_chatB = nullptr;
};

void TestEventToolBar::initTestCase()
{
    PrepareKit();
    settings.SetYes("show_event_buttons", true);
    m_window = new QMainWindow;
    mainWindow = m_window;
    m_icon = new ApplicationIcon(m_window);
    m_bar = new EventToolBar(m_window);
    m_window->addToolBar(m_bar);
    m_pages = new TabWidget;
    m_home = new QWidget;
    m_chats = new RoomTabWidget;
    m_chatA = new QWidget;
    m_chatB = new QWidget;
    m_chatA->setFocusPolicy(Qt::StrongFocus);
    m_chats->addTab(m_chatA, QStringLiteral("alice"));
    m_chats->addTab(m_chatB, QStringLiteral("bob & co"));
    m_pages->addTab(m_home, QStringLiteral("Home"));
    m_pages->addTab(m_chats, QStringLiteral("Chat"));
    m_window->setCentralWidget(m_pages);
    QVERIFY(ShowActive(m_window));
    QVERIFY(m_bar->isHidden());
    // A name with "&" is shown as it is, not as a mnemonic.
    QCOMPARE(m_chats->tabText(1), QStringLiteral("bob && co"));
}

void TestEventToolBar::buttonsLeadToTheirWidgets()
{
    m_bar->AddEvent("alice", ":/icons/chat_icon", m_chatA, QString(), QString(), false);
    m_bar->AddEvent("alice again", ":/icons/chat_icon", m_chatA, QString(), QString(), false);
    m_bar->AddEvent("bob & co", ":/icons/chat_icon", m_chatB, QString(), QString(), true);
    m_bar->AddEvent("bob & co", ":/icons/chat_icon", m_chatB, QString(), QString(), true);
    QCOMPARE(ButtonCount(), 3);
    QVERIFY(m_bar->isVisible());
    QCOMPARE(m_bar->EventActions().at(1)->text(), QStringLiteral("bob && co"));
    QCOMPARE(m_bar->EventActions().at(1)->toolTip(), QStringLiteral("bob & co"));
    QVERIFY(!m_bar->IsBlinking()); // the window is active
    // The Chat page's tab is marked; inside it, only the tab that is not current.
    QCOMPARE(m_pages->tabBar()->tabTextColor(1), QColor(Qt::blue));
    QCOMPARE(m_chats->tabBar()->tabTextColor(1), QColor(Qt::blue));
    QVERIFY(m_chats->tabBar()->tabTextColor(0) != QColor(Qt::blue));

    // A click brings the inner and the outer tab forward and focuses the widget.
    QAction* first = m_bar->EventActions().first();
    first->trigger();
    QCOMPARE(m_pages->currentWidget(), m_chats);
    QCOMPARE(m_chats->currentWidget(), m_chatA);
    QVERIFY(m_chatA->hasFocus());
    // Before the data file is loaded a selected tab turns black.
    QCOMPARE(m_pages->tabBar()->tabTextColor(1), QColor(Qt::black));
    QCOMPARE(ButtonCount(), 2);
    QTest::qWait(0); // the clicked action is deleted later, not under its own signal

    // A visible widget in the active window: nothing but the tab mark.
    m_bar->AddEvent("alice", ":/icons/chat_icon", m_chatA, QString(), QString(), true);
    QCOMPARE(ButtonCount(), 2);

    // RemoveEvents takes every button of the widget.
    m_bar->RemoveEvents(m_chatB);
    QCOMPARE(ButtonCount(), 0);
    QVERIFY(m_bar->isHidden());

    // Clicking the last button hides the bar; the next event shows only its own.
    m_pages->setCurrentWidget(m_home);
    m_bar->AddEvent("bob", ":/icons/chat_icon", m_chatB, QString(), QString(), false);
    m_bar->EventActions().first()->trigger();
    QVERIFY(m_bar->isHidden());
    m_pages->setCurrentWidget(m_home);
    m_bar->AddEvent("alice", ":/icons/chat_icon", m_chatA, QString(), QString(), false);
    QCOMPARE(ButtonCount(), 1);
    QVERIFY(m_bar->isVisible());
    m_bar->RemoveEvents(m_chatA);
}

void TestEventToolBar::destroyedWidgetTakesItsButtons()
{
    m_pages->setCurrentWidget(m_home);
    auto* doomed = new QWidget;
    m_chats->addTab(doomed, QStringLiteral("carol"));
    m_bar->AddEvent("carol", ":/icons/chat_icon", doomed, QString(), QString(), true);
    m_bar->AddEvent("carol", ":/icons/chat_icon", doomed, QString(), QString(), true);
    m_bar->AddEvent("alice", ":/icons/chat_icon", m_chatA, QString(), QString(), false);
    QCOMPARE(ButtonCount(), 3);
    const std::string address = AddressText(doomed);

    delete doomed;
    QCOMPARE(ButtonCount(), 1);
    QVERIFY(!d.GetType("event_toolbar_widget")->HasItem(address));
    QCOMPARE(d.GetType("event_toolbar_action")->Count(), size_t(1));

    // A widget of the same kind, likely at the same address without ASan:
    // it did not inherit the old widget's button, so its event adds one.
    auto* fresh = new QWidget;
    if (AddressText(fresh) != address)
        qInfo("the new widget got another address; the check still holds");
    // A peer's name, isolated by the page as it passes it, and long enough to
    // fill the tab bar: the tab and the button are cut in the middle to a
    // label's width and stay isolated, on one line, "&" doubled, a few marks
    // kept of many stacked on a letter; the tool tips show it whole.
    const QString name = kHostileName + QString(500, QChar(0x0301)) + QChar(0x2028) + QString(3000, u'w')
        + QStringLiteral(" & co");
    const QString isolated = IsolatedText(name);
    m_chats->AddNamedTab(fresh, QIcon(), isolated);
    m_bar->AddEvent(isolated, ":/icons/chat_icon", fresh, QString(), QString(), false);
    QCOMPARE(ButtonCount(), 2);
    QAction* hostileButton = m_bar->EventActions().last();
    const int tab = m_chats->indexOf(fresh);
    for (auto [label, tip] : { std::pair(m_chats->tabText(tab), m_chats->tabToolTip(tab)),
             std::pair(hostileButton->text(), hostileButton->toolTip()) }) {
        QVERIFY(label.startsWith(isolated.left(5)) && label.endsWith(PlainLabel(isolated.right(6))));
        QVERIFY(!label.contains(QChar(0x2028)) && label.contains(QChar(0x2026)));
        QVERIFY(!label.contains(QString(TextBound::kMaxMarks + 1, QChar(0x0301))));
        const QFontMetrics metrics = m_chats->tabBar()->fontMetrics();
        const QString shown = QString(label).replace(QStringLiteral("&&"), QStringLiteral("&"));
        QVERIFY(metrics.horizontalAdvance(shown) <= kMaxLabelChars * metrics.averageCharWidth());
        QCOMPARE(QTextDocumentFragment::fromHtml(tip).toPlainText().remove(QChar(0x200B)),
            TextBound::Shown(isolated).remove(QChar(0x200B)));
    }
    delete fresh;
    QCOMPARE(ButtonCount(), 1);
    m_bar->RemoveEvents(m_chatA);
    QCOMPARE(ButtonCount(), 0);
    QVERIFY(m_bar->isHidden());
    QTest::qWait(0);
}

void TestEventToolBar::blinksWhileInactiveAndFallsBackToDefaultSound()
{
    QWidget other;
    QVERIFY(ShowActive(&other));
    QVERIFY(!m_window->isActiveWindow());
    m_pages->setCurrentWidget(m_home);
    for (const char* icon : { ":/icons/room_icon", ":/icons/chat_icon", ":/icons/room_icon" })
        m_bar->AddEvent("x", icon, m_chatA, QString(), QString(), false);
    QVERIFY(m_bar->IsBlinking());
    // Each icon once, ordered by name, then the status icon.
    QStringList shown;
    for (int step = 0; step < 4; ++step) {
        m_bar->OnIconAlertTimeout();
        shown << m_icon->IconPath();
    }
    QCOMPARE(shown,
        QStringList({ ":/icons/chat_icon", ":/icons/room_icon", ":/icons/offline_icon", ":/icons/chat_icon" }));
    // Any focus change ends the blinking and puts the status icon back.
    QVERIFY(ShowActive(m_window));
    m_chatA->setFocus();
    QVERIFY(!m_bar->IsBlinking());
    QCOMPARE(m_icon->IconPath(), QStringLiteral(":/icons/offline_icon"));
    m_bar->RemoveEvents(m_chatA);

    Type* sound = d.GetType("event_sound");
    sound->GetItem("default") += d.GetType("event_sound_file")->GetItem("/sounds/default.wav");
    QCOMPARE(EventToolBar::SoundFile("room_chat"), QStringLiteral("/sounds/default.wav"));
    sound->GetItem("room_chat") += d.GetType("event_sound_file")->GetItem("/sounds/room.wav");
    QCOMPARE(EventToolBar::SoundFile("room_chat"), QStringLiteral("/sounds/room.wav"));
}

void TestEventToolBar::buttonsSwitchedOff()
{
    settings.SetYes("show_event_buttons", false);
    m_pages->setCurrentWidget(m_home);
    m_bar->AddEvent("alice", ":/icons/chat_icon", m_chatA, QString(), QString(), false);
    QCOMPARE(ButtonCount(), 0);
    QVERIFY(m_bar->actions().isEmpty()); // the placeholder went too
    QVERIFY(m_bar->isHidden());
    QCOMPARE(m_pages->tabBar()->tabTextColor(1), QColor(Qt::blue));
}

QTEST_MAIN(TestEventToolBar)
#include "tst_eventtoolbar.moc"
