// First start, over a data file that cannot be read: the box that says so,
// the file kept aside, the dialogs, the defaults; then sharing a folder that
// another user finds, the rescan report, and the user-list import.
#include "gui/GuiTest.h"
#include "helper_shares.h"
#include "pages/browse/AddSharedFolderDialog.h"
#include "pages/browse/SharedFilesRescannedDialog.h"
#include "pages/chat/RoomsForm.h"
#include "server/Server.h"
#include "server/UpdateChecker.h"
#include "shares/SharedFoldersManager.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeWidget>
#include <QtEndian>

namespace {

QByteArray U32(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(v, b.data());
    return b;
}

// The older client's user list: a count, then length-prefixed names.
QByteArray HotList(const QList<QByteArray>& names)
{
    QByteArray out = U32(quint32(names.size()));
    for (const QByteArray& name : names)
        out += U32(quint32(name.size())) + name;
    return out;
}

// Answers the file dialog of the import with the path.
gui::ModalAnswerer::Handler ChooseFile(const QString& path)
{
    return gui::OnDialog("QFileDialog", [path](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

bool InUserList(const char* user)
{
    return d.GetType("user")->HasItem(user).IsConnected("in_user_list");
}

// A data file cut short after its first bytes.
const QByteArray kBrokenDataFile = QByteArray("MRWBDATA") + QByteArray(5, '\x01');

} // namespace

class TestFirstStart : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir shared;

    // The window as the first start leaves it, logged in and sharing the
    // folder with everyone (started here when the first function did not run).
    MainWindow* Window()
    {
        if (!session.Window() && QFile::remove(MainWindow::DataFilePath())
            && session.StartWindow(QStringLiteral("newcomer")))
            sharedFoldersManager->AddSharedFolder(shared.path()).NewItem("shared_public");
        const auto scanned = [] { return !sharedFoldersManager->IsScanning(); };
        return session.Window() && gui::WaitFor(scanned) ? session.Window() : nullptr;
    }

private slots:
    void initTestCase();
    void firstStartDialogsDefaultsAndLogin();
    void sharedFolderIsFoundByAnotherUser();
    void rescanReportsAddedAndRemovedFiles();
    void userListImportGoodAndTruncated();
};

void TestFirstStart::initTestCase()
{
    QVERIFY(session.Prepare());
    QVERIFY(shared.isValid());
    WriteFile(shared.filePath(QStringLiteral("marrowfish song.mp3")), QByteArray(3000, 'x'));
    WriteFile(MainWindow::DataFilePath(), kBrokenDataFile);
}

void TestFirstStart::firstStartDialogsDefaultsAndLogin()
{
    gui::ModalAnswerer answers;
    answers.Add(gui::PressButton(QMessageBox::Ok));
    answers.Add(gui::FillUserDialog(QStringLiteral("  newcomer  "), QStringLiteral("pw")));
    answers.Add(gui::PressButton(QMessageBox::Yes));
    answers.Add(gui::OnDialog("AddSharedFolderDialog", [this](QWidget* w) {
        auto* dialog = static_cast<AddSharedFolderDialog*>(w);
        dialog->selectedFolderEdit->setText(shared.path());
        dialog->accept();
    }));
    answers.Add(gui::PressButton(QMessageBox::Ok));

    MainWindow* window = session.StartWindow(QString());
    QVERIFY(window);
    QVERIFY(session.WaitLoggedIn());
    QVERIFY(!answers.Pending());
    const QList<gui::SeenBox> seen = answers.Seen();
    QCOMPARE(seen.size(), 5);
    // The unreadable file is kept beside the new one, as it was, and the
    // message says where.
    const QDir home(session.Home());
    const QStringList kept
        = home.entryList({ QStringLiteral(".Marrowby.malformed-*") }, QDir::Files | QDir::Hidden);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(seen[0].title, QStringLiteral("Error loading configuration data"));
    QVERIFY2(seen[0].text.contains(QStringLiteral(" kept as %1. Starting from scratch").arg(home.filePath(kept.first()))),
        qPrintable(seen[0].text));
    QCOMPARE(seen[1].title, QStringLiteral("Set Username/Password"));
    QCOMPARE(seen[2].title, QStringLiteral("Share a folder?"));
    QCOMPARE(seen[3].className, QStringLiteral("AddSharedFolderDialog"));
    QCOMPARE(seen[4].title, QStringLiteral("In the future"));

    QFile keptFile(home.filePath(kept.first()));
    QVERIFY(keptFile.open(QIODevice::ReadOnly));
    QCOMPARE(keptFile.readAll(), kBrokenDataFile);

    // The trimmed name is stored, shown and used to log in.
    QCOMPARE(settings.Get("username"), QStringLiteral("newcomer"));
    QCOMPARE(window->Ui().usernameEdit->text(), QStringLiteral("newcomer"));

    const qint64 v = g_currentVersion;
    QCOMPARE(window->windowTitle(),
        QStringLiteral("MarrowbyQt build %1/%2/%3").arg((v % 10000) / 100).arg(v % 100).arg(v / 10000));
    QVERIFY(!window->windowTitle().contains(QStringLiteral("/0")));

    QCOMPARE(settings.Get("data_version"), QStringLiteral("1"));
    QCOMPARE(settings.Get("minimize_to_tray"), QStringLiteral("yes"));
    QCOMPARE(settings.Get("first_open_tab"), QStringLiteral("rooms"));
    QCOMPARE(settings.Get("color_transfer_failed"), QStringLiteral("#ff0a47"));
    QCOMPARE(settings.Get("color_chat_status"), QStringLiteral("#339933"));
    QCOMPARE(settings.Get("color_window_background"), QApplication::palette().color(QPalette::Window).name());
    // Two flags that are "yes" share one value item.
    QCOMPARE(settings.ValueItem("log_room_chat"), settings.ValueItem("log_private_chat"));
    QCOMPARE(window->Ui().tabControl->currentIndex(), 1);
    QCOMPARE(window->focusWidget(), roomsForm->roomList); // the first keys go to the page shown

    // The folder chosen at first start is listed, open to everyone.
    QTreeWidget* list = window->Ui().sharedFoldersList;
    QVERIFY(gui::WaitFor([&] { return list->topLevelItemCount() == 1; }));
    QCOMPARE(list->topLevelItem(0)->text(0), shared.path());
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("Everyone"));
}

void TestFirstStart::sharedFolderIsFoundByAnotherUser()
{
    QVERIFY(Window());
    DriverProcess* finder = session.StartDriver(QStringLiteral("finder"));
    QVERIFY(finder);
    finder->Send(QStringLiteral("search marrowfish"));
    const QString result = finder->WaitFor(QStringLiteral("search-result "));
    QVERIFY2(result.contains(QStringLiteral("newcomer")), qPrintable(result));
    QVERIFY(result.contains(QStringLiteral("marrowfish song.mp3")));
}

void TestFirstStart::rescanReportsAddedAndRemovedFiles()
{
    QVERIFY(Window());
    WriteFile(shared.filePath(QStringLiteral("second.txt")), "b");
    WriteFile(shared.filePath(QStringLiteral("third.txt")), "c");
    session.Window()->OnToolBarActionTriggered(nullptr, QStringLiteral("rescan_shares"));
    SharedFilesRescannedDialog* report = nullptr;
    QVERIFY(gui::WaitFor([&] {
        report = session.Window()->findChild<SharedFilesRescannedDialog*>();
        return report && report->isVisible();
    }));
    QCOMPARE(report->windowTitle(), QStringLiteral("Shared Files Rescanned"));
    QCOMPARE(report->plainTextEdit->toPlainText(), QStringLiteral("2 files added.\n0 files removed."));
    report->close();
}

void TestFirstStart::userListImportGoodAndTruncated()
{
    const QString path = shared.filePath(QStringLiteral("hotlist.cfg"));
    // The explanation, the file dialog, the outcome.
    auto import = [&] {
        gui::ModalAnswerer answers;
        answers.Add(gui::PressButton(QMessageBox::Ok));
        answers.Add(ChooseFile(path));
        answers.Add(gui::PressButton(QMessageBox::Ok));
        Window()->OnImportUserListClicked();
        return answers.Seen().size() == 3 ? answers.Seen()[2].text : QString();
    };
    // A list cut in its second name adds nobody.
    const QByteArray whole = HotList({ "importee_a", "importee_b" });
    WriteFile(path, whole.left(whole.size() - 3));
    QCOMPARE(import(), QStringLiteral("Import could not be completed successfully."));
    QVERIFY(!InUserList("importee_a"));

    WriteFile(path, whole);
    QCOMPARE(import(), QStringLiteral("Import successful."));
    QVERIFY(InUserList("importee_a"));
    QVERIFY(InUserList("importee_b"));
}

GUI_TEST_MAIN(TestFirstStart)
#include "tst_firststart.moc"
