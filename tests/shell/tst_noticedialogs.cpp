// The new-version dialog, the excluded-extensions dialog, and boxes shown
// without the keyboard.
#include "ExcludedExtensionsDialog.h"
#include "NewVersionDialog.h"
#include "QuietWindow.h"
#include "UpdateChecker.h"
#include "helper_kit.h"
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>

class TestNoticeDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PrepareKit(); }
    void newVersionShowsBuildsAndSkips();
    void excludedExtensionsFollowTheStore();
    void quietBoxesLeaveTheKeyboardWhereItWas();
};

void TestNoticeDialogs::newVersionShowsBuildsAndSkips()
{
    QCOMPARE(NewVersionDialog::BuildText(20130112), QStringLiteral("Build 1/12/2013"));
    QCOMPARE(NewVersionDialog::BuildText(20261205), QStringLiteral("Build 12/5/2026"));

    settings.Set("skip_version", "1");
    QWidget window;
    QPointer<NewVersionDialog> dialog = new NewVersionDialog(20991231, "http://example.org/get",
        { "Faster searches", "<b>not bold</b> & <img src=\"file:///etc/passwd\">" }, &window);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("MarrowbyQt Update"));
    QCOMPARE(dialog->Form()->newVersionEdit->text(), QStringLiteral("Build 12/31/2099"));
    QCOMPARE(dialog->Form()->currentVersionEdit->text(), NewVersionDialog::BuildText(g_currentVersion));
    // The web host's text is plain text: markup shows as typed.
    QCOMPARE(dialog->Form()->descriptionEdit->toPlainText(),
        QStringLiteral("Faster searches\n<b>not bold</b> & <img src=\"file:///etc/passwd\">"));
    QCOMPARE(dialog->Form()->descriptionEdit->textCursor().position(), 0);

    // Only web links are opened.
    QVERIFY(NewVersionDialog::DownloadUrl("https://example.org/x").isValid());
    QVERIFY(!NewVersionDialog::DownloadUrl("file:///usr/bin/xterm").isValid());
    QVERIFY(!NewVersionDialog::DownloadUrl("javascript:alert(1)").isValid());

    // Return, even in the window itself, does not skip the build.
    dialog->show();
    QApplication::setActiveWindow(dialog);
    QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(settings.Get("skip_version"), QStringLiteral("1"));
    dialog->Form()->skipButton->click();
    QCOMPARE(settings.Get("skip_version"), QStringLiteral("20991231"));
    QVERIFY(dialog); // not deleted under its own button's signal
    QTRY_VERIFY(!dialog);
}

void TestNoticeDialogs::excludedExtensionsFollowTheStore()
{
    Type* extensions = d.DeclareType("excluded_download_extension", kEntity);
    extensions->GetItem("iso");
    QWidget window;
    QPointer<ExcludedExtensionsDialog> dialog = new ExcludedExtensionsDialog(&window);
    QCOMPARE(excludedExtensionsDialog, dialog.data());
    Ui_ExcludedExtensionsDialog* ui = dialog->Form();
    auto add = [ui](const char* text) {
        ui->newExtensionEdit->setText(QString::fromLatin1(text));
        ui->newExtensionButton->click();
        QVERIFY(ui->newExtensionEdit->text().isEmpty());
    };
    add("   ");
    add("  .tmp ");
    add(".tmp");
    add("ISO");
    QStringList rows;
    for (int i = 0; i < ui->extensionListWidget->count(); ++i)
        rows << ui->extensionListWidget->item(i)->text();
    QCOMPARE(rows, QStringList({ ".tmp", "ISO", "iso" }));
    QCOMPARE(extensions->Count(), size_t(3));

    // Below the last row there is no menu.
    dialog->show();
    const QRect last = ui->extensionListWidget->visualItemRect(ui->extensionListWidget->item(2));
    bool menuShown = false;
    QTimer::singleShot(50, qApp, [&menuShown] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menuShown = true;
            menu->close();
        }
    });
    dialog->OnExtensionListContextMenuRequested(last.bottomLeft() + QPoint(2, 30));
    QTest::qWait(80);
    QVERIFY(!menuShown);

    ui->extensionListWidget->selectAll();
    dialog->OnRemoveExcludedExtension();
    QCOMPARE(ui->extensionListWidget->count(), 0);
    QCOMPARE(extensions->Count(), size_t(0));

    dialog->close();
    QTRY_VERIFY(!dialog);
    QVERIFY(!excludedExtensionsDialog);
    // The closed dialog no longer hears the store.
    extensions->GetItem("bak");
}

void TestNoticeDialogs::quietBoxesLeaveTheKeyboardWhereItWas()
{
    QMainWindow window;
    auto* input = new QLineEdit(&window);
    window.setCentralWidget(input);
    QVERIFY(ShowActive(&window));
    input->setFocus();
    int sent = 0;
    connect(input, &QLineEdit::returnPressed, [&sent] { ++sent; });
    // The desktop activates the first box as it shows; a second box comes
    // before the first has handed the keyboard back. Keys typed meanwhile
    // are the input's.
    QPointer<QMessageBox> first = QuietWindow::Notice(&window, QMessageBox::Information, "One", "first");
    QApplication::setActiveWindow(first);
    QTest::keyClicks(first, "hi");
    QPointer<QMessageBox> second = QuietWindow::Notice(&window, QMessageBox::Warning, "Two", "second");
    QVERIFY(first && second && !first->isModal() && !second->isModal());
    QTRY_COMPARE(QApplication::activeWindow(), &window);
    QCOMPARE(QApplication::focusWidget(), input);
    QCOMPARE(input->text(), QStringLiteral("hi"));
    QVERIFY(first && second && first->isVisible() && second->isVisible());
    // A click activates the second at once: it keeps the keyboard, and the
    // key that follows answers it, whether the window manager activates
    // the window before the press reaches it or after.
    QApplication::setActiveWindow(second);
    QTest::mouseClick(second, Qt::LeftButton);
    QTest::keyClick(second, Qt::Key_Return);
    QVERIFY2(second && !second->isVisible(), "the key after the click did not answer the box");
    QVERIFY(first);
    QTest::mouseClick(first, Qt::LeftButton);
    QApplication::setActiveWindow(first);
    QTest::keyClick(first, Qt::Key_Return);
    QVERIFY2(first && !first->isVisible(), "the key after the click did not answer the box");
    // A desktop that refuses to hand the keyboard back leaves a box active:
    // its keys go nowhere until the user can have seen it, then to it.
    window.windowHandle()->setFlag(Qt::WindowDoesNotAcceptFocus);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("requestActivate"));
    QPointer<QMessageBox> third = QuietWindow::Notice(&window, QMessageBox::Warning, "Three", "third");
    QApplication::setActiveWindow(third);
    QTest::qWait(QuietWindow::kPressMs + QuietWindow::kAnswerMs + 100);
    QTest::keyClick(third, Qt::Key_Return);
    QVERIFY(third && third->isVisible());
    QTest::qWait(QuietWindow::kKeyGuardMs);
    QTest::keyClick(third, Qt::Key_Return);
    QVERIFY(third && !third->isVisible());
    QCOMPARE(sent, 0);
    delete first;
}

QTEST_MAIN(TestNoticeDialogs)
#include "tst_noticedialogs.moc"
