// The keyboard on a real desktop, where the window manager shows the windows
// that the network opens without activating them and picks the next window
// itself when one closes: those windows take no key typed elsewhere, a window
// the user switches to keeps the keyboard, a key typed in the user's own
// dialog answers no other window, and the answers to the user's own actions
// take the keyboard.
#include "WidgetFunctions.h"
#include "gui/Desktop.h"
#include "pages/browse/SharedFilesRescannedDialog.h"
#include "pages/chat/AdminMessageDialog.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/CreateRoomDialog.h"
#include "pages/chat/QRoomListItemWidget.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/search/SearchForm.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/NewVersionDialog.h"
#include "shell/TabWidget.h"
#include "store/DataSaver.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QThread>
#include <QTreeWidget>

namespace desktop = gui::desktop;

class TestKeyboard : public QObject {
    Q_OBJECT
    gui::Session session;
    gui::UrlCatcher urls;

private slots:
    void initTestCase() { QVERIFY(session.Prepare()); }
    // Each function starts logged in as "holder" with no other window open.
    void init()
    {
        session.StopDrivers();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w != session.Window() && qobject_cast<QDialog*>(w))
                w->close();
        if (!session.Window()) {
            QVERIFY(session.StartWindow(QStringLiteral("holder")));
        } else if (!gp_server->IsConnected()) {
            settings.Set("password", "secret");
            session.StopServer(); // forgets a name taken meanwhile
            QVERIFY(session.RestartServer());
            session.Window()->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
            QVERIFY(session.WaitLoggedIn());
        }
    }
    void windowsOpenedByTheNetworkTakeNoKey();
    void aWindowTheUserSwitchesToKeepsTheKeyboard();
    void keysAnswerTheWindowThatShowsActive();
    void keysTypedInTheUsersDialogAnswerNoOtherWindow();
    void answersToTheUsersOwnActionsTakeTheKeyboard();
    void aNetworkWindowAskedForAgainTakesTheKeyboard();
};

namespace {

// The user is typing into the input of the main window (a Shift pressed
// there is the last input the desktop knows of).
bool TypingIn(QLineEdit* input)
{
    FocusWidget(input);
    return desktop::SwitchTo(input->window()) && desktop::WaitActive(input->window())
        && desktop::Keys(QStringLiteral("shift")) && gui::WaitFor([input] { return input->hasFocus(); });
}

// The keys are typed, and they reach the input.
bool Reached(QLineEdit* input, const QString& keys)
{
    const QString before = input->text();
    return desktop::Type(keys) && gui::WaitFor([&] { return input->text() == before + keys; });
}

// Whether a Return reached the program since it was made.
class ReturnSeen : public QObject {
public:
    ReturnSeen() { qApp->installEventFilter(this); }
    bool seen = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        seen = seen
            || (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return);
        return false;
    }
};

// The task bar's switch to the window (xdotool's commands).
QStringList TaskBar(QWidget* window)
{
    return { QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window->winId()) };
}

// The user switches (xdotool's commands) `after` seconds from now and presses
// the keys 0.3 s later, while the window's thread stands still for `stallMs`;
// `active`, if asked for, is the window the desktop shows active then (asked
// while the thread still stands still).
bool SwitchesAndPresses(const QString& after, const QStringList& switching, const QString& keys, int stallMs,
    WId* active = nullptr)
{
    QString output;
    const bool ran = desktop::Script(
        QStringList { QStringLiteral("sleep"), after } + switching
            + QStringList { QStringLiteral("sleep"), QStringLiteral("0.3"), QStringLiteral("key") }
            + keys.split(QLatin1Char(' '))
            + (active ? QStringList { QStringLiteral("getactivewindow") } : QStringList()),
        [stallMs] { QThread::msleep(stallMs); }, &output);
    if (active)
        *active = output.trimmed().toULongLong();
    return ran;
}

// The user reads a window before doing anything with it: a second, longer
// than the desktop takes to activate a window it shows.
void Reads()
{
    QTest::qWait(1000);
}

} // namespace

void TestKeyboard::windowsOpenedByTheNetworkTakeNoKey()
{
    MainWindow* window = session.Window();
    // The web host offers a newer build at every login.
    QTcpServer web;
    QVERIFY(web.listen(QHostAddress::LocalHost));
    connect(&web, &QTcpServer::newConnection, &web, [&web] {
        while (QTcpSocket* peer = web.nextPendingConnection()) {
            connect(peer, &QTcpSocket::readyRead, peer, [peer] {
                const QByteArray body = "20991231\nhttp://example.org/get\nFaster searches\n";
                peer->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
                    + "\r\n\r\n" + body);
                peer->disconnectFromHost();
            });
        }
    });
    const QByteArray noWeb = qgetenv("MARROWBY_WEB");
    qputenv("MARROWBY_WEB", "127.0.0.1:" + QByteArray::number(web.serverPort()));
    const auto offers = [] {
        const auto lines = LogSink::Instance().AreaLines(QStringLiteral("Update Check"));
        return std::count_if(lines.begin(), lines.end(),
            [](const LogLine& line) { return line.text == QLatin1String("Build 20991231 is available"); });
    };
    const auto login = [&](int n) {
        window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
        QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
        window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
        QVERIFY(session.WaitLoggedIn());
        QVERIFY(gui::WaitFor([&] { return offers() == n; }));
    };
    QLineEdit* input = searchForm->searchEdit()->lineEdit();
    QVERIFY(TypingIn(input));
    QVERIFY(Reached(input, QStringLiteral("ab")));
    login(1);
    login(2);
    QVERIFY(Reached(input, QStringLiteral(" c")));
    // A message of the administrators comes while a flood keeps the loop
    // busy for a second: what the user types meanwhile, before the message
    // could be seen, is still the input's.
    QVERIFY(desktop::Type(QStringLiteral("d"), 250, [] {
        emit gp_server->AdminMessage(QStringLiteral("Maintenance at noon"));
        QThread::msleep(1000);
    }));
    QVERIFY(gui::WaitFor([&] { return input->text() == QLatin1String("ab cd"); }));
    // Two rescans' reports and the hourly save's failure come up as well.
    for (int reports = 1; reports <= 2; ++reports) {
        sharedFoldersManager->RescanShares();
        QVERIFY(gui::WaitFor(
            [&] { return gui::OpenWindows<SharedFilesRescannedDialog>(window).size() == reports; }));
    }
    QVERIFY(Reached(input, QStringLiteral("e")));
    QVERIFY(QDir().mkpath(MainWindow::DataFilePath()));
    window->EveryHour();
    QVERIFY(gui::WaitFor([] { return !dataSaver->Saving(); }));
    QVERIFY(QDir().rmdir(MainWindow::DataFilePath()));
    QVERIFY(Reached(input, QStringLiteral("f")));
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([] { return searchForm->searchTabControl()->count() == 1; }));
    QCOMPARE(settings.Get("skip_version"), QString());
    QCOMPARE(QApplication::activeWindow(), window);
    // One update window, beside the others rather than above them all; no
    // window's title bar under another's frame (the frames as the desktop
    // draws them).
    const QList<QWidget*> update = gui::OpenWindows<NewVersionDialog>(window);
    QCOMPARE(update.size(), 1);
    QVERIFY(!(update.first()->windowFlags() & Qt::WindowStaysOnTopHint));
    const QList<QWidget*> opened = update + gui::OpenWindows<AdminMessageDialog>(window)
        + gui::OpenWindows<SharedFilesRescannedDialog>(window) + gui::OpenWindows<QMessageBox>(window);
    QCOMPARE(opened.size(), 5);
    const auto frame = [](const QWidget* w) { return w->windowHandle()->frameGeometry(); };
    for (QWidget* a : opened) {
        QVERIFY(a->screen()->availableGeometry().contains(frame(a)));
        for (QWidget* b : opened)
            QVERIFY2(a == b || frame(b).top() < frame(a).top() || frame(b).top() >= a->geometry().top()
                    || !frame(a).intersects(frame(b)),
                qPrintable(QDebug::toString(a) + QDebug::toString(frame(a)) + QDebug::toString(b)
                    + QDebug::toString(frame(b))));
    }
    // Minimised, the main window stays so while another report comes.
    window->showMinimized();
    QVERIFY(gui::WaitFor([&] { return window->isMinimized(); }));
    sharedFoldersManager->RescanShares();
    QVERIFY(gui::WaitFor([&] { return gui::OpenWindows<SharedFilesRescannedDialog>(window).size() == 3; }));
    Reads();
    QVERIFY(window->isMinimized());
    QVERIFY(TypingIn(input));
    // Closed, the update window waits for the next start.
    update.first()->close();
    login(3);
    qputenv("MARROWBY_WEB", noWeb);
    QTest::qWait(300);
    QVERIFY(gui::OpenWindows<NewVersionDialog>(window).isEmpty());
}

void TestKeyboard::aWindowTheUserSwitchesToKeepsTheKeyboard()
{
    MainWindow* window = session.Window();
    ChatForm* chat = chatsForm->GetChatForm(QStringLiteral("friend"));
    QVERIFY(TypingIn(chat->chatEdit));
    QVERIFY(Reached(chat->chatEdit, QStringLiteral("see you at")));
    // A newer build is offered mid-sentence; the user finishes the word,
    // switches to the window with the task bar about half a second after it
    // showed, and answers it with the keyboard at once: the keys are the
    // window's (not the chat's, where Return would send the line), under a
    // window manager that refuses to hand the keyboard back too.
    window->OnNewVersion(20990101, QStringLiteral("http://example.org/get"), { QStringLiteral("Faster") });
    QVERIFY(gui::OpenWindows<NewVersionDialog>(window).size() == 1);
    QPointer<QWidget> update = gui::OpenWindows<NewVersionDialog>(window).first();
    QVERIFY(Reached(chat->chatEdit, QStringLiteral(" eig")));
    QTest::qWait(300);
    QVERIFY(desktop::SwitchTo(update));
    QVERIFY(desktop::WaitActive(update));
    QCOMPARE(
        QApplication::focusWidget(), static_cast<NewVersionDialog*>(update.data())->Form()->downloadButton);
    QVERIFY(desktop::Keys(QStringLiteral("Return space")));
    QVERIFY(gui::WaitFor([&] { return urls.Urls().size() == 1; }));
    Reads();
    QCOMPARE(QApplication::activeWindow(), update.data());
    // A message of the administrators: the user clicks on it 0.3 s after it
    // showed, which some window managers make an activation before the
    // click reaches the window, and closes it with Escape at once.
    emit gp_server->AdminMessage(QStringLiteral("Maintenance at noon"));
    QPointer<AdminMessageDialog> admin = window->findChild<AdminMessageDialog*>();
    QVERIFY(admin);
    QTest::qWait(300);
    QVERIFY(desktop::Click(admin->textEdit));
    QVERIFY(desktop::WaitActive(admin));
    QVERIFY(desktop::Keys(QStringLiteral("Escape")));
    QVERIFY(gui::WaitFor([&] { return !admin || !admin->isVisible(); }));
    // The window manager picks the next window itself; where it picks the
    // update window, that goes back to the chat. 0.15 s after the keyboard is
    // there, while the window's thread stands still, the user switches to the
    // update window again and presses Return and space 0.3 s later: they are
    // the update's.
    QVERIFY(desktop::WaitActive(window));
    const qsizetype opened = urls.Urls().size();
    QVERIFY(
        SwitchesAndPresses(QStringLiteral("0.15"), TaskBar(update), QStringLiteral("Return space"), 1000));
    QVERIFY(gui::WaitFor([&] { return urls.Urls().size() == opened + 1; }));
    QCOMPARE(chat->chatEdit->text(), QStringLiteral("see you at eig"));
}

void TestKeyboard::keysAnswerTheWindowThatShowsActive()
{
    MainWindow* window = session.Window();
    ChatForm* chat = chatsForm->GetChatForm(QStringLiteral("friend"));
    QVERIFY(TypingIn(chat->chatEdit));
    const QString line = QStringLiteral("see you at eig");
    const bool icewm = qgetenv("MARROWBY_DESKTOP") == "icewm";
    const auto report = [&] {
        sharedFoldersManager->RescanShares();
        return gui::WaitFor([&] { return gui::OpenWindows<SharedFilesRescannedDialog>(window).size() == 1; })
            ? QPointer<QWidget>(gui::OpenWindows<SharedFilesRescannedDialog>(window).first())
            : QPointer<QWidget>();
    };
    // A rescan's report shows, and the user switches to it with the task bar
    // as soon as a person can, once the keyboard is back in the chat (IceWM
    // activates the report itself as it maps it, and that went back), and
    // presses Return 0.3 s later: the report takes it, and the line is not
    // sent. The same with the switch 0.15 s later, while the window's thread
    // stands still.
    for (const auto& [after, stalled] : { std::pair { "0", 0 }, std::pair { "0.15", 1000 } }) {
        chat->chatEdit->setText(line);
        QPointer<QWidget> shown = report();
        QVERIFY(gui::WaitFor([&] { return shown && shown->windowHandle()->isExposed(); }));
        QTest::qWait(100);
        QVERIFY(desktop::WaitActive(window));
        QVERIFY(SwitchesAndPresses(
            QString::fromLatin1(after), TaskBar(shown), QStringLiteral("Return"), stalled));
        QVERIFY(gui::WaitFor([&] { return !shown; }));
        QCOMPARE(chat->chatEdit->text(), line);
        QVERIFY(TypingIn(chat->chatEdit));
    }

    // The window's thread stands still for 1.5 s from just after the report
    // shows (a flood, a slow disk): half a second after it showed, the user
    // switches with the task bar or with Alt+Tab, and presses Return 0.3 s
    // later. The Return answers the window the desktop shows active then
    // (Alt+Tab picks the report or the main window, by the window manager):
    // the line is sent only where that is the main window (under IceWM, the
    // report it activated itself answers the Return or nothing). A window
    // manager still busy with Alt+Tab keeps the Return itself: then no window
    // answers it.
    for (const QString& keys : { QString(), QStringLiteral("alt+Tab") }) {
        QPointer<QWidget> shown = report();
        QVERIFY(shown);
        const WId id = shown->winId();
        WId active = 0;
        const ReturnSeen pressed;
        QVERIFY(SwitchesAndPresses(QStringLiteral("0.5"),
            keys.isEmpty() ? TaskBar(shown) : QStringList { QStringLiteral("key"), keys },
            QStringLiteral("Return"), 1500, &active));
        if (!gui::WaitFor([&] { return pressed.seen; }, 2000))
            active = 0;
        if (active == id)
            QVERIFY(gui::WaitFor([&] { return !shown; }, icewm ? 1000 : 10000) || icewm);
        if (active == window->winId())
            QVERIFY(gui::WaitFor([&] { return chat->chatEdit->text().isEmpty(); }));
        else
            QCOMPARE(chat->chatEdit->text(), line);
        delete shown;
        chat->chatEdit->setText(line);
        QVERIFY(TypingIn(chat->chatEdit));
    }
}

void TestKeyboard::keysTypedInTheUsersDialogAnswerNoOtherWindow()
{
    MainWindow* window = session.Window();
    ChatForm* chat = chatsForm->GetChatForm(QStringLiteral("friend"));
    QVERIFY(TypingIn(chat->chatEdit));
    chat->chatEdit->clear();
    // Windows of the network come while the user is in a dialog of the
    // user's own: a room entered again after a reconnection is refused, and
    // the administrators write.
    roomsForm->OnToolBarActionTriggered(nullptr, QStringLiteral("create_room"));
    QPointer<CreateRoomDialog> dialog = createRoomDialog;
    QVERIFY(dialog && desktop::WaitActive(dialog));
    QVERIFY(Reached(dialog->roomNameEdit, QStringLiteral("hide")));
    emit gp_server->CannotCreateRoom(QStringLiteral("elsewhere"));
    emit gp_server->AdminMessage(QStringLiteral("Maintenance at noon"));
    QPointer<QMessageBox> refusal = roomsForm->findChild<QMessageBox*>();
    QPointer<AdminMessageDialog> admin = window->findChild<AdminMessageDialog*>();
    QVERIFY(refusal && admin);
    QVERIFY(Reached(dialog->roomNameEdit, QStringLiteral("out")));
    // The user takes a while over the name, while both show.
    QVERIFY(gui::WaitFor([&] {
        return refusal && admin && refusal->windowHandle()->isExposed() && admin->windowHandle()->isExposed();
    }));
    Reads();
    // Return creates the room; the dialog closes, and the window manager
    // gives the keyboard to a window of its choice.
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([&] { return !dialog || !dialog->isVisible(); }));
    QVERIFY(gui::WaitFor([] { return QApplication::activeWindow() != nullptr; }));
    QVERIFY(Reached(chat->chatEdit, QStringLiteral(" ok")));
    QVERIFY(refusal && refusal->isVisible() && admin && admin->isVisible());
    // The keyboard follows the keys back (a busy window manager may take a
    // while to move it).
    QVERIFY(desktop::WaitActive(window));
}

void TestKeyboard::answersToTheUsersOwnActionsTakeTheKeyboard()
{
    MainWindow* window = session.Window();
    // An automatic reconnection is refused: the name was taken with another
    // password while the server was away.
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return gp_server->IsAbruptlyDisconnected(); }));
    QVERIFY(session.RestartServer());
    DriverProcess* taker = session.StartDriver(
        QStringLiteral("holder"), { QStringLiteral("--password"), QStringLiteral("other") });
    QVERIFY(taker);
    taker->Send(QStringLiteral("disconnect"));
    QVERIFY(!taker->WaitFor(QStringLiteral("disconnected")).isEmpty());
    QLineEdit* input = searchForm->searchEdit()->lineEdit();
    QVERIFY(TypingIn(input));
    gp_server->OnReconnectTimer();
    QVERIFY(gui::WaitFor([&] { return window->findChild<QMessageBox*>(); }));
    QPointer<QMessageBox> box = window->findChild<QMessageBox*>();
    Reads();
    QCOMPARE(QApplication::activeWindow(), window);
    // The user presses Connect: the answer comes with the keyboard, and
    // Return closes it.
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(desktop::WaitActive(box));
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([&] { return !box; }));
    session.StopServer();
    QVERIFY(session.RestartServer());
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());

    // The user's own rescan reports with the keyboard.
    QVERIFY(desktop::WaitActive(window));
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("rescan_shares"));
    QVERIFY(gui::WaitFor([&] { return !gui::OpenWindows<SharedFilesRescannedDialog>(window).isEmpty(); }));
    QPointer<QWidget> report = gui::OpenWindows<SharedFilesRescannedDialog>(window).first();
    QVERIFY(desktop::WaitActive(report));
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([&] { return !report; }));

    // Another user has a private room and a public one. The user asks for
    // the private one: the refusal comes with the keyboard.
    DriverProcess* owner = session.StartDriver(QStringLiteral("owner"));
    QVERIFY(owner);
    owner->Send(QStringLiteral("join den private"));
    QCOMPARE(owner->WaitFor(QStringLiteral("joined ")), QStringLiteral("joined den"));
    owner->Send(QStringLiteral("join lounge"));
    QCOMPARE(owner->WaitFor(QStringLiteral("joined ")), QStringLiteral("joined lounge"));
    FocusWidget(roomsForm->roomList);
    QVERIFY(desktop::WaitActive(window));
    roomsForm->OnToolBarActionTriggered(nullptr, QStringLiteral("create_room"));
    QVERIFY(createRoomDialog && desktop::WaitActive(createRoomDialog));
    QVERIFY(Reached(createRoomDialog->roomNameEdit, QStringLiteral("den")));
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([&] { return roomsForm->findChild<QMessageBox*>(); }));
    QPointer<QMessageBox> refusal = roomsForm->findChild<QMessageBox*>();
    QVERIFY(desktop::WaitActive(refusal));
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([&] { return !refusal; }));

    // A room the user is in already; the user double-clicks another in the
    // list: its tab comes to the front with the keyboard.
    TabWidget* rooms = roomsForm->roomsTabControl;
    const int tabs = rooms->count();
    roomsForm->EnterRoom(QStringLiteral("nook"), false);
    QVERIFY(gui::WaitFor([&] { return rooms->count() == tabs + 1; }));
    QVERIFY(desktop::WaitActive(window));
    gp_server->GetRoomList();
    QTreeWidget* list = roomsForm->roomList;
    QTreeWidgetItem* lounge = nullptr;
    QVERIFY(gui::WaitFor([&] {
        for (int i = 0; i < list->topLevelItemCount() && !lounge; ++i)
            if (QRoomListItemWidget::Room(*list->topLevelItem(i)) == QLatin1String("lounge"))
                lounge = list->topLevelItem(i);
        return lounge != nullptr;
    }));
    list->scrollToItem(lounge);
    QVERIFY(desktop::Click(list->viewport(), list->visualItemRect(lounge).center(), 2));
    QVERIFY(gui::WaitFor([&] { return rooms->count() == tabs + 2; }));
    auto* room = qobject_cast<RoomForm*>(rooms->currentWidget());
    QVERIFY(room && room->Room() == QLatin1String("lounge"));
    QVERIFY(gui::WaitFor([&] { return room->chatEdit->hasFocus(); }));
    QVERIFY(Reached(room->chatEdit, QStringLiteral("hi")));
}

void TestKeyboard::aNetworkWindowAskedForAgainTakesTheKeyboard()
{
    // Another user's private room, refused as the client entered it again
    // after a reconnection: the box shows quietly. The user asks for the
    // room at once: the box now answers the user, and takes the keyboard
    // however soon after it showed, and the keys typed next.
    DriverProcess* keeper = session.StartDriver(QStringLiteral("keeper"));
    QVERIFY(keeper);
    keeper->Send(QStringLiteral("join attic private"));
    QCOMPARE(keeper->WaitFor(QStringLiteral("joined ")), QStringLiteral("joined attic"));
    QLineEdit* input = searchForm->searchEdit()->lineEdit();
    QVERIFY(TypingIn(input));
    input->clear();
    QVERIFY(Reached(input, QStringLiteral("up")));
    const int searches = searchForm->searchTabControl()->count();
    emit gp_server->CannotCreateRoom(QStringLiteral("attic"));
    QPointer<QMessageBox> refusal;
    for (QMessageBox* box : roomsForm->findChildren<QMessageBox*>())
        if (box->isVisible() && box->text().contains(QLatin1String("attic")))
            refusal = box;
    QVERIFY(refusal);
    roomsForm->EnterRoom(QStringLiteral("attic"), false);
    QVERIFY(desktop::WaitActive(refusal));
    QVERIFY(desktop::Keys(QStringLiteral("Return")));
    QVERIFY(gui::WaitFor([&] { return !refusal; }));
    QCOMPARE(input->text(), QStringLiteral("up"));
    QCOMPARE(searchForm->searchTabControl()->count(), searches);
}

DESKTOP_TEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
