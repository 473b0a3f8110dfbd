#include "ApplicationIcon.h"
#include "TextBound.h"
#include "Kit.h"
#include "Server.h"
#include <QApplication>
#include <QIcon>
#include <QMainWindow>

ApplicationIcon* applicationIcon = nullptr;

ApplicationIcon::ApplicationIcon(QObject* parent)
    : QObject(parent)
    , m_tray(std::make_unique<QSystemTrayIcon>())
{
    InitShellResources();
    // Shown without an icon, the tray icon would only warn.
    m_tray->setIcon(QIcon(QStringLiteral(":/icons/offline_icon")));
    applicationIcon = this;
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &ApplicationIcon::OnTrayIconActivated);
}

ApplicationIcon::~ApplicationIcon()
{
    if (applicationIcon == this)
        applicationIcon = nullptr;
}

void ApplicationIcon::SetApplicationIcon(QString iconPath)
{
    // Not while the client ends (the server's loss at the end would set the
    // offline icon): its display may be gone already.
    if (g_showIsOver)
        return;
    // Setting the application's icon goes through every window; the blink
    // and every focus change ask for it once a second or more.
    if (iconPath == m_path && m_window == mainWindow)
        return;
    m_path = iconPath;
    m_window = mainWindow;
    auto it = m_icons.find(iconPath);
    if (it == m_icons.end())
        it = m_icons.insert(iconPath, QIcon(iconPath));
    const QIcon icon = *it;
    QApplication::setWindowIcon(icon);
    if (mainWindow)
        mainWindow->setWindowIcon(icon);
    m_tray->setIcon(icon);
}

QString ApplicationIcon::StatusIconPath()
{
    if (!gp_server || !gp_server->IsConnected())
        return QStringLiteral(":/icons/offline_icon");
    if (SettingText("availability_status") == QLatin1String("available"))
        return QStringLiteral(":/icons/online_icon");
    if (SettingText("show_away_status_in_application_icon") == QLatin1String("yes"))
        return QStringLiteral(":/icons/away_icon");
    return QStringLiteral(":/icons/online_icon");
}

void ApplicationIcon::ResetApplicationIcon() { SetApplicationIcon(StatusIconPath()); }

void ApplicationIcon::PopupAlert(QString text)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray->showMessage(QString(), AlertBody(text), QSystemTrayIcon::Information, 10000);
}

QString ApplicationIcon::AlertBody(const QString& text)
{
    // The alert names users, rooms, files and a chat's first words, all
    // others' texts: the desktop shows a bounded part, and a notification
    // service that reads markup shows tags and links as the letters they are.
    constexpr int kMaxAlert = 300;
    return TextBound::Shown(text, kMaxAlert).toHtmlEscaped();
}

void ApplicationIcon::OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger || !mainWindow)
        return;
    mainWindow->showNormal();
    mainWindow->activateWindow();
}

void SetApplicationIcon(QString iconPath)
{
    if (applicationIcon)
        applicationIcon->SetApplicationIcon(iconPath);
}

void ResetApplicationIcon()
{
    if (applicationIcon)
        applicationIcon->ResetApplicationIcon();
}

void PopupAlert(QString text)
{
    if (applicationIcon)
        applicationIcon->PopupAlert(text);
}
