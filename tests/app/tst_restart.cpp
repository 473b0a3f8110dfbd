// What the user sets survives a restart: Options (the tray icon and the
// notification sounds among them), the listening port chosen in its dialog
// (with the dialog's range checks), and the window's geometry; the port test
// of both ports and the privileges page open the right addresses, and a click
// on the tray icon brings the window back. A quit whose save fails asks, and
// its retry saves.
#include "gui/GuiTest.h"
#include "peers/PeerMessenger.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ApplicationIcon.h"
#include "shell/EventToolBar.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "DiagnosticsForm.h"
#include "ExcludedExtensionsDialog.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QUrlQuery>
#include <cstdio>
#include <vector>

namespace {

const QRect kGeometry(40, 50, 700, 480);

// A row of the Notification Sounds page, found by the label the user reads,
// with the event whose sound it sets.
struct SoundRow {
    const char* key;
    QLineEdit* edit = nullptr;
    QPushButton* select = nullptr;
    QPushButton* clear = nullptr;
};

std::vector<SoundRow> SoundRows(Ui_MainWindow& ui)
{
    const std::pair<const char*, const char*> labels[]
        = { { "Default Sound:", "default" }, { "Private Chat:", "private_chat" },
              { "Room Chat:", "room_chat" }, { "Wishlist Results:", "wishlist" },
              { "Browsed Share:", "browse" }, { "Download Alert:", "download" },
              { "User Online Alert:", "user_online" }, { "User Info:", "user_info" } };
    std::vector<SoundRow> rows;
    for (const auto& [text, key] : labels) {
        SoundRow found { key };
        for (QHBoxLayout* row : ui.tab_5->findChildren<QHBoxLayout*>()) {
            const auto widget
                = [row](int i) { return row->count() > i ? row->itemAt(i)->widget() : nullptr; };
            auto* label = qobject_cast<QLabel*>(widget(0));
            if (!label || label->text() != QLatin1String(text))
                continue;
            found.edit = qobject_cast<QLineEdit*>(widget(1));
            found.select = qobject_cast<QPushButton*>(widget(2));
            found.clear = qobject_cast<QPushButton*>(widget(3));
        }
        if (found.edit && found.select && found.clear)
            rows.push_back(found);
    }
    return rows;
}

// Types a port into the open port dialog and presses OK; the title of the box
// that answers.
QString TryPort(MainWindow* window, const QString& port)
{
    QDialog* dialog = nullptr;
    gui::WaitFor([&] {
        for (QDialog* d : window->findChildren<QDialog*>())
            if (d->inherits("ChangeListeningPortDialog") && d->isVisible())
                dialog = d;
        return dialog != nullptr;
    });
    if (!dialog)
        return QStringLiteral("no dialog");
    gui::ModalAnswerer answers;
    dialog->findChild<QLineEdit*>(QStringLiteral("portEdit"))->setText(port);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    gui::WaitFor([&] { return !answers.Seen().isEmpty(); });
    return answers.Seen().isEmpty() ? QString() : answers.Seen().first().title;
}

// The home folder can't be written while this lives: a read-only file system
// over it where the test may mount one, else a folder in the data file's place.
class UnwritableHome {
public:
    UnwritableHome()
    {
        const QStringList readOnly
            = { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("ro,size=16k"),
                  QStringLiteral("tmpfs"), QDir::homePath() };
        m_mounted = QProcess::execute(QStringLiteral("mount"), readOnly) == 0;
        if (!m_mounted) {
            QFile::remove(MainWindow::DataFilePath());
            QDir().mkpath(MainWindow::DataFilePath());
        }
    }
    ~UnwritableHome() { Lift(); }
    // What the system says about saving there.
    QString Reason() const
    {
        return m_mounted ? QStringLiteral("Read-only file system") : QStringLiteral("Is a directory");
    }
    void Lift()
    {
        if (m_lifted)
            return;
        m_lifted = true;
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { QDir::homePath() });
        else
            QDir().rmdir(MainWindow::DataFilePath());
    }

private:
    bool m_mounted = false;
    bool m_lifted = false;
};

#define CHILD_CHECK(cond)                                                                                            \
    do {                                                                                                             \
        if (!(cond)) {                                                                                               \
            std::fprintf(stderr, "child check failed: %s (line %d)\n", #cond, __LINE__);                             \
            return 1;                                                                                                \
        }                                                                                                            \
    } while (0)

} // namespace

// The second run, in a child process with the same HOME.
GUI_CHILD_ROLE(verify_restart)
{
    gui::Session session;
    CHILD_CHECK(session.Prepare());
    gui::ModalAnswerer answers;
    // No user is stored here: the data file brings the name.
    MainWindow* window = session.StartWindow(QString());
    CHILD_CHECK(window);
    CHILD_CHECK(answers.Seen().isEmpty()); // no first start, no load failure
    CHILD_CHECK(session.WaitLoggedIn());
    Ui_MainWindow& ui = window->Ui();
    CHILD_CHECK(ui.usernameEdit->text() == QLatin1String("keeper"));
    CHILD_CHECK(!ui.minimizeToTrayCheckBox->isChecked());
    CHILD_CHECK(settings.Get("minimize_to_tray") == QLatin1String("no"));
    CHILD_CHECK(ui.showDiagnosticsCheckBox->isChecked());
    CHILD_CHECK(ui.tabControl->indexOf(diagnosticsForm) == 7);
    CHILD_CHECK(!ui.logRoomChatCheckBox->isChecked());
    CHILD_CHECK(ui.firstOpenTabBox->currentIndex() == 2);
    CHILD_CHECK(ui.tabControl->currentIndex() == 3);
    CHILD_CHECK(ui.chatTimestampsBox->currentIndex() == 1);
    CHILD_CHECK(ui.maxUploadsPerUserSpinBox->value() == 10);
    CHILD_CHECK(ui.userDescriptionEdit->toPlainText() == QLatin1String("hello & <b>bye</b>"));
    CHILD_CHECK(ui.codePageBox->currentText() == QLatin1String("windows-1251"));
    CHILD_CHECK(ui.excludedExtensionsEdit->text() == QLatin1String("part"));
    // The pending port took effect at this start.
    CHILD_CHECK(settings.Get("listening_port") == QLatin1String("47123"));
    CHILD_CHECK(ui.listeningPortEdit->text() == QLatin1String("47123"));
    CHILD_CHECK(ui.obfuscatedPortLabel->text().startsWith(QLatin1String("Obfuscated port is 47124,")));
    CHILD_CHECK(!applicationIcon->TrayIcon()->isVisible());
    const std::vector<SoundRow> rows = SoundRows(ui);
    CHILD_CHECK(rows.size() == 8);
    for (const SoundRow& row : rows) {
        const QString shown = row.edit->text();
        if (row.key == std::string("private_chat"))
            CHILD_CHECK(shown.isEmpty());
        else
            CHILD_CHECK(shown.endsWith(QLatin1Char('/') + QLatin1String(row.key) + QLatin1String(".wav")));
    }
    CHILD_CHECK(window->geometry().size() == kGeometry.size());
    CHILD_CHECK(window->geometry().topLeft() == kGeometry.topLeft());
    session.CloseWindow();
    return 0;
}

class TestRestart : public QObject {
    Q_OBJECT
    gui::Session session;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("keeper")));
    }
    void portDialogChecksItsRange();
    void storedGeometryIsCheckedBeforeUse();
    void trayClickBringsTheWindowBack();
    void optionsAndGeometrySurviveARestart();
};

void TestRestart::portDialogChecksItsRange()
{
    MainWindow* window = session.Window();
    // The port test asks the web host about both ports the client listens on,
    // which are those of this run, not the setting.
    settings.Set("listening_port", 0);
    settings.Set("obfuscated_listening_port", 0);
    QVERIFY(peerMessenger->Listen());
    const quint16 ports[] = { peerMessenger->ListeningPort(), peerMessenger->ObfuscatedListeningPort() };
    gui::UrlCatcher browser;
    window->Ui().checkPortsButton->click();
    QCOMPARE(browser.Urls().size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QUrl& url = browser.Urls()[i];
        QCOMPARE(url.scheme(), QStringLiteral("http"));
        QCOMPARE(url.authority(), qEnvironmentVariable("MARROWBY_WEB"));
        QCOMPARE(url.path(), QStringLiteral("/porttest.php"));
        QCOMPARE(url.query(), QStringLiteral("port=%1").arg(ports[i]));
    }
    // The privileges page, for the own name escaped: nothing in a name can
    // add to the address or cut it short.
    const QString name = QString::fromUtf8("a&b c#d?x=1/\u00e9");
    settings.Set("username", Value(name));
    actionBar->PrivilegesButton()->click();
    settings.Set("username", "keeper");
    QCOMPARE(browser.Urls().size(), 3);
    const QUrl& support = browser.Urls()[2];
    QCOMPARE(support.authority(), qEnvironmentVariable("MARROWBY_WEB"));
    QCOMPARE(support.path(), QStringLiteral("/qtlogin.php"));
    QVERIFY(!support.hasFragment());
    const auto items = QUrlQuery(support).queryItems(QUrl::FullyDecoded);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().first, QStringLiteral("username"));
    QCOMPARE(items.first().second, name);

    window->OnToolBarActionTriggered(nullptr, QStringLiteral("set_listening_port"));
    QCOMPARE(TryPort(window, QString()), QStringLiteral("Invalid Port Number"));
    QCOMPARE(TryPort(window, QStringLiteral("70000")), QStringLiteral("Invalid Port Number"));
    // Its obfuscated port would be 65536.
    QCOMPARE(TryPort(window, QStringLiteral("65535")), QStringLiteral("Invalid Port Number"));
    QCOMPARE(TryPort(window, QStringLiteral("0")), QStringLiteral("Invalid Port Number"));
    QCOMPARE(TryPort(window, QStringLiteral("47123")), QStringLiteral("Change to Listening Port Pending"));
    QCOMPARE(settings.Get("new_listening_port"), QStringLiteral("47123"));
    // Shown at once; used from the next start.
    QCOMPARE(window->Ui().listeningPortEdit->text(), QStringLiteral("47123"));
    QVERIFY(window->Ui().obfuscatedPortLabel->text().startsWith(QStringLiteral("Obfuscated port is 47124,")));
}

void TestRestart::storedGeometryIsCheckedBeforeUse()
{
    // What the size manager restores: a place off every screen and an empty size.
    MainWindow* window = session.Window();
    const QSize size = window->size();
    MainWindow::SizeProxy proxy;
    proxy.SetPosition(-5000, 90000);
    proxy.SetSize(0, 0);
    QCOMPARE(window->size(), size);
    QVERIFY(window->screen()->availableGeometry().contains(window->geometry().topLeft()));
}

void TestRestart::trayClickBringsTheWindowBack()
{
    MainWindow* window = session.Window();
    QSystemTrayIcon* tray = applicationIcon->TrayIcon();
    window->showMinimized();
    QTRY_VERIFY(window->isMinimized());
    // Only a plain click acts.
    for (auto reason :
        { QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick })
        emit tray->activated(reason);
    QTest::qWait(100);
    QVERIFY(window->isMinimized());
    emit tray->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(!window->isMinimized());
    QVERIFY(window->isVisible());
    QTRY_VERIFY(window->isActiveWindow());
}

void TestRestart::optionsAndGeometrySurviveARestart()
{
    settings.Set("new_listening_port", "47123"); // as the port dialog above leaves it
    MainWindow* window = session.Window();
    Ui_MainWindow& ui = window->Ui();
    ui.optionsTabControl->setCurrentIndex(2);
    ui.tabControl->setCurrentWidget(ui.optionsTab);

    // The option shows the tray icon, which is there from the start.
    QVERIFY(ui.minimizeToTrayCheckBox->isChecked());
    QVERIFY(applicationIcon->TrayIcon()->isVisible());
    ui.minimizeToTrayCheckBox->click();
    QCOMPARE(settings.Get("minimize_to_tray"), QStringLiteral("no"));
    QVERIFY(!applicationIcon->TrayIcon()->isVisible());
    ui.minimizeToTrayCheckBox->click();
    QVERIFY(applicationIcon->TrayIcon()->isVisible());
    ui.minimizeToTrayCheckBox->click();
    QVERIFY(!applicationIcon->TrayIcon()->isVisible());

    // Each sound row sets the sound of its own event; a cleared one falls
    // back to the default sound.
    QTemporaryDir sounds;
    const std::vector<SoundRow> rows = SoundRows(ui);
    QCOMPARE(rows.size(), size_t(8));
    // The chooser opens at home, or where the row's sound is; never in the
    // folder the program was started from.
    QStringList openedIn;
    const auto choose = [&](const SoundRow& row, const QString& path) {
        gui::ModalAnswerer answers;
        answers.Add(gui::OnDialog("QFileDialog", [path, &openedIn](QWidget* w) {
            auto* dialog = static_cast<QFileDialog*>(w);
            openedIn.append(dialog->directory().absolutePath());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        }));
        row.select->click();
        return answers.Seen().size() == 1 && row.edit->text() == path;
    };
    for (const SoundRow& row : rows) {
        const QString path = sounds.filePath(QString::fromLatin1(row.key) + QStringLiteral(".wav"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(choose(row, path));
    }
    QVERIFY(choose(rows[0], rows[0].edit->text()));
    QCOMPARE(openedIn.first(), QDir::homePath());
    QCOMPARE(openedIn.last(), QDir(sounds.path()).absolutePath());
    for (const SoundRow& row : rows)
        QCOMPARE(EventToolBar::SoundFile(QString::fromLatin1(row.key)), row.edit->text());
    rows[1].clear->click();
    QVERIFY(rows[1].edit->text().isEmpty());
    QCOMPARE(EventToolBar::SoundFile(QStringLiteral("private_chat")), rows[0].edit->text());
    QCOMPARE(EventToolBar::SoundFile(QStringLiteral("room_chat")), rows[2].edit->text());
    ui.showDiagnosticsCheckBox->click();
    QCOMPARE(ui.tabControl->count(), 8);
    ui.showDiagnosticsCheckBox->click();
    QCOMPARE(ui.tabControl->count(), 7);
    ui.showDiagnosticsCheckBox->click();
    ui.logRoomChatCheckBox->click();
    QCOMPARE(settings.Get("log_room_chat"), QStringLiteral("no"));
    QCOMPARE(settings.Get("log_private_chat"), QStringLiteral("yes"));
    ui.firstOpenTabBox->setCurrentIndex(2);
    ui.chatTimestampsBox->setCurrentIndex(1);
    ui.userDescriptionEdit->setPlainText(QStringLiteral("hello & <b>bye</b>"));
    ui.codePageBox->setCurrentIndex(ui.codePageBox->findText(QStringLiteral("windows-1251")));
    QCOMPARE(settings.Get("extended_ascii_codepage"), QStringLiteral("windows-1251"));

    // The excluded extensions field follows the store, a removed one included.
    // The dialog opens with the keyboard in its input: Return adds the name.
    Type* extensions = d.GetType("excluded_download_extension");
    for (ItemPtr extension : extensions->GetItems())
        extension.Remove();
    QCOMPARE(ui.excludedExtensionsEdit->text(), QString());
    ui.editExcludedExtensionsButton->click();
    QVERIFY(excludedExtensionsDialog);
    QTRY_COMPARE(QApplication::focusWidget(), excludedExtensionsDialog->Form()->newExtensionEdit);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("tmp"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    excludedExtensionsDialog->close();
    extensions->GetItem("part");
    QCOMPARE(ui.excludedExtensionsEdit->text(), QStringLiteral("tmp part"));
    extensions->HasItem("tmp").Remove();
    QCOMPARE(ui.excludedExtensionsEdit->text(), QStringLiteral("part"));

    // A number below 10 is raised when editing ends, not while typing.
    ui.optionsTabControl->setCurrentWidget(ui.fileSharingOptionsTab);
    QSpinBox* spin = ui.maxUploadsPerUserSpinBox;
    const QString before = settings.Get("max_queued_uploads_per_user");
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, QStringLiteral("3"));
    QCOMPARE(spin->text(), QStringLiteral("3"));
    QCOMPARE(settings.Get("max_queued_uploads_per_user"), before);
    QTest::keyClick(spin, Qt::Key_Return);
    QCOMPARE(spin->value(), 10);
    QCOMPARE(settings.Get("max_queued_uploads_per_user"), QStringLiteral("10"));

    // Only blanks keep Save disabled; Save stores the text as typed.
    ui.emptyShareWarningEdit->clear();
    QTest::keyClicks(ui.emptyShareWarningEdit, QStringLiteral("   "));
    QVERIFY(!ui.saveEmptyShareWarningMessageButton->isEnabled());
    QTest::keyClicks(ui.emptyShareWarningEdit, QStringLiteral("share something "));
    QVERIFY(ui.saveEmptyShareWarningMessageButton->isEnabled());
    ui.saveEmptyShareWarningMessageButton->click();
    QCOMPARE(settings.Get("empty_share_message"), QStringLiteral("   share something "));
    QVERIFY(!ui.saveEmptyShareWarningMessageButton->isEnabled());

    window->setGeometry(kGeometry);
    QVERIFY(gui::WaitFor([&] { return window->geometry() == kGeometry; }));
    QTest::qWait(100);

    // The home can't be written at the quit: the quit says why; a retry while
    // that lasts asks again, and one after it is over saves.
    UnwritableHome unwritable;
    const QString reason = MainWindow::DataFilePath() + QStringLiteral(": ") + unwritable.Reason();
    gui::ModalAnswerer answers;
    answers.Add(gui::PressButton(QMessageBox::Retry));
    answers.Add([&](QWidget* box) {
        unwritable.Lift();
        return gui::PressButton(QMessageBox::Retry)(box);
    });
    session.CloseWindow();
    QCOMPARE(answers.CountTitled(QStringLiteral("Could not save")), 2);
    const QString said = answers.Titled(QStringLiteral("Could not save")).text;
    QVERIFY2(said.contains(reason), qPrintable(said));
    QCOMPARE(session.RunChild("verify_restart"), 0);
}

GUI_TEST_MAIN(TestRestart)
#include "tst_restart.moc"
