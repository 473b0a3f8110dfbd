// The connection as the window shows it: a refused login, an abrupt loss of
// the server and the reconnection, the connect action.
#include "gui/GuiTest.h"
#include "server/Server.h"
#include "shell/ApplicationIcon.h"
#include "store/Settings.h"

class TestConnection : public QObject {
    Q_OBJECT
    gui::Session session;

private slots:
    void initTestCase() { QVERIFY(session.Prepare()); }
    void wrongPasswordShowsOneBoxAndDoesNotRetry();
    void abruptLossShowsOfflineAndReconnects();
    void connectActionDisconnectsAndConnects();
    void failureReasonIsShownAsPlainText();
};

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
    QVERIFY(answers.Seen().first().text.startsWith(QStringLiteral("Login failed. The password you supplied")));
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
    settings.Set("password", "secret");
    session.Window()->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());
    QCOMPARE(applicationIcon->IconPath(), QStringLiteral(":/icons/online_icon"));

    gui::ModalAnswerer answers;
    session.StopServer();
    QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
    QVERIFY(gp_server->IsAbruptlyDisconnected());
    QVERIFY(gui::WaitFor([] { return applicationIcon->IconPath() == QLatin1String(":/icons/offline_icon"); }));
    // A try while the server is still away fails quietly.
    gp_server->OnReconnectTimer();
    QTest::qWait(500);

    QVERIFY(session.RestartServer());
    gp_server->OnReconnectTimer(); // the half-minute timer, without the wait
    QVERIFY(session.WaitLoggedIn());
    QCOMPARE(applicationIcon->IconPath(), QStringLiteral(":/icons/online_icon"));
    QCOMPARE(answers.Seen().size(), 0);
}

void TestConnection::connectActionDisconnectsAndConnects()
{
    gui::ModalAnswerer answers;
    MainWindow* window = session.Window();
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
    QVERIFY(!gp_server->IsAbruptlyDisconnected());
    // Changing the name is refused only while logged in.
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("set_user_pass"));
    QVERIFY(gui::WaitFor([&] { return !window->findChildren<QDialog*>().isEmpty(); }));
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("connect_disconnect"));
    QVERIFY(session.WaitLoggedIn());
    window->OnToolBarActionTriggered(nullptr, QStringLiteral("set_user_pass"));
    QCOMPARE(answers.CountTitled(QStringLiteral("Cannot change username while online")), 1);
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
    emit gp_server->ConnectionFailed(QStringLiteral("<b>BANNED</b>"));
    QCOMPARE(answers.CountTitled(QStringLiteral("Login Failure")), 1);
    QVERIFY(answers.Seen().first().text.contains(QStringLiteral("reason: <b>BANNED</b>.")));
    QCOMPARE(format, Qt::PlainText);
}

GUI_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
