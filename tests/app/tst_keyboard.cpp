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
#include <QTableView>
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
    void keysTypedInTheUsersDialogAnswerNoOtherWindow();
    void answersToTheUsersOwnActionsTakeTheKeyboard();
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

// The user switches to the window (with the task bar, or xdotool's command
// `switching`) `after` seconds from now and presses the keys 0.3 s later,
// while the window's thread stands still for `stallMs`. `active`, if asked
// for, is the window the desktop shows active then (asked while the thread
// still stands still), or 0 where no Return reached the program.
bool SwitchesAndPresses(QWidget* window, const char* switching, const char* after, int stallMs,
    const QString& keys, WId* active = nullptr)
{
    struct : QObject {
        bool seen = false;
        bool eventFilter(QObject*, QEvent* e) override
        {
            seen |= e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Return;
            return false;
        }
    } returns;
    qApp->installEventFilter(&returns);
    QString output;
    const bool ran = desktop::Script(
        QStringLiteral("sleep %1 %2 sleep 0.3 key %3 %4")
            .arg(QString::fromLatin1(after),
                switching ? QString::fromLatin1(switching)
                          : QStringLiteral("windowactivate --sync ") + QString::number(window->winId()),
                keys, active ? QStringLiteral("getactivewindow") : QString())
            .split(QLatin1Char(' '), Qt::SkipEmptyParts),
        [stallMs] { QThread::msleep(stallMs); }, &output);
    if (active)
        *active = gui::WaitFor([&] { return returns.seen; }, 2000) ? output.trimmed().toULongLong() : 0;
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
    // update window, that goes back to the chat. The user switches to a
    // window (task bar or Alt+Tab) `after` seconds into a stall of the
    // window's thread (a flood, a slow disk) and presses Return 0.3 s later.
    // Switched to once the keyboard is back in the chat (IceWM activates a
    // report itself as it maps it, and that went back), the update window
    // (Return and space) or a rescan's report takes the keys. Half a second
    // after a report showed, the stall from just after, the window the
    // desktop shows active then answers (Alt+Tab picks the report or the main
    // window, by the window manager; IceWM's own activation of the report
    // answers or not), or none where the window manager keeps the Return.
    // The line is sent only by a Return that the main window answers.
    const QString line = chat->chatEdit->text();
    const bool icewm = qgetenv("MARROWBY_DESKTOP") == "icewm";
    const struct {
        const char* switching; // xdotool's command, or the task bar's switch
        const char* after;
        int stallMs;
        bool settled; // switched once the keyboard is back in the chat: the window answers
    } cases[] = { { nullptr, "0.15", 1000, true }, { nullptr, "0", 0, true }, { nullptr, "0.15", 1000, true },
        { nullptr, "0.5", 1500, false }, { "key alt+Tab", "0.5", 1500, false } };
    for (const auto& c : cases) {
        const bool toUpdate = &c == cases; // then reports
        QPointer<QWidget> shown = update;
        if (!toUpdate)
            sharedFoldersManager->RescanShares();
        QVERIFY(gui::WaitFor([&] {
            return toUpdate || (shown = gui::OpenWindows<SharedFilesRescannedDialog>(window).value(0));
        }));
        if (c.settled) {
            QVERIFY(gui::WaitFor([&] { return shown && shown->windowHandle()->isExposed(); }));
            QTest::qWait(toUpdate ? 0 : 100); // IceWM activates a report as it maps it
            QVERIFY(desktop::WaitActive(window));
        }
        const WId id = shown->winId();
        const qsizetype opened = urls.Urls().size();
        WId active = id;
        QVERIFY(SwitchesAndPresses(shown, c.switching, c.after, c.stallMs,
            toUpdate ? QStringLiteral("Return space") : QStringLiteral("Return"),
            c.settled ? nullptr : &active));
        const bool loose = icewm && !c.settled;
        const auto answered = [&] { return toUpdate ? urls.Urls().size() == opened + 1 : !shown; };
        QVERIFY(active != id || gui::WaitFor(answered, loose ? 1000 : 10000) || loose);
        const QString left = active == window->winId() ? QString() : line;
        QVERIFY(gui::WaitFor([&] { return chat->chatEdit->text() == left; }));
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
    // The answer shows active, and Return closes it.
    const auto closedByReturn = [](QWidget* answer) {
        const QPointer<QWidget> shown = answer;
        return desktop::WaitActive(shown) && desktop::Keys(QStringLiteral("Return"))
            && gui::WaitFor([&] { return !shown; });
    };
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
    // The user presses Connect: the answer comes with the keyboard.
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(closedByReturn(box));
    session.StopServer();
    QVERIFY(session.RestartServer());
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());

    // The user's own rescan reports with the keyboard.
    QVERIFY(desktop::WaitActive(window));
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("rescan_shares"));
    QVERIFY(gui::WaitFor([&] { return !gui::OpenWindows<SharedFilesRescannedDialog>(window).isEmpty(); }));
    QVERIFY(closedByReturn(gui::OpenWindows<SharedFilesRescannedDialog>(window).first()));

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
    QVERIFY(closedByReturn(roomsForm->findChild<QMessageBox*>()));

    // A room the user is in already; the user double-clicks another in the
    // list: its tab comes to the front with the keyboard.
    TabWidget* rooms = roomsForm->roomsTabControl;
    const int tabs = rooms->count();
    roomsForm->EnterRoom(QStringLiteral("nook"), false);
    QVERIFY(gui::WaitFor([&] { return rooms->count() == tabs + 1; }));
    QVERIFY(desktop::WaitActive(window));
    gp_server->GetRoomList();
    QTableView* list = roomsForm->roomList;
    QModelIndex lounge;
    QVERIFY(gui::WaitFor([&] {
        for (int i = 0; i < list->model()->rowCount() && !lounge.isValid(); ++i)
            if (RoomListModel::Room(list->model()->index(i, 0)) == QLatin1String("lounge"))
                lounge = list->model()->index(i, 0);
        return lounge.isValid();
    }));
    list->scrollTo(lounge);
    QVERIFY(desktop::Click(list->viewport(), list->visualRect(lounge).center(), 2));
    QVERIFY(gui::WaitFor([&] { return rooms->count() == tabs + 2; }));
    auto* room = qobject_cast<RoomForm*>(rooms->currentWidget());
    QVERIFY(room && room->Room() == QLatin1String("lounge"));
    QVERIFY(gui::WaitFor([&] { return room->chatEdit->hasFocus(); }));
    QVERIFY(Reached(room->chatEdit, QStringLiteral("hi")));

    // The private room, refused as the client entered it again after a
    // reconnection: the box shows quietly. The user asks for the room at
    // once: the box now answers the user, and takes the keyboard however soon
    // after it showed, and the keys typed next.
    QVERIFY(TypingIn(input));
    input->clear();
    QVERIFY(Reached(input, QStringLiteral("up")));
    const int searches = searchForm->searchTabControl()->count();
    emit gp_server->CannotCreateRoom(QStringLiteral("den"));
    QMessageBox* refusal = roomsForm->findChild<QMessageBox*>();
    QVERIFY(refusal && refusal->isVisible() && refusal->text().contains(QLatin1String("den")));
    roomsForm->EnterRoom(QStringLiteral("den"), false);
    QVERIFY(closedByReturn(refusal));
    QCOMPARE(input->text(), QStringLiteral("up"));
    QCOMPARE(searchForm->searchTabControl()->count(), searches);
}

DESKTOP_TEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
