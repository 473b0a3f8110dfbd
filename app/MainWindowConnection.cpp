// The window's side of the server connection: the connect action's text, the
// login failure box and the Login page's line saying why the client is
// offline, the icon, and the server's events handed to the pages.
#include "MainWindow.h"
#include "pages/browse/SharedFilesRescannedDialog.h"
#include "pages/chat/AdminMessageDialog.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatsForm.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/NewVersionDialog.h"
#include "shell/QuietWindow.h"
#include "shell/TextBound.h"
#include "store/Settings.h"
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>
#include <utility>

namespace {

// A reason the server or the socket gave, as it is shown on one line.
QString ShownReason(const QString& reason)
{
    return IsolatedText(TextBound::Shown(reason, 300));
}

QString WebHost()
{
    const QString host = qEnvironmentVariable("MARROWBY_WEB");
    return host.isEmpty() ? QStringLiteral(MARROWBY_DEFAULT_WEB) : host;
}

} // namespace

void MainWindow::OnConnecting()
{
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Connecting..."));
}

void MainWindow::OnConnected()
{
    m_connectAsked = false;
    SetOfflineReason(QString());
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Disconnect"));
    ResetApplicationIcon();
    gp_server->GetOwnPrivilegesStatus();
}

void MainWindow::OnDisconnected()
{
    m_connectAsked = false;
    if (gp_server->LoggedInElsewhere())
        SetOfflineReason(QStringLiteral("Offline: the same user name logged in elsewhere, so this client does not "
                                        "reconnect by itself. Connect again to log in here."));
    else if (gp_server->IsAbruptlyDisconnected())
        SetOfflineReason(QStringLiteral("Offline: the connection to the server was lost. The client tries again "
                                        "every 30 seconds."));
    else
        SetOfflineReason(QString()); // the user's own word
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Connect"));
    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));
}

void MainWindow::SetOfflineReason(const QString& text)
{
    m_ui->offlineReasonLabel->setText(text);
    m_ui->offlineReasonLabel->setVisible(!text.isEmpty());
}

void MainWindow::OnConnectionFailed(QString reason)
{
    // Only a connection the user asked for answers with a box that takes the
    // keyboard: a reconnection or the login at start-up comes while the user
    // is busy elsewhere.
    const bool asked = std::exchange(m_connectAsked, false);
    const QString settingsHint
        = QStringLiteral("Change the user name or password (Change Username/Password), then connect again.");
    QString title = QStringLiteral("Login Failure");
    QString text;
    QString offline;
    if (reason == QLatin1String("INVALIDPASS")) {
        title = QStringLiteral("Login Failure: Wrong Password");
        text = QStringLiteral("Login failed. The password you supplied does not match your username. Please change "
                              "your login settings in the Options tab and try reconnecting.");
        offline = QStringLiteral("Offline: the server refused the login, as the password does not match the user "
                                 "name. ") + settingsHint;
    } else if (reason == QLatin1String("INVALIDUSERNAME")) {
        title = QStringLiteral("Login Failure: Username is Invalid");
        text = QStringLiteral("Login failed. The username you supplied is invalid. Please change your login settings "
                              "in the Options tab and try reconnecting.");
        offline = QStringLiteral("Offline: the server refused the login, as the user name is invalid. ")
            + settingsHint;
    } else if (gp_server->IsAbruptlyDisconnected()) {
        // The connection reconnects by itself.
        offline = QStringLiteral("Offline: the connection to the server was lost. The client tries again every 30 "
                                 "seconds; the last try failed: %1.")
                      .arg(ShownReason(reason));
    } else if (gp_server->LastAttemptFoundNoServer()) {
        // The address is not among the login settings: say which one was
        // tried and where it comes from.
        text = QStringLiteral(
            "Login failed. Reported failure reason: %1. No server was found at %2:%3. The client "
            "takes the server's address from the environment variable MARROWBY_SERVER "
            "(host:port) when it starts: set it to the server's address and start the "
            "client again.")
                   .arg(ShownReason(reason), gp_server->Host(), QString::number(gp_server->Port()));
        offline = QStringLiteral("Offline: no server was found at %1:%2 (%3).")
                      .arg(gp_server->Host(), QString::number(gp_server->Port()), ShownReason(reason));
    } else {
        text = QStringLiteral(
            "Login failed. Reported failure reason: %1. Please change your login settings in the "
            "Options tab and try reconnecting.")
                   .arg(ShownReason(reason));
        offline = QStringLiteral("Offline: the login failed: %1.").arg(ShownReason(reason));
    }
    SetOfflineReason(offline);
    if (!text.isEmpty()) {
        // One box at a time: a new failure updates the one still open, which
        // then answers the user's Connect as a new box would.
        if (m_loginFailureBox && m_loginFailureBox->isVisible()) {
            m_loginFailureBox->setWindowTitle(title);
            m_loginFailureBox->setText(text);
            if (asked)
                QuietWindow::Bring(m_loginFailureBox);
        } else {
            m_loginFailureBox = QuietWindow::Notice(this, QMessageBox::Information, title, text, !asked);
        }
    }
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Connect"));
}

void MainWindow::OnPrivateChat(QString user, QString text, time_t, bool)
{
    if (chatsForm)
        chatsForm->Receive(user, text);
}

// What the server, the share scan and the update check open comes up without
// the keyboard: the user may be typing elsewhere. The report of a rescan the
// user asked for answers the user, and takes it.
void MainWindow::OnAdminMessage(QString message)
{
    AdminMessageDialog::Add(message, this);
}

void MainWindow::OnSharedFilesRescanned(int added, int removed)
{
    auto* dialog = new SharedFilesRescannedDialog(this);
    dialog->Append(QStringLiteral("%1 files added.").arg(added));
    dialog->Append(QStringLiteral("%1 files removed.").arg(removed));
    dialog->setWindowTitle(QStringLiteral("Shared Files Rescanned"));
    if (std::exchange(m_rescanAsked, false))
        QuietWindow::Bring(dialog);
    else
        QuietWindow::Show(dialog);
}

void MainWindow::OnNewVersion(qint64 version, QString link, QStringList description)
{
    // Every login checks for a newer build, reconnections included: a build
    // is offered once per run, and again at the next start unless skipped.
    // It stays with the other windows rather than above them all.
    if (m_offeredVersions.contains(version))
        return;
    m_offeredVersions.insert(version);
    QuietWindow::Show(new NewVersionDialog(version, link, description, this));
}

void MainWindow::OnUsernameChanged(ItemPtr value)
{
    m_ui->usernameEdit->setText(value.AsString());
}

void MainWindow::SetObfuscatedPortText(qint64 port)
{
    m_ui->obfuscatedPortLabel->setText(
        QStringLiteral("Obfuscated port is %1, if you're manually forwarding\nyour ports be sure to open it as well.")
            .arg(port));
}

void MainWindow::OnNewListeningPortChanged(ItemPtr value)
{
    m_ui->listeningPortEdit->setText(value.AsString());
    SetObfuscatedPortText(value.AsInt64() + 1);
}

void MainWindow::OnObfuscatedPortSet(ItemPtr)
{
    SetObfuscatedPortText(settings.GetInt64("obfuscated_listening_port"));
}

void MainWindow::OnCheckPortsClicked()
{
    // The ports listened on: for a run on which another program held the
    // chosen ones, these are others.
    const bool held = peerMessenger && peerMessenger->ListeningPort();
    const int ports[] = { held ? peerMessenger->ListeningPort() : settings.GetInt("listening_port"),
        held ? peerMessenger->ObfuscatedListeningPort() : settings.GetInt("obfuscated_listening_port") };
    for (int port : ports) {
        QUrl url;
        url.setScheme(QStringLiteral("http"));
        const QString host = WebHost();
        const int colon = host.lastIndexOf(QLatin1Char(':'));
        url.setHost(colon > 0 ? host.left(colon) : host);
        if (colon > 0)
            url.setPort(host.mid(colon + 1).toInt());
        url.setPath(QStringLiteral("/porttest.php"));
        url.setQuery(QStringLiteral("port=%1").arg(port));
        QDesktopServices::openUrl(url);
    }
}
