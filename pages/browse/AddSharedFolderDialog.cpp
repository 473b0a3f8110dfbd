#include "AddSharedFolderDialog.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Kit.h"
#include "shell/QuestionBox.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>

namespace {

// The folder as the disk has it: links followed, "." and ".." resolved.
QString RealPath(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

} // namespace

AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr folder, QWidget* parent)
    : QDialog(parent)
    , m_folder(folder)
{
    setObjectName(QStringLiteral("AddSharedFolderDialog"));
    resize(359, 414);
    setWindowTitle(tr("Add Shared Folder"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layoutWidget = new QWidget(this);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    layoutWidget->setGeometry(QRect(0, 0, 341, 34));
    auto* horizontalLayout = new QHBoxLayout(layoutWidget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    selectFolderButton = new QPushButton(tr("Select &Folder"), layoutWidget);
    selectFolderButton->setObjectName(QStringLiteral("selectFolderButton"));
    selectedFolderEdit = new QLineEdit(layoutWidget);
    selectedFolderEdit->setObjectName(QStringLiteral("selectedFolderEdit"));
    selectedFolderEdit->setReadOnly(true);
    // The folder is chosen with the button: the field shows the choice and
    // looks like a field that shows, not one that takes typing.
    selectedFolderEdit->setPlaceholderText(tr("No folder chosen"));
    QPalette shown = selectedFolderEdit->palette();
    shown.setColor(QPalette::Base, shown.color(QPalette::Window));
    selectedFolderEdit->setPalette(shown);
    horizontalLayout->addWidget(selectFolderButton);
    horizontalLayout->addWidget(selectedFolderEdit);

    everyoneCheckBox = new QCheckBox(tr("Folder accessible to everyone"), this);
    everyoneCheckBox->setObjectName(QStringLiteral("everyoneCheckBox"));
    everyoneCheckBox->setGeometry(QRect(20, 60, 221, 17));
    everyoneCheckBox->setChecked(true);
    userListCheckBox = new QCheckBox(tr("Folder accessible to all user list users"), this);
    userListCheckBox->setObjectName(QStringLiteral("userListCheckBox"));
    userListCheckBox->setGeometry(QRect(20, 90, 261, 17));
    userListCheckBox->setChecked(true);
    userListCheckBox->setEnabled(false);
    label = new QLabel(tr("Folder accessible to specific user list groups:"), this);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(20, 130, 291, 16));
    groupsListWidget = new QListWidget(this);
    groupsListWidget->setObjectName(QStringLiteral("groupsListWidget"));
    groupsListWidget->setGeometry(QRect(20, 160, 321, 192));
    groupsListWidget->setEnabled(false);
    groupsListWidget->setSortingEnabled(true);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setGeometry(QRect(170, 370, 171, 32));

    connect(buttonBox, &QDialogButtonBox::accepted, this, &AddSharedFolderDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &AddSharedFolderDialog::reject);
    connect(selectFolderButton, &QPushButton::clicked, this, &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(everyoneCheckBox, &QCheckBox::stateChanged, this,
        &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(userListCheckBox, &QCheckBox::stateChanged, this,
        &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);

    if (!m_folder.IsNull()) {
        selectFolderButton->setEnabled(false);
        selectedFolderEdit->setEnabled(false);
        selectedFolderEdit->setText(m_folder.AsString());
        everyoneCheckBox->setChecked(m_folder.IsConnected("shared_public"));
        userListCheckBox->setChecked(m_folder.IsConnected("shared_public") || m_folder.IsConnected("shared_userlist"));
        Subscribe(d.GetType("shared_folder")->itemRemoved, &AddSharedFolderDialog::OnFolderRemoved);
    }

    // The dialog opens on the folder's choice (on who may see it, for a
    // folder shared already), not on OK.
    if (m_folder.IsNull())
        selectFolderButton->setFocus();
    else
        everyoneCheckBox->setFocus();

    if (Type* groups = d.HasType("user_list_group")) {
        for (ItemPtr group : groups->GetItems()) {
            auto* row = new QListWidgetItem(group.AsString(), groupsListWidget);
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(!m_folder.IsNull() && m_folder.IsConnected(group) ? Qt::Checked : Qt::Unchecked);
        }
    }
}

AddSharedFolderDialog::~AddSharedFolderDialog() = default;

void AddSharedFolderDialog::OnFolderRemoved(ItemPtr folder)
{
    if (folder != m_folder)
        return;
    m_folder = ItemPtr();
    reject();
}

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int state)
{
    if (state == Qt::Checked) {
        userListCheckBox->setEnabled(false);
        userListCheckBox->setChecked(true);
        groupsListWidget->setEnabled(false);
    } else if (state == Qt::Unchecked) {
        userListCheckBox->setEnabled(true);
        groupsListWidget->setEnabled(!userListCheckBox->isChecked());
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int state)
{
    if (state == Qt::Checked)
        groupsListWidget->setEnabled(false);
    else if (state == Qt::Unchecked)
        groupsListWidget->setEnabled(true);
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    const QString path = QFileDialog::getExistingDirectory(
        this, tr("Select Folder to Share"), ChooserStart(selectedFolderEdit->text()), QFileDialog::ShowDirsOnly);
    if (!path.isEmpty())
        selectedFolderEdit->setText(QDir::fromNativeSeparators(path));
}

void AddSharedFolderDialog::accept()
{
    const QString path = selectedFolderEdit->text();
    if (path.isEmpty())
        return;
    ItemPtr folder = m_folder;
    if (folder.IsNull()) {
        if (!sharedFoldersManager || !MayShare(path))
            return;
        folder = sharedFoldersManager->AddSharedFolder(path);
        if (folder.IsNull())
            return;
    }
    if (everyoneCheckBox->isChecked()) {
        folder.NewItem("shared_public");
    } else {
        folder.GetItems("shared_public").Remove();
        if (userListCheckBox->isChecked()) {
            folder.NewItem("shared_userlist");
        } else {
            folder.GetItems("shared_userlist").Remove();
            Type* groups = d.HasType("user_list_group");
            for (int i = 0; groups && i < groupsListWidget->count(); ++i) {
                QListWidgetItem* row = groupsListWidget->item(i);
                // A group deleted meanwhile is skipped, not made again.
                ItemPtr group = groups->HasItem(Value(row->text()));
                if (group.IsNull())
                    continue;
                if (row->checkState() == Qt::Checked)
                    folder.Connect(group);
                else
                    folder.Disconnect(group);
            }
        }
    }
    QDialog::accept();
}

bool AddSharedFolderDialog::MayShare(const QString& path)
{
    const QString folder = RealPath(path);
    if (folder == QLatin1String("/")) {
        QMessageBox box(QMessageBox::Warning, tr("Folder not shared"),
            tr("The root folder \"/\" holds the whole system, password and key files among them, so it "
               "can't be shared. Choose a folder of the files you want to offer."),
            QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    const QString home = RealPath(QDir::homePath());
    const QFileInfo data(DataSaver::DefaultPath());
    const QString dataFile = RealPath(data.absolutePath()) + u'/' + data.fileName();
    QString why;
    if (folder == home)
        why = tr("%1 is your whole home folder: every file in it, your private files and the client's "
                 "data file with your password among them, would be offered to other users.")
                  .arg(folder);
    else if (dataFile.startsWith(folder + u'/'))
        why = tr("%1 holds the client's data file (%2), which keeps your password: other users could "
                 "download it.")
                  .arg(folder, dataFile);
    return why.isEmpty() || AskYes(tr("Share this folder?"), why + tr(" Share it anyway?"));
}
