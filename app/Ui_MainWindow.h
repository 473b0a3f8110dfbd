#pragma once
// The main window's widget tree, written by hand in the shape a form generator
// would give it: one member per widget and layout, named like the widget's
// object name. setupUi builds everything in document order (the pages, then the
// option groups in tab order, then the tool bar); retranslateUi sets the texts.
#include <QtGlobal>

class ActionSetToolBar;
class ChatsForm;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QVBoxLayout;
class QWidget;
class RoomsForm;
class SearchForm;
class SharesForm;
class TabWidget;
class TransfersForm;
class UserListForm;

class Ui_MainWindow {
public:
    QWidget* centralWidget;
    QGridLayout* gridLayout_2;
    TabWidget* tabControl;

    QWidget* transfersTab;
    QHBoxLayout* horizontalLayout;
    TransfersForm* transfersForm;
    QWidget* roomsTab;
    QHBoxLayout* horizontalLayout_2;
    RoomsForm* roomsForm;
    QWidget* chatTab;
    QHBoxLayout* horizontalLayout_4;
    ChatsForm* chatsForm;
    QWidget* searchTab;
    QVBoxLayout* verticalLayout_2;
    SearchForm* searchForm;
    QWidget* tab_2;
    QHBoxLayout* horizontalLayout_6;
    UserListForm* userListForm;
    QWidget* sharesTab;
    QHBoxLayout* horizontalLayout_7;
    SharesForm* sharesForm;
    QWidget* optionsTab;
    QHBoxLayout* horizontalLayout_8;
    TabWidget* optionsTabControl;

    // Login.
    QWidget* loginOptionsTab;
    QWidget* gridLayoutWidget;
    QGridLayout* gridLayout;
    QHBoxLayout* horizontalLayout_25;
    QLabel* label_2;
    QHBoxLayout* horizontalLayout_26;
    QLineEdit* usernameEdit;
    QLabel* label_4;
    QLineEdit* listeningPortEdit;
    QPushButton* checkPortsButton;
    QLabel* obfuscatedPortLabel;
    QLabel* listeningProblemLabel;
    QLabel* offlineReasonLabel;
    QCheckBox* uPnPCheckBox;

    // File Sharing.
    QWidget* fileSharingOptionsTab;
    QHBoxLayout* horizontalLayout_3;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout_5;
    QLabel* label_3;
    QLineEdit* downloadFolderEdit;
    QLabel* downloadFolderSpacer;
    QLabel* label;
    QTreeWidget* sharedFoldersList;
    QCheckBox* acceptUserListUploadsCheckBox;
    QCheckBox* emptyShareWarningCheckBox;
    QHBoxLayout* horizontalLayout_9;
    QLineEdit* emptyShareWarningEdit;
    QPushButton* saveEmptyShareWarningMessageButton;
    QHBoxLayout* horizontalLayout_10;
    QLabel* label_6;
    QSpinBox* maxUploadsPerUserSpinBox;
    QHBoxLayout* horizontalLayout_11;
    QLabel* label_8;
    QLineEdit* excludedExtensionsEdit;
    QPushButton* editExcludedExtensionsButton;
    QCheckBox* dontDownloadSingleFilesIntoSubfolders;

    // UI.
    QWidget* tab;
    QWidget* layoutWidget;
    QVBoxLayout* verticalLayout_5;
    QCheckBox* minimizeToTrayCheckBox;
    QCheckBox* useOldStyleSearchResultsCheckBox;
    QCheckBox* autoExpandSharesCheckBox;
    QHBoxLayout* horizontalLayout_19;
    QLabel* label_13;
    QComboBox* firstOpenTabBox;
    QHBoxLayout* horizontalLayout_14;
    QLabel* label_5;
    QComboBox* chatTimestampsBox;
    QCheckBox* showAwayStatusCheckBox;
    QCheckBox* openGroupsOnUserAddCheckBox;
    QCheckBox* showDiagnosticsCheckBox;
    QCheckBox* showEventButtonsCheckBox;
    QPushButton* selectColorsButton;

    // General.
    QWidget* tab_3;
    QWidget* layoutWidget1;
    QVBoxLayout* verticalLayout_6;
    QCheckBox* logRoomChatCheckBox;
    QCheckBox* logPrivateChatCheckBox;
    QHBoxLayout* horizontalLayout_24;
    QLabel* label_7;
    QComboBox* codePageBox;
    QCheckBox* userLevelLoggingCheckBox;

    // User Info.
    QWidget* tab_4;
    QHBoxLayout* horizontalLayout_13;
    QVBoxLayout* verticalLayout_3;
    QHBoxLayout* horizontalLayout_12;
    QPushButton* selectPictureButton;
    QLineEdit* userPictureFilenameEdit;
    QPushButton* clearPictureButton;
    QPlainTextEdit* userDescriptionEdit;

    // Notification Sounds.
    QWidget* tab_5;
    QHBoxLayout* horizontalLayout_27;
    QVBoxLayout* verticalLayout_4;
    QHBoxLayout* horizontalLayout_15;
    QLabel* label_9;
    QLineEdit* defaultSoundEdit;
    QPushButton* defaultSoundSelectFileButton;
    QPushButton* defaultSoundClearButton;
    QHBoxLayout* horizontalLayout_16;
    QLabel* label_10;
    QLineEdit* privateChatSoundEdit;
    QPushButton* privateChatSoundSelectFileButton;
    QPushButton* privateChatSoundClearButton;
    QHBoxLayout* horizontalLayout_23;
    QLabel* label_17;
    QLineEdit* roomChatSoundEdit;
    QPushButton* roomChatSoundSelectFileButton;
    QPushButton* roomChatSoundClearButton;
    QHBoxLayout* horizontalLayout_17;
    QLabel* label_11;
    QLineEdit* wishlistResultsSoundEdit;
    QPushButton* wishlistResultsSoundSelectFileButton;
    QPushButton* wishlistResultsSoundClearButton;
    QHBoxLayout* horizontalLayout_18;
    QLabel* label_12;
    QLineEdit* shareBrowseSoundEdit;
    QPushButton* shareBrowseSoundSelectFileButton;
    QPushButton* shareBrowseSoundClearButton;
    QHBoxLayout* horizontalLayout_20;
    QLabel* label_14;
    QLineEdit* downloadAlertSoundEdit;
    QPushButton* downloadAlertSoundSelectFileButton;
    QPushButton* downloadAlertSoundClearButton;
    QHBoxLayout* horizontalLayout_21;
    QLabel* label_15;
    QLineEdit* userOnlineAlertSoundEdit;
    QPushButton* userOnlineAlertSoundSelectFileButton;
    QPushButton* userOnlineAlertSoundClearButton;
    QHBoxLayout* horizontalLayout_22;
    QLabel* label_16;
    QLineEdit* userInfoSoundEdit;
    QPushButton* userInfoSoundSelectFileButton;
    QPushButton* userInfoSoundClearButton;

    // Extras.
    QWidget* extrasTab;
    QPushButton* importUserListButton;

    ActionSetToolBar* mainToolBar;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
