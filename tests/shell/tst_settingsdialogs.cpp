// The user name/password and listening-port dialogs: what they store, what
// they refuse, and that they go away, by OK or Cancel, only after their own
// signal is done.
#include "ChangeListeningPortDialog.h"
#include "ChangeUsernamePasswordDialog.h"
#include "helper_kit.h"
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

class TestSettingsDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PrepareKit(); }
    void usernameAndPasswordAreStoredTrimmed();
    void portRangesAndPendingChange();
};

static void ClickOk(QDialogButtonBox* box) { box->button(QDialogButtonBox::Ok)->click(); }

void TestSettingsDialogs::usernameAndPasswordAreStoredTrimmed()
{
    settings.Set("username", "old");
    settings.Set("password", "secret");
    QWidget window;
    QPointer<ChangeUsernamePasswordDialog> dialog = new ChangeUsernamePasswordDialog(false, &window);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Change Username/Password"));
    Ui_ChangeUsernamePasswordDialog* ui = dialog->Form();
    QCOMPARE(ui->passwordEdit->text(), QStringLiteral("secret")); // shown in clear text
    QCOMPARE(ui->passwordEdit->echoMode(), QLineEdit::Normal);

    // Blank user name, then blank password: the dialog stays, nothing is stored.
    ui->usernameEdit->setText("   ");
    ClickOk(ui->buttonBox);
    ui->usernameEdit->setText("  new name ");
    ui->passwordEdit->setText("  ");
    ClickOk(ui->buttonBox);
    QVERIFY(dialog);
    QCOMPARE(settings.Get("username"), QStringLiteral("old"));

    ui->passwordEdit->setText(" pass word ");
    ClickOk(ui->buttonBox);
    QCOMPARE(settings.Get("username"), QStringLiteral("new name"));
    QCOMPARE(settings.Get("password"), QStringLiteral("pass word"));
    QVERIFY(dialog); // not deleted under its own button's signal...
    QTRY_VERIFY(!dialog); // ...but right after

    // Cancelled, it stores nothing and goes as well: none is left behind in
    // the window, however often it is opened.
    dialog = new ChangeUsernamePasswordDialog(false, &window);
    dialog->Form()->usernameEdit->setText("cancelled");
    dialog->show();
    dialog->Form()->buttonBox->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(dialog);
    QTRY_VERIFY(!dialog);
    dialog = new ChangeUsernamePasswordDialog(false, &window);
    dialog->show();
    dialog->close(); // the window's close button
    QTRY_VERIFY(!dialog);
    QCOMPARE(settings.Get("username"), QStringLiteral("new name"));

    // First start: its own title; it ends the modal run and stays for its caller.
    ChangeUsernamePasswordDialog first(true);
    QCOMPARE(first.windowTitle(), QStringLiteral("Set Username/Password"));
    first.Form()->usernameEdit->setText("ünïcode");
    first.Form()->passwordEdit->setText("p");
    QTimer::singleShot(0, &first, [&first] { ClickOk(first.Form()->buttonBox); });
    QCOMPARE(first.exec(), int(QDialog::Accepted));
    QCOMPARE(settings.GetStd("username"), std::string("\xc3\xbcn\xc3\xaf" "code"));
    QTest::qWait(0);

    // Cancel stores nothing.
    ChangeUsernamePasswordDialog cancelled(true);
    cancelled.Form()->usernameEdit->setText("other");
    QTimer::singleShot(0, &cancelled, [&cancelled] { cancelled.reject(); });
    QCOMPARE(cancelled.exec(), int(QDialog::Rejected));
    QCOMPARE(settings.GetStd("username"), std::string("\xc3\xbcn\xc3\xaf" "code"));
}

void TestSettingsDialogs::portRangesAndPendingChange()
{
    settings.Set("listening_port", 2235);
    QWidget window;
    QPointer<ChangeListeningPortDialog> dialog = new ChangeListeningPortDialog(&window);
    QLineEdit* edit = dialog->Form()->portEdit;
    QCOMPARE(edit->text(), QStringLiteral("2235"));

    struct Case {
        const char* entry;
        const char* title;
    };
    // 65535 would make the obfuscated port 65536: refused like any other
    // number out of range.
    const Case refused[] = { { "", "Invalid Port Number" }, { "65535", "Invalid Port Number" },
        { "99999", "Invalid Port Number" }, { "2235", "Port Number Not Changed" } };
    for (const Case& c : refused) {
        edit->setText(QString::fromLatin1(c.entry));
        BoxAnswer answer;
        AnswerNextBox(&answer);
        ClickOk(dialog->Form()->buttonBox);
        QCOMPARE(answer.title, QString::fromLatin1(c.title));
        QVERIFY(dialog);
        QVERIFY(!settings.Has("new_listening_port"));
        if (answer.title == QLatin1String("Invalid Port Number"))
            QCOMPARE(answer.text, QStringLiteral("Port number must be in the range of 1 to 65534."));
    }

    edit->setText("65534");
    BoxAnswer answer;
    AnswerNextBox(&answer);
    ClickOk(dialog->Form()->buttonBox);
    QCOMPARE(answer.title, QStringLiteral("Change to Listening Port Pending"));
    QCOMPARE(settings.Get("new_listening_port"), QStringLiteral("65534"));
    QTRY_VERIFY(!dialog);

    // A pending change is compared with nothing: the current port is still
    // "not changed" and the pending one stays.
    QPointer<ChangeListeningPortDialog> again = new ChangeListeningPortDialog(&window);
    again->show();
    again->Form()->portEdit->setText("2235");
    AnswerNextBox(&answer);
    ClickOk(again->Form()->buttonBox);
    QCOMPARE(answer.title, QStringLiteral("Port Number Not Changed"));
    QCOMPARE(settings.Get("new_listening_port"), QStringLiteral("65534"));
    // Cancelled, it goes too and changes nothing.
    again->Form()->portEdit->setText("3000");
    again->Form()->buttonBox->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(again);
    QTRY_VERIFY(!again);
    QCOMPARE(settings.Get("new_listening_port"), QStringLiteral("65534"));
    QVERIFY(window.findChildren<QDialog*>().isEmpty());
}

QTEST_MAIN(TestSettingsDialogs)
#include "tst_settingsdialogs.moc"
