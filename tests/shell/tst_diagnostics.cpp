// The Diagnostics page and the item log window, offscreen.
#include "Data.h"
#include "DiagnosticsForm.h"
#include "ItemLogDialog.h"
#include "Log.h"
#include "LogSink.h"
#include "helper_kit.h"
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QtTest>

namespace {

QStringList ViewLines(QPlainTextEdit* view)
{
    return view->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// What a view shows of a logged text.
QString Shown(const char* text)
{
    return IsolatedText(QString::fromUtf8(text));
}

QList<ItemLogDialog*> OpenLogDialogs()
{
    QList<ItemLogDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<ItemLogDialog*>(w))
            found.append(dialog);
    }
    return found;
}

} // namespace

class TestDiagnostics : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        Type* user = d.NewType("user", kEntity, false, true);
        Type* tracked = d.NewType("is_tracked", kAttribute, true, true);
        user->RelateToType(tracked, Many, One);
    }

    void init()
    {
        LogSink::Instance().Reset();
        d.Clear();
    }

    void areaViewIndentsDetails()
    {
        DiagnosticsForm form;
        QCOMPARE(diagnosticsForm, &form);
        QVERIFY(form.findChild<QComboBox*>()->findText(QStringLiteral("Distributed Network")) >= 0);
        Log(QStringLiteral("Search"), 1, QStringLiteral("Search for abba"));
        Log(QStringLiteral("Search"), 2, QStringLiteral("ticket 17"));
        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("elsewhere"));
        form.ShowArea(QStringLiteral("Search"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QStringList lines = ViewLines(form.LogView());
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral("  ") + Shown("Search for abba")));
        QVERIFY(lines[0].at(0).isDigit());
        QCOMPARE(lines[1], QString(25, QLatin1Char(' ')) + Shown("ticket 17"));

        // New lines of the shown area come in live; others' do not.
        Log(QStringLiteral("Search"), 1, QStringLiteral("Search for bach"));
        Log(QStringLiteral("Search"), 2, QStringLiteral("ticket 18"));
        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("still elsewhere"));
        QTRY_COMPARE(ViewLines(form.LogView()).size(), 4);
        lines = ViewLines(form.LogView());
        QVERIFY(lines[2].endsWith(Shown("Search for bach")));
        QVERIFY(lines[3].startsWith(QStringLiteral("    ")));

        // Switching the area shows that area's log.
        form.ShowArea(QStringLiteral("Transfer Queue"));
        lines = ViewLines(form.LogView());
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[1].endsWith(Shown("still elsewhere")));

        // An area nobody named before joins the list.
        Log(QStringLiteral("Odd Area"), 1, QStringLiteral("x"));
        QVERIFY(form.findChild<QComboBox*>()->findText(QStringLiteral("Odd Area")) >= 0);

        // A line of any length (a peer's reason, say) is shown cut.
        Log(QStringLiteral("Transfer Queue"), 1, QString(100000, QLatin1Char('y')));
        QTRY_COMPARE(ViewLines(form.LogView()).size(), 3);
        QVERIFY(ViewLines(form.LogView()).last().size() < 5000);
    }

    void hiddenViewCatchesUpWhenShown()
    {
        DiagnosticsForm form;
        form.ShowArea(QStringLiteral("Server"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.hide();
        for (int n = 0; n < 5000; ++n)
            Log(QStringLiteral("Server"), 1, QStringLiteral("line %1").arg(n));
        QCoreApplication::processEvents();
        QVERIFY(form.LogView()->toPlainText().isEmpty());
        form.show();
        QCoreApplication::processEvents();
        const QStringList lines = ViewLines(form.LogView());
        QCOMPARE(lines.size(), LogSink::kAreaCap);
        QVERIFY(lines.front().endsWith(Shown("line 3000")));
        QVERIFY(lines.back().endsWith(Shown("line 4999")));

        // A burst while shown still keeps the view to the cap.
        for (int n = 0; n < 3000; ++n)
            Log(QStringLiteral("Server"), 1, QStringLiteral("more %1").arg(n));
        QTRY_VERIFY(ViewLines(form.LogView()).back().endsWith(Shown("more 2999")));
        QCOMPARE(form.LogView()->blockCount(), LogSink::kAreaCap);
    }

    void itemLogDialogFollowsItsItem()
    {
        ItemPtr alice = d.GetType("user")->GetItem("alice");
        ItemPtr bob = d.GetType("user")->GetItem("bob");
        Log(QStringLiteral("Peer Messenger"), 1, QStringLiteral("first"), alice);
        Log(QStringLiteral("Peer Messenger"), 1, QStringLiteral("for bob"), bob);
        Log(QStringLiteral("Peer Messenger"), 2, QStringLiteral("second"), alice);

        QPointer<ItemLogDialog> dialog = new ItemLogDialog(alice);
        dialog->show();
        QStringList lines = ViewLines(dialog->LogView());
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral("  ") + Shown("first")));
        QVERIFY(lines[1].endsWith(QStringLiteral("    ") + Shown("second")));

        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("third"), alice);
        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("bob again"), bob);
        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("no item"));
        lines = ViewLines(dialog->LogView());
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[2].endsWith(Shown("third")));

        // The item may go while the window stays; a new item is not confused
        // with it.
        alice.Remove();
        ItemPtr newAlice = d.GetType("user")->GetItem("alice");
        Log(QStringLiteral("Transfer Queue"), 1, QStringLiteral("new alice"), newAlice);
        QCOMPARE(ViewLines(dialog->LogView()).size(), 3);

        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
    }

    void trackedUsersAndTheirLogs()
    {
        ItemPtr early = d.GetType("user")->GetItem("early");
        early += d.GetType("is_tracked")->GetGlobalNullItem();
        d.GetType("user")->GetItem("untracked");

        DiagnosticsForm form;
        form.Init();
        form.RegisterLoggableItemType("user");
        QListWidget* list = form.TrackedUserList();
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), Shown("early"));

        ItemPtr late = d.GetType("user")->GetItem("late");
        late += d.GetType("is_tracked")->GetGlobalNullItem();
        QCOMPARE(list->count(), 2);
        late.Disconnect("is_tracked");
        QCOMPARE(list->count(), 1);
        late += d.GetType("is_tracked")->GetGlobalNullItem();
        late.Remove();
        QCOMPARE(list->count(), 1);

        // The user's log opens from the list, and its lines are `item_log`
        // items of the user.
        Log(QStringLiteral("Peer Messenger"), 1, QStringLiteral("hello early"), early);
        QCOMPARE(early.CountItems("item_log"), size_t(1));
        list->setCurrentRow(0);
        QVERIFY(OpenLogDialogs().isEmpty());
        form.UserLogAction()->trigger();
        const QList<ItemLogDialog*> dialogs = OpenLogDialogs();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(ViewLines(dialogs[0]->LogView()).value(0).endsWith(Shown("hello early")));
        QCOMPARE(dialogs[0]->windowTitle(), Shown("early") + QStringLiteral(" Log"));
        delete dialogs[0];

        // A peer whose name would run the rest of the line backwards: its row,
        // its log lines in the area and in its window, and the window's title
        // show it isolated, line by line.
        ItemPtr hostile = d.GetType("user")->GetItem(Value(kHostileName));
        hostile += d.GetType("is_tracked")->GetGlobalNullItem();
        QCOMPARE(list->count(), 2);
        QVERIFY(ShowsIsolated(list->item(1)->text(), kHostileName));
        const QString first = QStringLiteral("Upload of %1 to %1 denied").arg(kHostileName);
        const QString second = QStringLiteral("asked again by %1").arg(kHostileName);
        Log(QStringLiteral("Peer Messenger"), 1, first + QLatin1Char('\n') + second, hostile);
        form.ShowArea(QStringLiteral("Peer Messenger"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QStringList area = ViewLines(form.LogView());
        QVERIFY(ShowsIsolated(area.value(area.size() - 2), first));
        QVERIFY(ShowsIsolated(area.value(area.size() - 1), second));
        list->setCurrentRow(1);
        form.UserLogAction()->trigger();
        QCOMPARE(OpenLogDialogs().size(), 1);
        ItemLogDialog* dialog = OpenLogDialogs().first();
        QVERIFY(ShowsIsolated(dialog->windowTitle(), kHostileName));
        const QStringList own = ViewLines(dialog->LogView());
        QCOMPARE(own.size(), 2);
        QVERIFY(ShowsIsolated(own[0], first));
        QVERIFY(ShowsIsolated(own[1], second));
        delete dialog;
        hostile.Remove();

        early.Remove();
        QCOMPARE(list->count(), 0);
    }
};

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
