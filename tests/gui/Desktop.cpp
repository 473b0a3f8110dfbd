#include "Desktop.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The X server and the window manager: ended with the test, however it ends
// (a crash included: the kernel tells them when their parent dies).
struct Children {
    pid_t server = 0;
    pid_t manager = 0;
    QTemporaryDir home; // the window manager's, with its settings
    void End()
    {
        for (pid_t* pid : { &manager, &server }) {
            if (*pid > 0) {
                if (::kill(-*pid, SIGTERM) != 0)
                    ::kill(*pid, SIGTERM);
                ::waitpid(*pid, nullptr, 0);
            }
            *pid = 0;
        }
    }
    ~Children() { End(); }
};
Children children;

// The window managers the scenarios run under, each in that home: nothing
// but the file written here pins its settings.
struct Manager {
    const char* name;
    const char* program;
    QList<QByteArray> args;
    const char* file;
    const char* text;
    const char* started = nullptr; // the window manager, where another program starts it
};
const Manager kManagers[] = {
    // New windows take the keyboard unless they ask not to; a click on a
    // window focuses it.
    { "openbox", "openbox", {}, "openbox/rc.xml",
        "<openbox_config xmlns=\"http://openbox.org/3.4/rc\"><focus><focusNew>yes</focusNew>"
        "<followMouse>no</followMouse><focusLast>yes</focusLast></focus><mouse>"
        "<context name=\"Client\"><mousebind button=\"Left\" action=\"Press\">"
        "<action name=\"Focus\"/><action name=\"Raise\"/></mousebind></context></mouse></openbox_config>\n" },
    // A rescan's report, once active, keeps the keyboard against every
    // request of the program's own (focus protection at its strictest): the
    // hand-back is refused, as KWin does now and then under its defaults.
    { "kwin", "kwin_x11", {}, "kwinrulesrc",
        "[General]\ncount=1\nrules=1\n[1]\ntitle=Shared Files Rescanned\ntitlematch=1\n"
        "fpplevel=4\nfpplevelrule=2\n" },
    // KWin as it comes: focus stealing prevention low.
    { "kwin_default", "kwin_x11", {}, "kwinrc", "[Windows]\nFocusStealingPreventionLevel=1\n" },
    { "metacity", "metacity", { "--sm-disable", "--no-composite" }, nullptr, nullptr },
    // xfwm4 reads its settings through a session bus of its own; they are
    // its defaults (new windows focused, no focus stealing prevention).
    { "xfwm4", "dbus-run-session", { "--", "xfwm4", "--compositor=off" },
        "xfce4/xfconf/xfce-perchannel-xml/xfwm4.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel name=\"xfwm4\" version=\"1.0\">"
        "<property name=\"general\" type=\"empty\"><property name=\"click_to_focus\" type=\"bool\" "
        "value=\"true\"/><property name=\"focus_new\" type=\"bool\" value=\"true\"/><property "
        "name=\"prevent_focus_stealing\" type=\"bool\" value=\"false\"/><property name=\"use_compositing\" "
        "type=\"bool\" value=\"false\"/></property></channel>\n",
        "xfwm4" },
    // Every window it maps gets the keyboard, dialogs included.
    { "icewm", "icewm", {}, "preferences",
        "FocusOnMapTransient=1\nFocusOnMapTransientActive=0\nShowTaskBar=0\n" },
};

// Starts the program with the arguments and the variables (NAME=value, or
// NAME to leave it unset); `keepFd` stays open in the child, its output goes
// to the file `log` if one is named.
pid_t Spawn(const QByteArray& program, const QList<QByteArray>& args, int keepFd = -1,
    const QList<QByteArray>& variables = {}, const QByteArray& log = {})
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        if (pid > 0)
            ::setpgid(pid, pid); // before it can start anything
        return pid;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::setpgid(0, 0); // what it starts in turn ends with it
    if (::getppid() != parent)
        ::_exit(127);
    // The test's output stays the test's.
    const int null = ::open("/dev/null", O_RDWR);
    const int output = log.isEmpty() ? null : ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(null, 0);
    ::dup2(output, 1);
    ::dup2(output, 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            ::close(fd);
    for (const QByteArray& variable : variables)
        ::putenv(const_cast<char*>(variable.constData()));
    std::vector<char*> argv { const_cast<char*>(program.constData()) };
    for (const QByteArray& arg : args)
        argv.push_back(const_cast<char*>(arg.constData()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

bool Missing(const char* program)
{
    if (!QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
        return false;
    std::fprintf(
        stderr, "desktop: %s is not installed (bash scripts/deps.sh --tests installs it)\n", program);
    return true;
}

// Runs a helper program to its end while the window goes on handling events
// (after `meanwhile`, which runs once it has started).
bool Run(const QString& program, const QStringList& args, QString* output = nullptr,
    const std::function<void()>& meanwhile = {})
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        std::fprintf(stderr, "desktop: %s did not start\n", qPrintable(program));
        return false;
    }
    if (meanwhile)
        meanwhile();
    if (!gui::WaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
        process.kill();
        process.waitForFinished(3000);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "desktop: %s %s failed: %s\n", qPrintable(program), qPrintable(args.join(' ')),
            process.readAllStandardError().constData());
        return false;
    }
    return true;
}

bool Xdotool(const QStringList& args, const std::function<void()>& meanwhile = {})
{
    return Run(QStringLiteral("xdotool"), args, nullptr, meanwhile);
}

// The window manager is up once it has put its mark on the root window.
bool ManagerReady(const QByteArray& display)
{
    const QByteArray command = "xprop -display " + display + " -root _NET_SUPPORTING_WM_CHECK 2>/dev/null";
    FILE* pipe = ::popen(command.constData(), "r");
    if (!pipe)
        return false;
    char line[256] = {};
    const bool ready = std::fgets(line, sizeof line, pipe) && std::strstr(line, "window id");
    ::pclose(pipe);
    return ready;
}

} // namespace

namespace gui::desktop {

// Starts the X server and the window manager once.
static bool Launch(const Manager* manager)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        return false;
    children.server = Spawn("Xvfb",
        { "-displayfd", QByteArray::number(pipe[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp" },
        pipe[1]);
    ::close(pipe[1]);
    // The server writes the number it took once it listens.
    QByteArray number;
    pollfd ready { pipe[0], POLLIN, 0 };
    char c = 0;
    while (::poll(&ready, 1, 20000) == 1 && ::read(pipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipe[0]);
    if (number.isEmpty()) {
        std::fprintf(stderr, "desktop: Xvfb did not start\n");
        return false;
    }
    const QByteArray display = ':' + number;
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QByteArray home = children.home.path().toLocal8Bit();
    children.manager = Spawn(manager->program, manager->args, -1,
        { "HOME=" + home, "XDG_CONFIG_HOME=" + home, "ICEWM_PRIVCFG=" + home, "KWIN_COMPOSE=N",
            "GSETTINGS_BACKEND=memory", "DBUS_SESSION_BUS_ADDRESS" },
        home + "/log");
    for (int tries = 0; tries < 400; ++tries) {
        if (ManagerReady(display))
            return true;
        if (::waitpid(children.manager, nullptr, WNOHANG) == children.manager) {
            children.manager = 0;
            break;
        }
        ::usleep(50000);
    }
    QFile log(children.home.filePath(QStringLiteral("log")));
    std::fprintf(stderr, "desktop: %s did not start on %s: %s\n", manager->program, display.constData(),
        log.open(QIODevice::ReadOnly) ? log.readAll().right(2000).constData() : "");
    return false;
}

bool Start()
{
    const Manager* manager = std::find_if(std::begin(kManagers), std::end(kManagers),
        [](const Manager& known) { return known.name == qgetenv("MARROWBY_DESKTOP"); });
    if (manager == std::end(kManagers))
        manager = kManagers; // openbox unless named
    for (const char* program : { "Xvfb", manager->program, manager->started, "xdotool", "xprop" })
        if (program && Missing(program))
            return false;
    if (manager->file) {
        // Written out before the window manager reads it.
        QFile settings(children.home.filePath(QString::fromLatin1(manager->file)));
        if (!(QDir().mkpath(QFileInfo(settings).path()) && settings.open(QIODevice::WriteOnly)
                && settings.write(manager->text) > 0 && settings.flush()))
            return false;
    }
    // A busy machine may lose an X server as it starts: it is started again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        children.End();
        if (Launch(manager))
            return true;
    }
    return false;
}

bool SwitchTo(QWidget* window)
{
    return Xdotool({ QStringLiteral("windowactivate"), QString::number(window->window()->winId()) });
}

bool Click(QWidget* widget, QPoint at, int times)
{
    const QPoint global = widget->mapToGlobal(at.isNull() ? widget->rect().center() : at);
    return Xdotool({ QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
        QString::number(global.y()), QStringLiteral("click"), QStringLiteral("--repeat"),
        QString::number(times), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1") });
}

bool Keys(const QString& keys)
{
    return Xdotool(QStringList { QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40") }
        + keys.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

bool Script(const QStringList& commands, const std::function<void()>& meanwhile, QString* output)
{
    return Run(QStringLiteral("xdotool"), commands, output, meanwhile);
}

bool Type(const QString& text, int afterMs, const std::function<void()>& meanwhile)
{
    return Xdotool({ QStringLiteral("sleep"), QString::number(afterMs / 1000.0), QStringLiteral("type"),
                       QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("--"), text },
        meanwhile);
}

QWidget* ShowsActive()
{
    QString focus;
    const QPointer<QWidget> active = QApplication::activeWindow();
    return active && Run(QStringLiteral("xdotool"), { QStringLiteral("getwindowfocus") }, &focus) && active
            && focus.trimmed() == QString::number(active->winId())
        ? active.data()
        : nullptr;
}

bool WaitActive(QWidget* window, int ms)
{
    // Qt may still count a window active while the window manager has the
    // keyboard on its way elsewhere: keys go where the X server says.
    const QPointer<QWidget> wanted = window;
    return WaitFor([&] { return wanted && ShowsActive() == wanted; }, ms);
}

} // namespace gui::desktop
