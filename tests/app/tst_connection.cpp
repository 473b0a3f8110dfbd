// The connection as the window shows it: a refused login, an abrupt loss of
// the server (and what the user asks for meanwhile) and the reconnection, the
// connect action, no server found; a stranger's first message arriving while
// the user types elsewhere; a listening port that another program holds
// when the window starts; a reconnection refused and the name logged in
// elsewhere, said where the user reconnects (also when a server says it, or
// its administrators' notice, behind a long backlog just before it closes;
// a line typed behind such a close is not taken as said).
// (The windows that the network and the timers open are tried on a real
// desktop, in the keyboard's test.)
#include "WidgetFunctions.h"
#include "gui/GuiTest.h"
#include "pages/browse/ShareForm.h"
#include "pages/chat/AdminMessageDialog.h"
#include "pages/browse/SharesForm.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultsForm.h"
#include "pages/users/AddUserDialog.h"
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ApplicationIcon.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "standin/WireWriter.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <sys/socket.h>

class TestConnection : public QObject {
    Q_OBJECT
    gui::Session session;
    // Other programs on the same machine: one on the port the user chose,
    // one on the upper port of the pair above it.
    QTcpServer otherProgram;
    QTcpServer nextPairHolder;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        // Six free ports in a row, below the range the system hands out, so
        // that no other test's connection takes one meanwhile.
        int base = 0;
        for (int port = 20000 + int(QCoreApplication::applicationPid() % 1500) * 6; !base && port < 32000;
             port += 6) {
            QTcpServer probes[6];
            base = port;
            for (int k = 0; k < 6 && base; ++k)
                base = probes[k].listen(QHostAddress::Any, quint16(port + k)) ? port : 0;
        }
        QVERIFY(base);
        QVERIFY(otherProgram.listen(QHostAddress::Any, quint16(base)));
        QVERIFY(nextPairHolder.listen(QHostAddress::Any, quint16(base + 3)));
        // Chosen in the port dialog on the last run; taken up at this start.
        Settings::CreateTypes();
        settings.Set("new_listening_port", otherProgram.serverPort());
    }
    // Every function after the first starts logged in as "holder", with the
    // server up, no other user's program running and no box open, whatever
    // the one before left: one fault shows as one failure.
    void init()
    {
        if (QTest::currentTestFunction() == QLatin1String("wrongPasswordShowsOneBoxAndDoesNotRetry"))
            return;
        session.StopDrivers();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w != session.Window() && qobject_cast<QDialog*>(w))
                w->close();
        settings.Set("password", "secret");
        if (!session.Window()) {
            QVERIFY(session.StartWindow(QStringLiteral("holder")));
            return;
        }
        if (gp_server->IsConnected())
            return;
        // A server that went, or that holds the name with another password,
        // starts afresh.
        session.StopServer();
        QVERIFY(session.RestartServer());
        session.Window()->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
        QVERIFY(session.WaitLoggedIn());
    }
    void wrongPasswordShowsOneBoxAndDoesNotRetry();
    void abruptLossShowsOfflineAndReconnects();
    void connectActionDisconnectsAndConnects();
    void failureReasonIsShownAsPlainText();
    void firstPrivateMessageLeavesTheTypingWhereItWas();
    void takenPortGivesWayToAnotherPairThatPeersReach();
    void refusedReconnectionTakesNoKeyAndSaysWhy();
    void nameLoggedInElsewhereSaysWhy();
};

namespace {

// The user types into the window: the keys go to whatever has the focus.
void TypeKeys(const QString& keys)
{
    QTest::keyClicks(QApplication::focusWidget(), keys);
}

bool Focused(QWidget* input)
{
    FocusWidget(input);
    QApplication::setActiveWindow(input->window());
    return QTest::qWaitForWindowActive(input->window()) && gui::WaitFor([input] { return input->hasFocus(); });
}

// Keys typed once a window came up elsewhere: they reach the input, which
// kept the focus.
bool KeysReach(QWidget* input, const QString& keys)
{
    QTest::qWait(100); // the activation that some desktops give a window as it is shown
    if (!gui::WaitFor([input] { return QApplication::focusWidget() == input; }, 5000))
        return false;
    TypeKeys(keys);
    return true;
}

} // namespace

void TestConnection::wrongPasswordShowsOneBoxAndDoesNotRetry()
{
    // The account exists with another password.
    DriverProcess* owner = session.StartDriver(QStringLiteral("holder"));
    QVERIFY(owner);
    owner->Send(QStringLiteral("disconnect"));
    QVERIFY(!owner->WaitFor(QStringLiteral("disconnected")).isEmpty());

    gui::ModalAnswerer answers;
    MainWindow* window = session.StartWindow(QStringLiteral("holder"), QStringLiteral("wrong"), false);
    QVERIFY(window);
    const QString title = QStringLiteral("Login Failure: Wrong Password");
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(title) == 1; }));
    QVERIFY(answers.Titled(title).text.startsWith(QStringLiteral("Login failed. The password you supplied")));
    // Nobody sees this client's status: the button does not claim one.
    QCOMPARE(actionBar->StatusButton()->text(), QStringLiteral("Offline"));
    // The reconnection timer does not try a refused login again.
    for (int i = 0; i < 3; ++i)
        gp_server->OnReconnectTimer();
    QTest::qWait(1500);
    QCOMPARE(answers.Seen().size(), 1);
    QVERIFY(!gp_server->IsConnected());
    QCOMPARE(applicationIcon->IconPath(), QStringLiteral(":/icons/offline_icon"));
}

void TestConnection::abruptLossShowsOfflineAndReconnects()
{
    QCOMPARE(applicationIcon->IconPath(), QStringLiteral(":/icons/online_icon"));

    gui::ModalAnswerer answers;
    // The user asks to add someone just as the server goes.
    QPointer<AddUserDialog> adding = new AddUserDialog(userListForm);
    adding->show();
    adding->UserNameEdit()->setText(QStringLiteral("latecomer"));
    adding->AddButton()->click();
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
    QVERIFY(gp_server->IsAbruptlyDisconnected());
    QVERIFY(gui::WaitFor([] { return applicationIcon->IconPath() == QLatin1String(":/icons/offline_icon"); }));
    // The dialog stops waiting for an answer that can't come, and whatever
    // else needs the server says where the user looks that it went nowhere.
    QCOMPARE(adding->StatusEdit()->text(),
        QStringLiteral("Lost the connection to the server: the user was not added."));
    QVERIFY(adding->AddButton()->isEnabled());
    adding->close();
    searchForm->searchEdit()->lineEdit()->setText(QStringLiteral("offline words"));
    QTest::keyClick(searchForm->searchEdit()->lineEdit(), Qt::Key_Return);
    TabWidget* results = searchForm->searchTabControl();
    QCOMPARE(results->count(), 1);
    auto* search = qobject_cast<SearchResultsForm*>(results->widget(0));
    QVERIFY(search && search->NoticeLabel() && search->NoticeLabel()->isVisibleTo(search));
    QVERIFY(search->NoticeLabel()->text().startsWith(
        QLatin1String("Not connected to the server: the search was not sent")));
    emit results->tabCloseRequested(0);
    // A room's name of any length is cut in the box.
    roomsForm->EnterRoom(QString(20000, QLatin1Char('r')), false);
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Not connected")) == 1; }));
    const QString notJoined = answers.Titled(QStringLiteral("Not connected")).text;
    QVERIFY(notJoined.contains(QLatin1String("was not joined")));
    QVERIFY(notJoined.size() < 1000);
    auto* browse = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("faraway")));
    auto* info = userListForm->GetUserInfoForm(QStringLiteral("faraway"))
                     ->findChild<QTextBrowser*>(QStringLiteral("userInfoText"));
    QVERIFY(browse && info);
    const QString unreachable
        = QStringLiteral("Not connected to the server, so the user could not be reached");
    QVERIFY(gui::WaitFor([&] { return browse->MessageBrowser()->toPlainText().contains(unreachable); }));
    QVERIFY(gui::WaitFor([&] { return info->toPlainText().startsWith(unreachable); }));
    // A try while the server is still away fails quietly.
    gp_server->OnReconnectTimer();
    QTest::qWait(500);

    QVERIFY(session.RestartServer());
    gp_server->OnReconnectTimer(); // the half-minute timer, without the wait
    QVERIFY(session.WaitLoggedIn());
    QCOMPARE(applicationIcon->IconPath(), QStringLiteral(":/icons/online_icon"));
    QCOMPARE(actionBar->StatusButton()->text(), QStringLiteral("Available"));
    // The one box is the refused join's; the user's own Add User dialog may
    // have been seen too.
    QCOMPARE(answers.CountTitled(QStringLiteral("Not connected")), 1);
    QCOMPARE(std::count_if(answers.Seen().begin(), answers.Seen().end(),
                 [](const gui::SeenBox& box) { return box.className == QLatin1String("QMessageBox"); }),
        1);
}

void TestConnection::connectActionDisconnectsAndConnects()
{
    gui::ModalAnswerer answers;
    MainWindow* window = session.Window();
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
    QVERIFY(!gp_server->IsAbruptlyDisconnected());
    // No server at the address: the box names it and where it is set.
    session.StopServer();
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Login Failure")) == 1; }));
    const QString text = answers.Titled(QStringLiteral("Login Failure")).text;
    QVERIFY2(text.contains(qEnvironmentVariable("MARROWBY_SERVER") + QStringLiteral(". The client takes"))
            && text.contains(QStringLiteral("variable MARROWBY_SERVER"))
            && !text.contains(QStringLiteral("Options")),
        qPrintable(text));
    QVERIFY(session.RestartServer());
    // Changing the name is refused only while logged in.
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("set_user_pass"));
    QVERIFY(gui::WaitFor([&] { return !window->findChildren<QDialog*>().isEmpty(); }));
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("set_user_pass"));
    QCOMPARE(answers.CountTitled(QStringLiteral("Cannot change username while online")), 1);
    for (QDialog* dialog : window->findChildren<QDialog*>())
        dialog->reject();
}

void TestConnection::failureReasonIsShownAsPlainText()
{
    // A reason the server chose, while no reconnection is pending.
    gui::ModalAnswerer answers;
    Qt::TextFormat format = Qt::AutoText;
    answers.Add(gui::OnDialog("QMessageBox", [&](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        format = box->textFormat();
        box->accept();
    }));
    // Markup, and a control that would run the rest of the box backwards.
    const QString reason = QString::fromUtf16(u"<b>BANNED</b> rtl\u202ELIVE.exe");
    emit gp_server->ConnectionFailed(reason);
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Login Failure")) == 1; }));
    const QString text = answers.Titled(QStringLiteral("Login Failure")).text;
    QVERIFY(text.contains(QStringLiteral("reason: ") + IsolatedText(reason) + QStringLiteral(". Please")));
    QVERIFY(gui::ShowsIsolated(text, reason));
    QCOMPARE(format, Qt::PlainText);
    QVERIFY(gui::ShowsIsolated(session.Window()->Ui().offlineReasonLabel->text(), reason));
}

void TestConnection::firstPrivateMessageLeavesTheTypingWhereItWas()
{
    QVERIFY(session.WaitLoggedIn());
    QTemporaryDir music;
    QFile tune(music.filePath(QStringLiteral("marrowfish tune.mp3")));
    QVERIFY(tune.open(QIODevice::WriteOnly));
    tune.write(QByteArray(2000, 'x'));
    tune.close();
    DriverProcess* stranger = session.StartDriver(QStringLiteral("stranger"));
    QVERIFY(stranger);
    stranger->Send(QStringLiteral("share-folder ") + music.path());
    stranger->Send(QStringLiteral("wait-shares"));
    QVERIFY(!stranger->WaitFor(QStringLiteral("shares-ready")).isEmpty());

    // The user is on the Search page, typing into the search box; no private
    // chat is open.
    MainWindow* window = session.Window();
    Ui_MainWindow& ui = window->Ui();
    QTabWidget* chats = chatsForm->chatTabControl;
    QCOMPARE(chats->count(), 0);
    FocusWidget(searchForm->searchEdit());
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTRY_VERIFY(searchForm->searchEdit()->hasFocus());
    const auto type = [](const QString& keys) { QTest::keyClicks(QApplication::focusWidget(), keys); };
    type(QStringLiteral("marrow"));

    stranger->Send(QStringLiteral("message holder are you there?"));
    QVERIFY(gui::WaitFor([&] { return chats->count() == 1; }));
    auto* chat = qobject_cast<ChatForm*>(chats->widget(0));
    QVERIFY(chat);
    QVERIFY(gui::WaitFor(
        [&] { return chat->chatView->toPlainText().contains(QLatin1String("are you there?")); }));
    // The chat's tab is current on a page the user does not see: it takes
    // neither the keyboard nor the tool bar.
    QCOMPARE(ui.tabControl->currentWidget(), ui.searchTab);
    QVERIFY(searchForm->searchEdit()->hasFocus());
    QVERIFY(actionBar->CurrentSet() != QLatin1String("user_chat"));

    type(QStringLiteral("fish"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    // The search is made and the stranger's file comes back; the bar shows
    // the results' actions.
    TabWidget* results = searchForm->searchTabControl();
    QVERIFY(gui::WaitFor([&] { return results->count() == 1; }));
    QCOMPARE(results->tabText(0), IsolatedText(QStringLiteral("marrowfish")));
    auto* form = qobject_cast<SearchResultsForm*>(results->widget(0));
    QVERIFY(form);
    QVERIFY(gui::WaitFor([&] { return form->searchResults()->topLevelItemCount() == 1; }));
    QVERIFY(gui::WaitFor([] { return actionBar->CurrentSet() == QLatin1String("search_results"); }));
    QVERIFY(chat->chatEdit->text().isEmpty());

    // Nothing went to the stranger: the first private message it gets is the
    // one the user now writes in the chat.
    chat->chatEdit->setText(QStringLiteral("hello stranger"));
    QTest::keyClick(chat->chatEdit, Qt::Key_Return);
    QCOMPARE(stranger->WaitFor(QStringLiteral("private-message ")),
        QStringLiteral("private-message holder hello stranger"));

    // On the Chat page with no chat open, the first message of another
    // stranger opens a tab that does not take the keyboard either.
    emit chats->tabCloseRequested(0);
    ui.tabControl->setCurrentWidget(ui.chatTab);
    DriverProcess* other = session.StartDriver(QStringLiteral("other"));
    QVERIFY(other);
    other->Send(QStringLiteral("message holder hi"));
    QVERIFY(gui::WaitFor([&] { return chats->count() == 1; }));
    chat = qobject_cast<ChatForm*>(chats->widget(0));
    QVERIFY(chat && chat->isVisible());
    QVERIFY(QApplication::focusWidget() != chat->chatEdit);
    if (QApplication::focusWidget()) {
        type(QStringLiteral("typed elsewhere"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    QVERIFY(chat->chatEdit->text().isEmpty());
    chat->chatEdit->setText(QStringLiteral("hello other"));
    QTest::keyClick(chat->chatEdit, Qt::Key_Return);
    QCOMPARE(other->WaitFor(QStringLiteral("private-message ")),
        QStringLiteral("private-message holder hello other"));
}

void TestConnection::takenPortGivesWayToAnotherPairThatPeersReach()
{
    QVERIFY(session.WaitLoggedIn());
    const quint16 taken = otherProgram.serverPort();
    // This run listens on the nearest whole free pair above; the user's
    // choice stays for the next.
    const quint16 port = peerMessenger->ListeningPort();
    QCOMPARE(int(port), taken + 4);
    QCOMPARE(peerMessenger->ObfuscatedListeningPort(), port + 1);
    QCOMPARE(settings.GetInt("listening_port"), int(taken));
    Ui_MainWindow& ui = session.Window()->Ui();
    QCOMPARE(ui.listeningPortEdit->text(), QString::number(taken));
    // The Login page and the diagnostics log say which port was taken and
    // which are used.
    QVERIFY(!ui.listeningProblemLabel->isHidden());
    const QString note = ui.listeningProblemLabel->text();
    QVERIFY2(
        note.startsWith(QStringLiteral("Port %1 is in use by another program").arg(taken)), qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("ports %1 and %2").arg(port).arg(port + 1)), qPrintable(note));
    const auto lines = LogSink::Instance().AreaLines(QStringLiteral("Peer Messenger"));
    QVERIFY(std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) { return line.text == note; }));

    // A peer downloads a file of ours: the server sent it to a port we hold.
    QTemporaryDir shared;
    QFile file(shared.filePath(QStringLiteral("offer.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(200 * 1024, 'o'));
    file.close();
    sharedFoldersManager->AddSharedFolder(shared.path()).NewItem("shared_public");
    QVERIFY(gui::WaitFor(
        [] { return !sharedFoldersManager->IsScanning() && d.GetType("shared_file")->Count() == 1; }));
    DriverProcess* taker = session.StartDriver(QStringLiteral("taker"));
    QVERIFY(taker);
    const QString remote = QString(shared.path()).replace(QLatin1Char('/'), QLatin1Char('\\'));
    taker->Send(QStringLiteral("download holder %1 %2\\offer.bin").arg(200 * 1024).arg(remote));
    QCOMPARE(taker->WaitFor(QStringLiteral("complete-download "), 60000),
        QStringLiteral("complete-download holder offer.bin %1").arg(200 * 1024));
    // Nobody was sent to the other program.
    QVERIFY(!otherProgram.hasPendingConnections());
}

void TestConnection::refusedReconnectionTakesNoKeyAndSaysWhy()
{
    MainWindow* window = session.Window();
    Ui_MainWindow& ui = window->Ui();
    ChatForm* chat = chatsForm->GetChatForm(QStringLiteral("friend"));
    QVERIFY(Focused(chat->chatEdit));
    TypeKeys(QStringLiteral("ab"));

    // The server restarts, and the name is taken with another password before
    // the client is back: the reconnection is refused.
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return gp_server->IsAbruptlyDisconnected(); }));
    QVERIFY(session.RestartServer());
    DriverProcess* taker
        = session.StartDriver(QStringLiteral("holder"), { QStringLiteral("--password"), QStringLiteral("other") });
    QVERIFY(taker);
    taker->Send(QStringLiteral("disconnect"));
    QVERIFY(!taker->WaitFor(QStringLiteral("disconnected")).isEmpty());
    gui::ModalAnswerer answers;
    bool waited = false; // a box that waits would take the next keys
    answers.Add(gui::OnDialog("QMessageBox", [&](QWidget* box) {
        if ((waited = box->isModal()))
            static_cast<QMessageBox*>(box)->accept();
    }));
    gp_server->OnReconnectTimer();
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Login Failure: Wrong Password")); }));
    QVERIFY(!waited);
    QVERIFY(KeysReach(chat->chatEdit, QStringLiteral(" cd")));
    QCOMPARE(chat->chatEdit->text(), QStringLiteral("ab cd"));
    QVERIFY(!QApplication::activeModalWidget());
    auto* box = window->findChild<QMessageBox*>();
    QVERIFY(box && box->isVisible() && QApplication::activeWindow() == window);

    // The Login page, where the user connects again, says why until then.
    const QString why = QStringLiteral("the server refused the login, as the password does not match");
    QVERIFY2(ui.offlineReasonLabel->text().contains(why), qPrintable(ui.offlineReasonLabel->text()));
    FocusWidget(ui.loginOptionsTab);
    QVERIFY(ui.offlineReasonLabel->isVisible());
    gp_server->OnReconnectTimer();
    QTest::qWait(300);
    QVERIFY(ui.offlineReasonLabel->isVisible());
    session.StopServer(); // forgets the taken name
    QVERIFY(session.RestartServer());
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());
    QVERIFY(!ui.offlineReasonLabel->isVisible());

    // The box left open: the next refused reconnection says so in it.
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return gp_server->IsAbruptlyDisconnected(); }));
    QVERIFY(session.RestartServer());
    taker->Send(QStringLiteral("connect"));
    QVERIFY(!taker->WaitFor(QStringLiteral("connected")).isEmpty());
    taker->Send(QStringLiteral("disconnect"));
    QVERIFY(!taker->WaitFor(QStringLiteral("disconnected")).isEmpty());
    gp_server->OnReconnectTimer();
    QVERIFY(gui::WaitFor([&] { return ui.offlineReasonLabel->text().contains(why); }));
    QCOMPARE(window->findChildren<QMessageBox*>(), QList<QMessageBox*> { box });
    QVERIFY(box->isVisible());
    QCOMPARE(answers.CountTitled(QStringLiteral("Login Failure: Wrong Password")), 1);
}

void TestConnection::nameLoggedInElsewhereSaysWhy()
{
    MainWindow* window = session.Window();
    Ui_MainWindow& ui = window->Ui();
    QVERIFY(session.WaitLoggedIn());
    QVERIFY(session.StartDriver(QStringLiteral("holder")));
    QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
    gp_server->OnReconnectTimer(); // no fight over the name
    QTest::qWait(300);
    QVERIFY(!gp_server->IsConnected());
    FocusWidget(ui.loginOptionsTab);
    QVERIFY(ui.offlineReasonLabel->isVisible());
    QVERIFY2(ui.offlineReasonLabel->text().contains(QLatin1String("the same user name logged in elsewhere")),
        qPrintable(ui.offlineReasonLabel->text()));
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());
    QVERIFY(!ui.offlineReasonLabel->isVisible());
    // Logged in here again, a later plain loss is a lost connection, and the
    // client reconnects by itself.
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
    QVERIFY(!gp_server->LoggedInElsewhere());
    QVERIFY(gui::WaitFor([&] { return ui.offlineReasonLabel->isVisible(); }));
    QVERIFY2(!ui.offlineReasonLabel->text().contains(QLatin1String("elsewhere")), qPrintable(ui.offlineReasonLabel->text()));
    QVERIFY(session.RestartServer());
    gp_server->OnReconnectTimer();
    QVERIFY(session.WaitLoggedIn());

    // A server that closes right after 20,000 frames (handled over many
    // turns) and its last word: the administrators' notice is shown, then
    // the loss is counted; the name logged in elsewhere is said, and no login
    // follows.
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return gp_server->IsAbruptlyDisconnected(); }));
    QTcpServer fake;
    QVERIFY(fake.listen(QHostAddress::LocalHost, gp_server->Port()));
    const auto frame = [](quint32 code, const WireWriter& body = {}) {
        return WireWriter().u32(quint32(body.data().size() + 4)).u32(code).bytes(body.data()).data();
    };
    // The crowd's frames take a sanitizer build on a busy machine tens of seconds.
    constexpr int kCrowdMs = 180000;
    QByteArray crowd = frame(1, WireWriter().boolean(true).str("hi").ip(1).str("").boolean(false));
    for (int i = 0; i < 20000; ++i)
        crowd += frame(7, WireWriter().str("c" + QByteArray::number(i)).u32(2).boolean(false));
    const auto serve = [&](const QByteArray& last) {
        gp_server->OnReconnectTimer();
        QTcpSocket* link = gui::WaitFor([&] { return fake.hasPendingConnections(); })
            ? fake.nextPendingConnection()
            : nullptr;
        if (!link || !gui::WaitFor([&] { return link->bytesAvailable() > 0; })) // the login
            return false;
        link->write(crowd + last);
        // Shut down after the last byte, reading on: a socket closed with the
        // client's bytes unread would be reset, its unsent bytes lost.
        return gui::WaitFor([&] { return link->bytesToWrite() == 0; }, kCrowdMs)
            && ::shutdown(int(link->socketDescriptor()), SHUT_WR) == 0;
    };
    QVERIFY(serve(frame(66, WireWriter().str("Down for maintenance"))));
    QVERIFY(gui::WaitFor([&] { return gui::OpenWindows<AdminMessageDialog>(window).size() == 1; }, kCrowdMs));
    QVERIFY(gui::WaitFor([] { return gp_server->IsAbruptlyDisconnected() && !gp_server->IsConnected(); }));

    // The close comes behind frames still to be handled: a line typed as the
    // login is handled (logged in, the close known) is not taken as said.
    ChatForm* chat = chatsForm->GetChatForm(QStringLiteral("friend"));
    const qsizetype notSent = chat->chatView->toPlainText().count(QLatin1String("not sent"));
    const auto typing = connect(gp_server, &Server::Connected, chat, [&] {
        chat->chatEdit->setText(QStringLiteral("still there?"));
        QTest::keyClick(chat->chatEdit, Qt::Key_Return);
    });
    QSignalSpy lost(gp_server, &Server::Disconnected);
    gp_server->OnReconnectTimer();
    QVERIFY(gui::WaitFor([&] { return fake.hasPendingConnections(); }));
    QTcpSocket* link = fake.nextPendingConnection();
    QVERIFY(gui::WaitFor([&] { return link->bytesAvailable() > 0; }));
    // All of it and the close are with the client before it reads a byte.
    const QByteArray behind = crowd.left(crowd.indexOf(frame(7, WireWriter().str("c100").u32(2).boolean(false))));
    QCOMPARE(::send(int(link->socketDescriptor()), behind.constData(), size_t(behind.size()), MSG_NOSIGNAL),
        ssize_t(behind.size()));
    QCOMPARE(::shutdown(int(link->socketDescriptor()), SHUT_WR), 0);
    QVERIFY(gui::WaitFor([&] { return lost.size() == 1; }, kCrowdMs));
    disconnect(typing);
    QCOMPARE(chat->chatEdit->text(), QStringLiteral("still there?"));
    QCOMPARE(chat->chatView->toPlainText().count(QLatin1String("not sent")), notSent + 1);
    QVERIFY(!chat->chatView->toPlainText().contains(QLatin1String("still there?")));

    QVERIFY(serve(frame(41)));
    QVERIFY(gui::WaitFor([] { return gp_server->LoggedInElsewhere(); }, kCrowdMs));
    gp_server->OnReconnectTimer();
    QTest::qWait(300);
    QVERIFY(!fake.hasPendingConnections() && !gp_server->IsConnected());
    QVERIFY(ui.offlineReasonLabel->text().contains(QLatin1String("the same user name logged in elsewhere")));
}

GUI_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
