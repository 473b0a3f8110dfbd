#pragma once
// Shares a new folder, or changes who may see a shared one: everyone, every
// user of the user list, or the members of chosen user-list groups. The choice
// is written as links on the `shared_folder` item when OK is pressed; Cancel
// writes nothing. The dialog deletes itself when closed. A new folder that
// would expose the whole system or the password is not shared as a slip.
//
// While it edits a folder, the folder may be unshared from elsewhere: the
// dialog then closes, as there is nothing left to edit. A group deleted while
// the dialog is open is skipped on OK, never made again.
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class AddSharedFolderDialog : public QDialog, public DataHandler {
    Q_OBJECT
public:
    // folder: the `shared_folder` to edit, or null to share a new folder.
    AddSharedFolderDialog(ItemPtr folder, QWidget* parent = nullptr);
    ~AddSharedFolderDialog() override;

    QPushButton* selectFolderButton;
    QLineEdit* selectedFolderEdit;
    QCheckBox* everyoneCheckBox;
    QCheckBox* userListCheckBox;
    QLabel* label;
    QListWidget* groupsListWidget;
    QDialogButtonBox* buttonBox;

public slots:
    void OnSelectFolderClicked();
    void accept() override;
    void OnAccessibleToEveryoneCheckStateChanged(int state);
    void OnAccessibleToUserListCheckStateChanged(int state);

private:
    void OnFolderRemoved(ItemPtr folder);
    // The root folder is refused; one that holds the data file (and its
    // password) or is the whole home folder is shared only when the user
    // says so.
    bool MayShare(const QString& path);

    ItemPtr m_folder;
};
