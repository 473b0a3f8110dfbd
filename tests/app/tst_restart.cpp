// What the user sets survives a restart: Options, the listening port chosen in
// its dialog (with the dialog's range checks), and the window's geometry.
#include "gui/GuiTest.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "DiagnosticsForm.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <cstdio>

namespace {

const QRect kGeometry(40, 50, 700, 480);

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
    void optionsAndGeometrySurviveARestart();
};

void TestRestart::portDialogChecksItsRange()
{
    MainWindow* window = session.Window();
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

void TestRestart::optionsAndGeometrySurviveARestart()
{
    MainWindow* window = session.Window();
    Ui_MainWindow& ui = window->Ui();
    ui.optionsTabControl->setCurrentIndex(2);
    ui.tabControl->setCurrentWidget(ui.optionsTab);

    QVERIFY(ui.minimizeToTrayCheckBox->isChecked());
    ui.minimizeToTrayCheckBox->click();
    QCOMPARE(settings.Get("minimize_to_tray"), QStringLiteral("no"));
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
    Type* extensions = d.GetType("excluded_download_extension");
    for (ItemPtr extension : extensions->GetItems())
        extension.Remove();
    QCOMPARE(ui.excludedExtensionsEdit->text(), QString());
    extensions->GetItem("tmp");
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

    session.CloseWindow();
    QCOMPARE(session.RunChild("verify_restart"), 0);
}

GUI_TEST_MAIN(TestRestart)
#include "tst_restart.moc"
