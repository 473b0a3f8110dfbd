#include "GuiTest.h"
#include "server/Server.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/Kit.h"
#include "store/Settings.h"
#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>

namespace gui {

namespace {

const char kRoleVariable[] = "MARROWBY_GUI_ROLE";

std::map<QString, RoleFunction>& Roles()
{
    static std::map<QString, RoleFunction> roles;
    return roles;
}

} // namespace

bool WaitFor(const std::function<bool()>& pred, int ms)
{
    return QTest::qWaitFor(pred, ms);
}

// ---- Session ----------------------------------------------------------------

Session::Session() = default;

Session::~Session()
{
    CloseWindow();
    m_drivers.clear();
}

bool Session::Prepare(const QStringList& serverArgs)
{
    m_serverArgs = serverArgs;
    // A child run keeps the parent's HOME and server.
    if (!qEnvironmentVariableIsSet(kRoleVariable)) {
        m_home = std::make_unique<QTemporaryDir>();
        if (!m_home->isValid())
            return false;
        qputenv("HOME", m_home->path().toUtf8());
        m_server = std::make_unique<StandinServer>();
        if (!m_server->Start(serverArgs))
            return false;
        m_port = m_server->Port();
        qputenv("MARROWBY_SERVER", QStringLiteral("127.0.0.1:%1").arg(m_port).toUtf8());
    }
    // No web host: the update check fails at once instead of waiting.
    qputenv("MARROWBY_WEB", "127.0.0.1:1");
    return true;
}

QString Session::Home() const
{
    return qEnvironmentVariable("HOME");
}

MainWindow* Session::StartWindow(const QString& user, const QString& password, bool wait)
{
    // As if a data file held them: no port mapping, free ports (tests run
    // side by side), and with a user name no first start.
    Settings::CreateTypes();
    settings.Set("use_upnp", "no");
    settings.Set("listening_port", "0");
    settings.Set("obfuscated_listening_port", "0");
    if (!user.isEmpty()) {
        settings.Set("username", Value(user));
        settings.Set("password", Value(password));
    }
    m_window = new MainWindow();
    m_window->show();
    m_window->Init();
    if (!user.isEmpty() && wait && !WaitLoggedIn())
        return nullptr;
    return m_window;
}

void Session::CloseWindow()
{
    if (!m_window)
        return;
    // A window closed already is not closed twice.
    if (m_window->isVisible())
        m_window->close();
    delete m_window;
    m_window = nullptr;
}

bool Session::WaitLoggedIn(int ms)
{
    return WaitFor([] { return gp_server && gp_server->IsConnected(); }, ms);
}

DriverProcess* Session::StartDriver(const QString& user, const QStringList& args)
{
    auto driver = std::make_unique<DriverProcess>();
    const quint16 port = m_port ? m_port : quint16(qEnvironmentVariable("MARROWBY_SERVER").section(':', 1).toUInt());
    if (!driver->Start(user, port, args))
        return nullptr;
    m_drivers.push_back(std::move(driver));
    return m_drivers.back().get();
}

void Session::StopServer()
{
    m_server.reset();
}

bool Session::RestartServer()
{
    m_server = std::make_unique<StandinServer>();
    return m_server->Start(QStringList{ QStringLiteral("--port"), QString::number(m_port) } + m_serverArgs);
}

int Session::RunChild(const char* role, int ms, const QString& home)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kRoleVariable), QString::fromLatin1(role));
    if (!home.isEmpty())
        env.insert(QStringLiteral("HOME"), home);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForStarted(10000))
        return -1;
    // The child may need this process's drivers and server meanwhile.
    if (!WaitFor([&] { return child.state() == QProcess::NotRunning; }, ms)) {
        child.kill();
        child.waitForFinished(3000);
        return -1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

// ---- Boxes ------------------------------------------------------------------

ModalAnswerer::ModalAnswerer()
{
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer->start(30);
}

int ModalAnswerer::CountTitled(const QString& title) const
{
    int n = 0;
    for (const SeenBox& box : m_seen)
        n += box.title == title;
    return n;
}

SeenBox ModalAnswerer::Titled(const QString& title) const
{
    for (auto it = m_seen.crbegin(); it != m_seen.crend(); ++it)
        if (it->title == title)
            return *it;
    return {};
}

void ModalAnswerer::Poll()
{
    QList<QWidget*> candidates;
    if (QWidget* modal = QApplication::activeModalWidget())
        candidates.append(modal);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && qobject_cast<QDialog*>(w) && !candidates.contains(w))
            candidates.append(w);
    }
    for (QWidget* w : candidates) {
        bool known = false;
        for (const QPointer<QWidget>& k : std::as_const(m_known))
            known = known || k == w;
        if (known)
            continue;
        m_known.append(w);
        SeenBox seen { QString::fromLatin1(w->metaObject()->className()), w->windowTitle(), QString() };
        if (auto* box = qobject_cast<QMessageBox*>(w))
            seen.text = box->text();
        m_seen.append(seen);
        bool taken = false;
        for (auto it = m_handlers.begin(); it != m_handlers.end(); ++it) {
            if ((*it)(w)) {
                m_handlers.erase(it);
                taken = true;
                break;
            }
        }
        if (!taken) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                QAbstractButton* button = box->defaultButton();
                if (!button)
                    button = box->escapeButton();
                if (button)
                    button->click();
                else
                    box->done(0);
            }
        }
        return; // one per tick: the next box may appear only after this one
    }
}

ModalAnswerer::Handler PressButton(QMessageBox::StandardButton which)
{
    return [which](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->button(which))
            return false;
        box->button(which)->click();
        return true;
    };
}

ModalAnswerer::Handler FillUserDialog(const QString& user, const QString& password)
{
    return [user, password](QWidget* w) {
        if (!w->inherits("ChangeUsernamePasswordDialog"))
            return false;
        auto* name = w->findChild<QLineEdit*>(QStringLiteral("usernameEdit"));
        auto* pass = w->findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
        auto* buttons = w->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (!name || !pass || !buttons)
            return false;
        name->setText(user);
        pass->setText(password);
        buttons->button(QDialogButtonBox::Ok)->click();
        return true;
    };
}

ModalAnswerer::Handler OnDialog(const char* className, std::function<void(QWidget*)> f)
{
    return [className, f](QWidget* w) {
        if (!w->inherits(className))
            return false;
        f(w);
        return true;
    };
}

const char* const kSchemes[] = { "http", "https", "file", "ftp", "mailto", "javascript" };

UrlCatcher::UrlCatcher()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
}

UrlCatcher::~UrlCatcher()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

// ---- Child roles ------------------------------------------------------------

ChildRole::ChildRole(const char* name, RoleFunction f)
{
    Roles()[QString::fromLatin1(name)] = f;
}

bool RunChildRole(int& rc)
{
    const QString role = qEnvironmentVariable(kRoleVariable);
    if (role.isEmpty())
        return false;
    const auto it = Roles().find(role);
    if (it == Roles().end()) {
        std::fprintf(stderr, "no child role %s\n", qPrintable(role));
        rc = 2;
        return true;
    }
    rc = it->second();
    return true;
}

void PrepareApplication()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InitShellResources();
}

bool ShowsIsolated(const QString& shown, const QString& raw)
{
    for (char16_t control : { 0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x2066, 0x2067 })
        if (shown.contains(QChar(control)))
            return false;
    const QString isolated = IsolatedText(raw);
    for (char16_t lineBreak : { 0x0A, 0x0D, 0x85, 0x2028, 0x2029 })
        if (isolated.contains(QChar(lineBreak)))
            return false;
    return shown.contains(isolated);
}

} // namespace gui
