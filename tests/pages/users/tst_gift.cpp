// Gifting privileges from an account that has them, on a stand-in server that
// gives alice privileges at start, to bob as a driver.
#include "gui/GuiTest.h"
#include "helper_users.h"
#include "pages/users/GiftPrivilegesDialog.h"
#include "pages/users/UserMenuOptions.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "store/Settings.h"
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

class TestGift : public QObject {
    Q_OBJECT
    gui::Session session;
    StandinServer privileged;
    DriverProcess bob;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        // This test's own server, where alice holds privileges.
        QVERIFY(privileged.Start({ QStringLiteral("--privileged"), QStringLiteral("alice") }));
        qputenv("MARROWBY_SERVER", QStringLiteral("127.0.0.1:%1").arg(privileged.Port()).toUtf8());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        QVERIFY(bob.Start(QStringLiteral("bob"), privileged.Port()));
    }

    void giftWhileLoggedIn()
    {
        QVERIFY(gui::WaitFor([] { return settings.GetInt("privileges_time_left") > 0; }));
        QVERIFY(MenuTexts(QStringLiteral("bob")).contains(QStringLiteral("Gift Privileges")));
        QMenu menu;
        UserMenuOptions(&menu, QStringLiteral("bob"), nullptr).OnGiftPrivileges();
        auto* dialog = qApp->findChild<GiftPrivilegesDialog*>();
        if (!dialog)
            for (QWidget* w : QApplication::topLevelWidgets())
                if ((dialog = qobject_cast<GiftPrivilegesDialog*>(w)))
                    break;
        QVERIFY(dialog);
        QPointer<GiftPrivilegesDialog> alive = dialog;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Gift Privileges to ") + IsolatedText(QStringLiteral("bob")));

        // The field takes at most four digits; 0 and empty send nothing.
        dialog->DaysEdit()->setText(QStringLiteral("123456"));
        QCOMPARE(dialog->DaysEdit()->text(), QStringLiteral("1234"));
        dialog->DaysEdit()->setText(QStringLiteral("0"));
        dialog->GiftButton()->click();
        QVERIFY(alive);

        // Logged out: the button is off and a click sends nothing.
        gp_server->Disconnect();
        QVERIFY(gui::WaitFor([&] { return !dialog->GiftButton()->isEnabled(); }));
        dialog->DaysEdit()->setText(QStringLiteral("2"));
        dialog->OnGiftClicked();
        QVERIFY(alive);
        gp_server->Connect();
        QVERIFY(gui::WaitFor([&] { return dialog->GiftButton()->isEnabled(); }));

        dialog->GiftButton()->click();
        QVERIFY(gui::WaitFor([&] { return alive.isNull(); }));
        QVERIFY(gui::WaitFor([&] {
            bob.Send(QStringLiteral("privileges"));
            const int seconds = bob.WaitFor(QStringLiteral("privileges "), 2000).section(' ', 1).toInt();
            return seconds > 2 * 86400 - 600 && seconds <= 2 * 86400;
        }));
    }
};

GUI_TEST_MAIN(TestGift)
#include "tst_gift.moc"
