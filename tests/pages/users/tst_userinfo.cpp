// User information both ways, with the real main window and a driver as the
// other client: our answer (description, slots, picture, and pictures that may
// not go out), and the information tab filled from the driver's answer.
#include "gui/GuiTest.h"
#include "helper_users.h"
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTabWidget>

namespace {

QString WritePicture(const QString& path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(path, "PNG");
    return path;
}

QString Md5(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex());
}

QImage ShownPicture(UserInfoForm* form)
{
    return form->UserInfoText()->document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("UserImage")))
        .value<QImage>();
}

} // namespace

class TestUserInfo : public QObject {
    Q_OBJECT
    gui::Session session;
    DriverProcess* bob = nullptr;

    // Asks as bob; the fields of our answer as bob printed them.
    QStringList Ask()
    {
        bob->Send(QStringLiteral("user-info alice"));
        const QString line = bob->WaitFor(QStringLiteral("user-info alice "));
        return line.split(QLatin1Char(' ')).mid(2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
    }

    // Our answer: description, slots, queue and free flag as the settings and
    // the engine say; the picture only when it is a readable image file of at
    // most 8 MiB, each refusal logged once.
    void ourAnswer()
    {
        settings.Set("user_description", "");
        settings.Set("user_picture_file", "");
        const QString uploadSlots = QString::number(settings.GetInt("upload_slots"));
        const QString free = transferQueueManager->IsFreeToUpload() ? "1" : "0";
        QCOMPARE(Ask().mid(0, 4), (QStringList { uploadSlots, "0", free, "-1" }));

        settings.Set("user_description", "Hello from alice");
        const QString picture = WritePicture(session.Home() + QStringLiteral("/me.png"), 30, 20);
        settings.Set("user_picture_file", Value(picture));
        QStringList fields = Ask();
        QCOMPARE(fields.mid(3, 1), QStringList { QString::number(QFile(picture).size()) });
        QCOMPARE(fields.mid(4).join(' '), QStringLiteral("Hello from alice"));
        QCOMPARE(bob->WaitFor(QStringLiteral("user-info-picture alice")),
            QStringLiteral("user-info-picture alice %1 %2").arg(QFile(picture).size()).arg(Md5(picture)));

        // Pictures that don't go out.
        QFile text(session.Home() + QStringLiteral("/notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not an image at all");
        text.close();
        QFile big(session.Home() + QStringLiteral("/big.png"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QFile small(picture);
        QVERIFY(small.open(QIODevice::ReadOnly));
        big.write(small.readAll());
        big.write(QByteArray(8 * 1024 * 1024, 'x'));
        big.close();
        for (const QString& path : { session.Home() + QStringLiteral("/missing.png"), text.fileName(), big.fileName(),
                 QStringLiteral("/dev/zero") }) {
            settings.Set("user_picture_file", Value(path));
            const size_t logged = LogSink::Instance().AreaLineCount(QStringLiteral("User Info"));
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(Ask().mid(3, 1), QStringList { "-1" });
            QCOMPARE(Ask().mid(3, 1), QStringList { "-1" });
            QVERIFY2(timer.elapsed() < 5000, qPrintable(path));
            QCOMPARE(LogSink::Instance().AreaLineCount(QStringLiteral("User Info")), logged + 1);
        }

        // A description beyond what a reader takes is cut, not refused.
        settings.Set("user_picture_file", "");
        settings.Set("user_description", Value(QString(200000, QLatin1Char('y'))));
        QCOMPARE(Ask().value(4).size(), 131072);
        settings.Set("user_description", "");
    }

    // A tab filled from bob's answer: fields, picture scaled into 800 x 400,
    // description with its line breaks; one tab and one request per user.
    void informationTab()
    {
        const int asked = bob->Lines().filter(QStringLiteral("user-info-requested alice")).size();
        UserInfoForm* form = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        QVERIFY(form);
        QVERIFY(!bob->WaitFor(QStringLiteral("user-info-requested alice")).isEmpty());
        QCOMPARE(userListForm->GetUserInfoForm(QStringLiteral("bob")), form);
        QVERIFY(bob->Sync());
        QCOMPARE(bob->Lines().filter(QStringLiteral("user-info-requested alice")).size(), asked + 1);
        QCOMPARE(form->UserInfoText()->toPlainText(), QStringLiteral("Requesting..."));

        const QString wide = WritePicture(session.Home() + QStringLiteral("/wide.png"), 1600, 400);
        bob->Send(QStringLiteral("send-user-info-picture alice 3 7 1 %1 First line\\nsecond <b>line</b>").arg(wide));
        QVERIFY(gui::WaitFor([&] { return form->UploadSlotsEdit()->text() == QLatin1String("3"); }));
        QCOMPARE(form->QueuedUploadsEdit()->text(), QStringLiteral("7"));
        QCOMPARE(form->FreeToUploadEdit()->text(), QStringLiteral("Yes"));
        QCOMPARE(ShownPicture(form).size(), QSize(800, 200));
        QVERIFY(form->UserInfoText()->toPlainText().contains(QStringLiteral("First line\nsecond line")));
        QVERIFY(form->UserInfoText()->toHtml().contains(QStringLiteral("font-weight")));
        QVERIFY(!form->IsWaiting());

        const QString tall = WritePicture(session.Home() + QStringLiteral("/tall.png"), 400, 1000);
        bob->Send(QStringLiteral("send-user-info-picture alice 3 7 0 %1").arg(tall));
        QVERIFY(gui::WaitFor([&] { return form->FreeToUploadEdit()->text() == QLatin1String("No"); }));
        QCOMPARE(ShownPicture(form).size(), QSize(160, 400));
    }

    // A description that points at local files or devices loads nothing and
    // returns at once; only http and https links would open.
    void hostileDescription()
    {
        UserInfoForm* form = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        const int refused = form->UserInfoText()->RefusedLoads();
        QElapsedTimer timer;
        timer.start();
        bob->Send(QStringLiteral("send-user-info alice 1 0 1 <img src=\"/dev/zero\"><img src=\"file:///etc/passwd\">"
                                 "<div style=\"background-image: url(/dev/urandom)\">hostile</div>"));
        QVERIFY(gui::WaitFor([&] { return form->UserInfoText()->toPlainText().contains(QStringLiteral("hostile")); }));
        form->UserInfoText()->document()->size(); // laid out: every resource asked for
        userListForm->Tabs()->setCurrentIndex(1);
        userListForm->UserInfoTabs()->setCurrentWidget(form);
        form->UserInfoText()->grab(); // painted
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(form->UserInfoText()->RefusedLoads() > refused);
        QVERIFY(!form->UserInfoText()->openLinks());
    }

    // A failed messaging connection shows the failure; a closed tab hears no
    // late answer, leaves no item, and a new request opens a new tab.
    void failureAndClosing()
    {
        UserInfoForm* lost = userListForm->GetUserInfoForm(QStringLiteral("nobody_online"));
        QVERIFY(gui::WaitFor([&] { return !lost->IsWaiting(); }, 120000));
        QCOMPARE(lost->UserInfoText()->toPlainText(),
            QStringLiteral("A connection could not be successfully formed to the user."));

        QTabWidget* tabs = userListForm->UserInfoTabs();
        QPointer<UserInfoForm> form = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        eventToolBar->AddEvent(QStringLiteral("bob"), QStringLiteral(":/icons/info_icon"), form, QString(), QString(), false);
        userListForm->OnUserInfoTabCloseRequested(tabs->indexOf(form));
        QVERIFY(!FindUser(QStringLiteral("bob")).IsConnected("user_info_form"));
        for (QAction* action : eventToolBar->EventActions())
            QVERIFY(action->text() != QLatin1String("bob"));
        bob->Send(QStringLiteral("send-user-info alice 9 9 1 late"));
        QVERIFY(bob->Sync());
        QVERIFY(gui::WaitFor([&] { return form.isNull(); }));

        UserInfoForm* again = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        QVERIFY(again);
        QCOMPARE(again->UserInfoText()->toPlainText(), QStringLiteral("Requesting..."));
        QVERIFY(!bob->WaitFor(QStringLiteral("user-info-requested alice")).isEmpty());
    }
};

GUI_TEST_MAIN(TestUserInfo)
#include "tst_userinfo.moc"
