// The program: one instance per user, the main window, the event loop. A
// second start of the same user brings the first one's window forward, says
// so in one line on standard output and exits with status 0.
//
// A termination signal (SIGTERM, SIGINT, as at system shutdown) ends the
// program without closing the window: the event loop returns and the
// window's destructor saves the data file, logging a failure, since nobody
// may be there to answer a question. The handler only writes a byte to a
// pipe; the event loop reads it, so a signal caught during the start-up ends
// the program once the start-up is through.
#include "Application.h"
#include "MainWindow.h"
#include "shell/Kit.h"
#include "store/DataSaver.h"
#include <QSocketNotifier>
#include <QStyleFactory>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = { -1, -1 };
bool g_terminated = false;

void OnTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Caught from the first moment, before the program makes itself known to a
// second start (the instance socket): a signal that comes during the start-up
// waits in the pipe for the first event loop.
void CatchTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void QuitOnTerminationSignals(QObject* context)
{
    if (g_signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        // exit() ends every running loop, the modal ones of the start-up
        // included (quit() would do nothing before the main loop runs).
        g_terminated = true;
        QCoreApplication::exit(0);
    });
}

} // namespace

int main(int argc, char** argv)
{
    CatchTerminationSignals();
    Application app(argc, argv);
    if (app.IsRunning()) {
        // A second start only hands over: a signal ends it at once.
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        // Said on the terminal: the window that comes forward may be on
        // another desktop or under other windows, and a start that only
        // exits looks as if nothing happened.
        if (app.SendMessage(QStringLiteral("activate")))
            std::fputs(
                "Marrowby is already running for this user: its window was brought to the front.\n", stdout);
        else
            std::fputs("Marrowby is already running for this user, but it did not answer.\n", stderr);
        return 0;
    }
    // The data file is read while the window is built.
    DataSaver::Prefetch(MainWindow::DataFilePath());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InitShellResources();
    QuitOnTerminationSignals(&app);

    auto* window = new MainWindow();
    app.SetSaveHandler([window] { window->TrySaveData(QStringLiteral("logout")); });
    QObject::connect(&app, &Application::MessageReceived, window, [window] {
        window->showNormal();
        window->raise();
        window->activateWindow();
    });
    window->show();
    window->Init();
    // A signal during the start-up dialogs already ended every loop.
    const int rc = g_terminated ? 0 : app.exec();
    app.SetSaveHandler(nullptr);
    delete window;
    return rc;
}
