// The window's side of the server connection: the connect action's text, the
// login failure box, the icon, and the server's events handed to the pages.
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
#include "store/Settings.h"
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>

namespace {

// An information box whose text is shown as plain text (the reason comes from
// the server).
void PlainInformation(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Disconnect"));
    ResetApplicationIcon();
    gp_server->GetOwnPrivilegesStatus();
}

void MainWindow::OnDisconnected()
{
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Connect"));
    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));
}

void MainWindow::OnConnectionFailed(QString reason)
{
    if (reason == QLatin1String("INVALIDPASS")) {
        PlainInformation(this, QStringLiteral("Login Failure: Wrong Password"),
            QStringLiteral("Login failed. The password you supplied does not match your username. Please change "
                           "your login settings in the Options tab and try reconnecting."));
    } else if (reason == QLatin1String("INVALIDUSERNAME")) {
        PlainInformation(this, QStringLiteral("Login Failure: Username is Invalid"),
            QStringLiteral("Login failed. The username you supplied is invalid. Please change your login settings "
                           "in the Options tab and try reconnecting."));
    } else if (gp_server->IsAbruptlyDisconnected()) {
        // The connection reconnects by itself.
    } else if (gp_server->LastAttemptFoundNoServer()) {
        // The address is not among the login settings: say which one was
        // tried and where it comes from.
        PlainInformation(this, QStringLiteral("Login Failure"),
            QStringLiteral(
                "Login failed. Reported failure reason: %1. No server was found at %2:%3. The client "
                "takes the server's address from the environment variable MARROWBY_SERVER "
                "(host:port) when it starts: set it to the server's address and start the "
                "client again.")
                .arg(IsolatedText(reason), gp_server->Host(), QString::number(gp_server->Port())));
    } else {
        PlainInformation(this, QStringLiteral("Login Failure"),
            QStringLiteral(
                "Login failed. Reported failure reason: %1. Please change your login settings in the "
                "Options tab and try reconnecting.")
                .arg(IsolatedText(reason)));
    }
    actionBar->SetWidgetActionText(m_ui->loginOptionsTab, QStringLiteral("connect_disconnect"),
        QStringLiteral("Connect"));
}

void MainWindow::OnPrivateChat(QString user, QString text, time_t, bool)
{
    if (!chatsForm)
        return;
    if (ChatForm* chat = chatsForm->GetChatForm(user))
        chat->AddChat(user, text);
}

// What the server, the share scan and the update check open comes up without
// the keyboard: the user may be typing elsewhere.
void MainWindow::OnAdminMessage(QString message)
{
    auto* dialog = new AdminMessageDialog(message, this);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    QuietWindow::Show(dialog);
}

void MainWindow::OnSharedFilesRescanned(int added, int removed)
{
    auto* dialog = new SharedFilesRescannedDialog(this);
    dialog->Append(QStringLiteral("%1 files added.").arg(added));
    dialog->Append(QStringLiteral("%1 files removed.").arg(removed));
    dialog->setWindowTitle(QStringLiteral("Shared Files Rescanned"));
    QuietWindow::Show(dialog);
}

void MainWindow::OnNewVersion(qint64 version, QString link, QStringList description)
{
    // Every login checks for a newer build, reconnections included: one
    // window per build.
    for (const NewVersionDialog* open : findChildren<NewVersionDialog*>(Qt::FindDirectChildrenOnly)) {
        if (open->Version() == version && open->isVisible())
            return;
    }
    auto* dialog = new NewVersionDialog(version, link, description, this);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    QuietWindow::Show(dialog);
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
