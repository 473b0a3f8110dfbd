#pragma once
// The shared fixture of the window's tests: the real main window, offscreen,
// logged in to the stand-in server, with headless drivers as other users.
//
// A test executable holds one main window (the store and the managers are
// single instances per process). A typical test:
//
//     #include "gui/GuiTest.h"
//     class TestMyPage : public QObject {
//         Q_OBJECT
//         gui::Session session;
//     private slots:
//         void initTestCase()
//         {
//             QVERIFY(session.Prepare());                  // temp HOME, stand-in server
//             QVERIFY(session.StartWindow(QStringLiteral("alice")));  // stored user, logged in
//         }
//         void browse()
//         {
//             DriverProcess* bob = session.StartDriver(QStringLiteral("bob"));
//             QVERIFY(bob);
//             bob->Send(QStringLiteral("share-folder /tmp/x"));
//             QVERIFY(!bob->WaitFor(QStringLiteral("shares-ready")).isEmpty());
//             ... drive the window: session.Window()->Ui().sharesForm ...
//             QVERIFY(gui::WaitFor([&] { return ...; }));
//         }
//     };
//     GUI_TEST_MAIN(TestMyPage)
//     #include "tst_mypage.moc"
//
// and in the test folder's CMakeLists.txt: marrowby_tests("guitest").
//
// Addresses handed to the desktop are kept by a gui::UrlCatcher.
//
// Modal boxes and dialogs are answered by a ModalAnswerer: give it handlers in
// the order the boxes will appear; every box it sees is recorded, and a message
// box that no handler takes is dismissed with its default button.
//
//     gui::ModalAnswerer answers;
//     answers.Add(gui::PressButton(QMessageBox::Yes));
//     ... the code that shows the box ...
//     QVERIFY(gui::WaitFor([&] { return answers.Seen().size() == 1; }));
//
// First start (no user stored): session.StartWindow({}) runs the first-start
// dialogs, so add handlers for them before (FillUserDialog, PressButton...).
//
// A restart needs a second process: register a role and run it in a child of
// the same test executable, which sees the same HOME and server:
//
//     GUI_CHILD_ROLE(verify_restart) { ... return 0 on success; }
//     QCOMPARE(session.RunChild("verify_restart"), 0);
#include "MainWindow.h"
#include "peers/helper_peers.h"
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace gui {

// Runs the event loop until pred() holds or ms pass.
bool WaitFor(const std::function<bool()>& pred, int ms = 15000);

class Session {
public:
    Session();
    ~Session();

    // A temporary HOME (or the given one) and a stand-in server on a free port;
    // HOME and MARROWBY_SERVER point at them. A child started by RunChild
    // reuses both. The server's extra arguments (such as a short
    // "--wishlist-period") are kept for RestartServer.
    bool Prepare(const QStringList& serverArgs = {});
    // The main window, shown and initialised. With a user name, the name and
    // password are stored first (and UPnP switched off) and it waits until
    // logged in (unless wait is false); with an empty name the first-start
    // dialogs run (answer them with a ModalAnswerer made before).
    MainWindow* StartWindow(
        const QString& user, const QString& password = QStringLiteral("secret"), bool wait = true);
    MainWindow* Window() const { return m_window; }
    // Closes and destroys the window as the program does at its end (the final
    // save runs).
    void CloseWindow();
    bool WaitLoggedIn(int ms = 15000);

    // A headless client logged in as the user, in a HOME of its own.
    DriverProcess* StartDriver(const QString& user, const QStringList& args = {});
    // Ends every driver started so far.
    void StopDrivers() { m_drivers.clear(); }
    StandinServer& Server() { return *m_server; }
    // Stops the stand-in (an abrupt loss for every client) and starts it again
    // on the same port.
    void StopServer();
    bool RestartServer();
    QString Home() const;

    // Runs this executable again with the role, in this HOME or the given
    // one; its exit code (-1 when it did not end within ms). The child's
    // output goes to this one's.
    int RunChild(const char* role, int ms = 60000, const QString& home = QString());

private:
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<StandinServer> m_server;
    quint16 m_port = 0;
    QStringList m_serverArgs;
    std::vector<std::unique_ptr<DriverProcess>> m_drivers;
    MainWindow* m_window = nullptr;
};

// What a modal box or dialog showed.
struct SeenBox {
    QString className;
    QString title;
    QString text;
};

// Answers boxes and dialogs as they appear, on a timer.
class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    // Returns true when it took the widget (then it is not offered again).
    using Handler = std::function<bool(QWidget*)>;
    ModalAnswerer();
    void Add(Handler handler) { m_handlers.push_back(std::move(handler)); }
    const QList<SeenBox>& Seen() const { return m_seen; }
    int CountTitled(const QString& title) const;
    // The last box seen with the title (an empty one when none was): other
    // boxes may come and go meanwhile, so a check names the box it means.
    SeenBox Titled(const QString& title) const;
    bool Pending() const { return !m_handlers.empty(); }

private:
    void Poll();
    std::vector<Handler> m_handlers;
    QList<SeenBox> m_seen;
    QList<QPointer<QWidget>> m_known;
};

// Handlers.
ModalAnswerer::Handler PressButton(QMessageBox::StandardButton button);
// The user-name dialog: fills both fields and presses OK.
ModalAnswerer::Handler FillUserDialog(const QString& user, const QString& password);
// Any dialog of the class: calls f with it (f decides and closes it).
ModalAnswerer::Handler OnDialog(const char* className, std::function<void(QWidget*)> f);

// Stands in for the desktop while it lives: keeps every address (web pages,
// files and folders, any other scheme a page hands over) that the window asks
// the desktop to open, so that nothing starts outside the test.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;
    const QList<QUrl>& Urls() const { return m_urls; }
public slots:
    void Open(const QUrl& url) { m_urls.append(url); }

private:
    QList<QUrl> m_urls;
};

// Shown text that holds a peer's text made harmless: direction-isolated, with
// no control left that could turn it backwards (the "rtl\u202E..." names),
// and on one line: no line break of its own could hide what follows it.
bool ShowsIsolated(const QString& shown, const QString& raw);

// Child roles.
using RoleFunction = int (*)();
struct ChildRole {
    ChildRole(const char* name, RoleFunction f);
};
// Runs the role named in the environment, if any; true when it did (rc set).
bool RunChildRole(int& rc);
// Style and resources as the program sets them.
void PrepareApplication();

// The shown windows of the class among the window's children.
template <class W> QList<QWidget*> OpenWindows(QWidget* window)
{
    QList<QWidget*> open;
    for (QWidget* w : window->findChildren<W*>())
        if (w->isVisible())
            open.append(w);
    return open;
}

} // namespace gui

#define GUI_CHILD_ROLE(name)                                                                                         \
    static int name##_role();                                                                                        \
    static gui::ChildRole name##_registration(#name, &name##_role);                                                  \
    static int name##_role()

// The test's main; `first` runs before the QApplication is made.
#define GUI_TEST_MAIN_AFTER(TestObject, first)                                                                       \
    int main(int argc, char** argv)                                                                                  \
    {                                                                                                                \
        first;                                                                                                       \
        QApplication app(argc, argv);                                                                                \
        gui::PrepareApplication();                                                                                   \
        int rc = 0;                                                                                                  \
        if (gui::RunChildRole(rc))                                                                                   \
            return rc;                                                                                               \
        TestObject tc;                                                                                               \
        return QTest::qExec(&tc, argc, argv);                                                                        \
    }

#define GUI_TEST_MAIN(TestObject) GUI_TEST_MAIN_AFTER(TestObject, )
