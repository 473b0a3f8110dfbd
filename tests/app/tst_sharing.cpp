// The shared-folder list of the Options page and the add-folder dialog: access
// by groups and for everyone, folders too wide to share by a slip, unsharing,
// and a dialog whose folder or group goes while it is open.
#include "gui/GuiTest.h"
#include "pages/browse/AddSharedFolderDialog.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "shell/Kit.h"
#include <QCheckBox>
#include <QPushButton>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>

namespace {

ItemPtr Group(const char* name)
{
    return d.GetType("user_list_group")->GetItem(name);
}

// The one add-folder dialog that is open, or null.
AddSharedFolderDialog* OpenDialog()
{
    AddSharedFolderDialog* found = nullptr;
    gui::WaitFor([&] {
        for (auto* dialog : mainWindow->findChildren<AddSharedFolderDialog*>())
            if (dialog->isVisible())
                found = dialog;
        return found != nullptr;
    }, 5000);
    return found;
}

void CheckGroups(AddSharedFolderDialog* dialog, const QStringList& names)
{
    for (int i = 0; i < dialog->groupsListWidget->count(); ++i) {
        QListWidgetItem* row = dialog->groupsListWidget->item(i);
        row->setCheckState(names.contains(row->text()) ? Qt::Checked : Qt::Unchecked);
    }
}

} // namespace

class TestSharing : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir first;
    QTemporaryDir second;

    QTreeWidget* List() { return session.Window()->Ui().sharedFoldersList; }
    // Selects the folder's row and opens its permissions.
    AddSharedFolderDialog* EditFolder(const QString& path)
    {
        List()->clearSelection();
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            if (List()->topLevelItem(i)->text(0) == path)
                List()->topLevelItem(i)->setSelected(true);
        session.Window()->OnSetFolderPermissions();
        return OpenDialog();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("sharer")));
    }
    // Every function starts with no folder shared, no dialog open and both
    // groups there, whatever the one before left: one fault, one failure.
    void init()
    {
        for (auto* dialog : mainWindow->findChildren<AddSharedFolderDialog*>())
            delete dialog;
        for (ItemPtr folder : d.GetType("shared_folder")->GetItems().ToList())
            folder.Remove();
        d.RemoveDisconnectedItems();
        Group("zeta");
        Group("alpha");
        QCOMPARE(List()->topLevelItemCount(), 0);
    }
    void groupsAndEveryoneShowInTheList();
    void dialogClosesWhenItsFolderIsUnshared();
    void deletedGroupIsNotMadeAgain();
};

void TestSharing::groupsAndEveryoneShowInTheList()
{
    session.Window()->OnToolBarActionTriggered(nullptr, QStringLiteral("share_folder"));
    AddSharedFolderDialog* dialog = OpenDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->focusWidget(), dialog->selectFolderButton); // Return chooses a folder, not OK
    QVERIFY(!dialog->userListCheckBox->isEnabled());
    QVERIFY(!dialog->groupsListWidget->isEnabled());
    // OK without a folder does nothing.
    dialog->accept();
    QVERIFY(dialog->isVisible());
    // A slip in the chooser: the root folder is refused; the whole home
    // folder, or one that holds the data file, is shared only when the user
    // says so.
    // A link to such a folder is the folder it points to.
    {
        QTemporaryDir links;
        QVERIFY(QFile::link(QStringLiteral("/"), links.filePath(QStringLiteral("root"))));
        QVERIFY(QFile::link(session.Home(), links.filePath(QStringLiteral("home"))));
        gui::ModalAnswerer answers;
        for (int i = 0; i < 3; ++i)
            answers.Add(gui::PressButton(QMessageBox::No));
        for (const QString& slip : { QStringLiteral("/tmp/.."), session.Home(), session.Home() + QStringLiteral("/.."),
                 links.filePath(QStringLiteral("root")), links.filePath(QStringLiteral("home")) }) {
            dialog->selectedFolderEdit->setText(slip);
            dialog->accept();
            QVERIFY(dialog->isVisible());
        }
        QCOMPARE(answers.Seen().size(), 5);
        QCOMPARE(answers.Seen()[0].title, QStringLiteral("Folder not shared"));
        QVERIFY(answers.Seen()[1].text.contains(QLatin1String("is your whole home folder")));
        QVERIFY(answers.Seen()[2].text.contains(QLatin1String("holds the client's data file")));
        QCOMPARE(answers.Seen()[3].title, QStringLiteral("Folder not shared"));
        QVERIFY(answers.Seen()[4].text.contains(QLatin1String("is your whole home folder")));
        QVERIFY(!answers.Pending());
        QCOMPARE(List()->topLevelItemCount(), 0);
    }
    dialog->selectedFolderEdit->setText(first.path());
    dialog->everyoneCheckBox->setChecked(false);
    QVERIFY(dialog->userListCheckBox->isEnabled());
    QVERIFY(!dialog->groupsListWidget->isEnabled());
    dialog->userListCheckBox->setChecked(false);
    QVERIFY(dialog->groupsListWidget->isEnabled());
    CheckGroups(dialog, { QStringLiteral("zeta"), QStringLiteral("alpha") });
    dialog->accept();
    QVERIFY(gui::WaitFor([&] { return List()->topLevelItemCount() == 1; }));
    QCOMPARE(List()->topLevelItem(0)->text(1), QStringLiteral("alpha, zeta"));

    // Reopened, it shows the groups; made public, the list says so.
    dialog = EditFolder(first.path());
    QVERIFY(dialog);
    QVERIFY(!dialog->everyoneCheckBox->isChecked());
    QVERIFY(!dialog->userListCheckBox->isChecked());
    QVERIFY(dialog->groupsListWidget->isEnabled());
    QCOMPARE(dialog->groupsListWidget->item(0)->checkState(), Qt::Checked);
    QVERIFY(!dialog->selectFolderButton->isEnabled());
    dialog->everyoneCheckBox->setChecked(true);
    dialog->accept();
    QCOMPARE(List()->topLevelItem(0)->text(1), QStringLiteral("Everyone"));
}

void TestSharing::dialogClosesWhenItsFolderIsUnshared()
{
    sharedFoldersManager->AddSharedFolder(first.path());
    QPointer<AddSharedFolderDialog> dialog = EditFolder(first.path());
    QVERIFY(dialog);
    session.Window()->OnUnshareFolder();
    QCOMPARE(List()->topLevelItemCount(), 0);
    QVERIFY(d.GetType("shared_folder")->HasItem(Value(first.path())).IsNull());
    QVERIFY(gui::WaitFor([&] { return dialog.isNull(); }));
}

void TestSharing::deletedGroupIsNotMadeAgain()
{
    session.Window()->OnToolBarActionTriggered(nullptr, QStringLiteral("share_folder"));
    AddSharedFolderDialog* dialog = OpenDialog();
    QVERIFY(dialog);
    dialog->selectedFolderEdit->setText(second.path());
    dialog->everyoneCheckBox->setChecked(false);
    dialog->userListCheckBox->setChecked(false);
    CheckGroups(dialog, { QStringLiteral("alpha"), QStringLiteral("zeta") });
    Group("alpha").Remove();
    dialog->accept();
    QVERIFY(d.GetType("user_list_group")->HasItem("alpha").IsNull());
    QVERIFY(gui::WaitFor([&] { return List()->topLevelItemCount() == 1; }));
    QCOMPARE(List()->topLevelItem(0)->text(1), QStringLiteral("zeta"));
}

GUI_TEST_MAIN(TestSharing)
#include "tst_sharing.moc"
