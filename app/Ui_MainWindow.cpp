#include "Ui_MainWindow.h"
#include "pages/browse/SharesForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/search/SearchForm.h"
#include "pages/transfers/TransfersForm.h"
#include "pages/users/UserListForm.h"
#include "shell/ActionSetToolBar.h"
#include "shell/TabWidget.h"
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

template <class W> W* Named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

template <class L> L* Layout(L* layout, const char* name, int spacing, int margins)
{
    layout->setObjectName(QString::fromLatin1(name));
    layout->setSpacing(spacing);
    layout->setContentsMargins(margins, margins, margins, margins);
    return layout;
}

QSpacerItem* HSpacer(int w = 40, int h = 20)
{
    return new QSpacerItem(w, h, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

QSpacerItem* VSpacer()
{
    return new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
}

// A main page: a plain widget whose one-cell layout holds the page's form.
template <class Form, class Box>
QWidget* Page(QWidget* parent, const char* pageName, Box*& layout, const char* layoutName, Form*& form,
    const char* formName)
{
    QWidget* page = Named(new QWidget(parent), pageName);
    layout = Layout(new Box(page), layoutName, 6, 11);
    form = Named(new Form(page), formName);
    layout->addWidget(form);
    return page;
}

QCheckBox* CheckBox(QWidget* parent, QBoxLayout* into, const char* name)
{
    QCheckBox* box = Named(new QCheckBox(parent), name);
    into->addWidget(box);
    return box;
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const char* name)
{
    QLineEdit* edit = Named(new QLineEdit(parent), name);
    edit->setReadOnly(true);
    return edit;
}

struct SoundRow {
    QHBoxLayout*& layout;
    const char* layoutName;
    QLabel*& label;
    const char* labelName;
    QLineEdit*& edit;
    const char* editName;
    QPushButton*& select;
    const char* selectName;
    QPushButton*& clear;
    const char* clearName;
};

} // namespace

void Ui_MainWindow::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(1000, 600);
    window->setWindowIcon(QIcon(QStringLiteral(":/icons/offline_icon")));
    window->setDockNestingEnabled(true);

    centralWidget = Named(new QWidget(window), "centralWidget");
    gridLayout_2 = Layout(new QGridLayout(centralWidget), "gridLayout_2", 6, 11);
    tabControl = Named(new TabWidget(centralWidget), "tabControl");

    tabControl->addTab(Page(tabControl, "transfersTab", horizontalLayout, "horizontalLayout", transfersForm,
                           "transfersForm"),
        QString());
    transfersTab = tabControl->widget(0);
    tabControl->addTab(
        Page(tabControl, "roomsTab", horizontalLayout_2, "horizontalLayout_2", roomsForm, "roomsForm"), QString());
    roomsTab = tabControl->widget(1);
    tabControl->addTab(
        Page(tabControl, "chatTab", horizontalLayout_4, "horizontalLayout_4", chatsForm, "chatsForm"), QString());
    chatTab = tabControl->widget(2);
    tabControl->addTab(
        Page(tabControl, "searchTab", verticalLayout_2, "verticalLayout_2", searchForm, "searchForm"), QString());
    searchTab = tabControl->widget(3);
    tabControl->addTab(
        Page(tabControl, "tab_2", horizontalLayout_6, "horizontalLayout_6", userListForm, "userListForm"), QString());
    tab_2 = tabControl->widget(4);
    tabControl->addTab(
        Page(tabControl, "sharesTab", horizontalLayout_7, "horizontalLayout_7", sharesForm, "sharesForm"), QString());
    sharesTab = tabControl->widget(5);

    optionsTab = Named(new QWidget(tabControl), "optionsTab");
    horizontalLayout_8 = Layout(new QHBoxLayout(optionsTab), "horizontalLayout_8", 6, 11);
    optionsTabControl = Named(new TabWidget(optionsTab), "optionsTabControl");
    optionsTabControl->setTabShape(QTabWidget::Triangular);
    horizontalLayout_8->addWidget(optionsTabControl);
    tabControl->addTab(optionsTab, QString());

    // Login: a fixed block holding a five-column grid.
    loginOptionsTab = Named(new QWidget(optionsTabControl), "loginOptionsTab");
    gridLayoutWidget = Named(new QWidget(loginOptionsTab), "gridLayoutWidget");
    gridLayoutWidget->setGeometry(QRect(20, 20, 450, 250));
    gridLayout = Layout(new QGridLayout(gridLayoutWidget), "gridLayout", 6, 0);
    horizontalLayout_25 = Layout(new QHBoxLayout(), "horizontalLayout_25", 6, 0);
    gridLayout->addLayout(horizontalLayout_25, 0, 0, 1, 5);
    // Why the client is offline, when it did not go offline at the user's
    // word; shown until the next login.
    offlineReasonLabel = Named(new QLabel(gridLayoutWidget), "offlineReasonLabel");
    offlineReasonLabel->setTextFormat(Qt::PlainText);
    offlineReasonLabel->setWordWrap(true);
    offlineReasonLabel->hide();
    horizontalLayout_25->addWidget(offlineReasonLabel);
    label_2 = Named(new QLabel(gridLayoutWidget), "label_2");
    gridLayout->addWidget(label_2, 1, 0);
    horizontalLayout_26 = Layout(new QHBoxLayout(), "horizontalLayout_26", 6, 0);
    usernameEdit = ReadOnlyEdit(gridLayoutWidget, "usernameEdit");
    usernameEdit->setFixedWidth(200);
    horizontalLayout_26->addWidget(usernameEdit);
    horizontalLayout_26->addItem(HSpacer(128, 17));
    gridLayout->addLayout(horizontalLayout_26, 1, 2, 1, 3);
    label_4 = Named(new QLabel(gridLayoutWidget), "label_4");
    gridLayout->addWidget(label_4, 2, 0);
    gridLayout->addItem(HSpacer(), 2, 1);
    listeningPortEdit = ReadOnlyEdit(gridLayoutWidget, "listeningPortEdit");
    listeningPortEdit->setFixedWidth(100);
    gridLayout->addWidget(listeningPortEdit, 2, 2);
    checkPortsButton = Named(new QPushButton(gridLayoutWidget), "checkPortsButton");
    checkPortsButton->setFixedWidth(100);
    gridLayout->addWidget(checkPortsButton, 2, 3);
    gridLayout->addItem(HSpacer(), 2, 4);
    obfuscatedPortLabel = Named(new QLabel(gridLayoutWidget), "obfuscatedPortLabel");
    obfuscatedPortLabel->setTextFormat(Qt::PlainText);
    gridLayout->addWidget(obfuscatedPortLabel, 3, 2, 1, 3);
    // Shown only while this run listens on other ports than the chosen ones.
    listeningProblemLabel = Named(new QLabel(gridLayoutWidget), "listeningProblemLabel");
    listeningProblemLabel->setTextFormat(Qt::PlainText);
    listeningProblemLabel->setWordWrap(true);
    listeningProblemLabel->hide();
    gridLayout->addWidget(listeningProblemLabel, 4, 0, 1, 5);
    uPnPCheckBox = Named(new QCheckBox(gridLayoutWidget), "uPnPCheckBox");
    gridLayout->addWidget(uPnPCheckBox, 5, 0, 1, 5);
    gridLayout->addItem(VSpacer(), 6, 0, 1, 5);
    optionsTabControl->addTab(loginOptionsTab, QString());

    // File Sharing: one column that stretches with the window.
    fileSharingOptionsTab = Named(new QWidget(optionsTabControl), "fileSharingOptionsTab");
    horizontalLayout_3 = Layout(new QHBoxLayout(fileSharingOptionsTab), "horizontalLayout_3", 6, 11);
    verticalLayout = Layout(new QVBoxLayout(), "verticalLayout", 6, 0);
    horizontalLayout_3->addLayout(verticalLayout);
    QWidget* fs = fileSharingOptionsTab;
    horizontalLayout_5 = Layout(new QHBoxLayout(), "horizontalLayout_5", 6, 0);
    label_3 = Named(new QLabel(fs), "label_3");
    downloadFolderEdit = ReadOnlyEdit(fs, "downloadFolderEdit");
    downloadFolderEdit->setMaximumWidth(500);
    downloadFolderSpacer = Named(new QLabel(fs), "downloadFolderSpacer");
    downloadFolderSpacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    horizontalLayout_5->addWidget(label_3);
    horizontalLayout_5->addWidget(downloadFolderEdit);
    horizontalLayout_5->addWidget(downloadFolderSpacer);
    verticalLayout->addLayout(horizontalLayout_5);
    label = Named(new QLabel(fs), "label");
    verticalLayout->addWidget(label);
    sharedFoldersList = Named(new QTreeWidget(fs), "sharedFoldersList");
    sharedFoldersList->setColumnCount(2);
    sharedFoldersList->setRootIsDecorated(false);
    verticalLayout->addWidget(sharedFoldersList);
    acceptUserListUploadsCheckBox = CheckBox(fs, verticalLayout, "acceptUserListUploadsCheckBox");
    emptyShareWarningCheckBox = CheckBox(fs, verticalLayout, "emptyShareWarningCheckBox");
    horizontalLayout_9 = Layout(new QHBoxLayout(), "horizontalLayout_9", 6, 0);
    emptyShareWarningEdit = Named(new QLineEdit(fs), "emptyShareWarningEdit");
    saveEmptyShareWarningMessageButton = Named(new QPushButton(fs), "saveEmptyShareWarningMessageButton");
    saveEmptyShareWarningMessageButton->setEnabled(false);
    horizontalLayout_9->addWidget(emptyShareWarningEdit);
    horizontalLayout_9->addWidget(saveEmptyShareWarningMessageButton);
    verticalLayout->addLayout(horizontalLayout_9);
    horizontalLayout_10 = Layout(new QHBoxLayout(), "horizontalLayout_10", 6, 0);
    label_6 = Named(new QLabel(fs), "label_6");
    maxUploadsPerUserSpinBox = Named(new QSpinBox(fs), "maxUploadsPerUserSpinBox");
    maxUploadsPerUserSpinBox->setRange(0, 99999);
    horizontalLayout_10->addWidget(label_6);
    horizontalLayout_10->addWidget(maxUploadsPerUserSpinBox);
    horizontalLayout_10->addItem(HSpacer());
    verticalLayout->addLayout(horizontalLayout_10);
    horizontalLayout_11 = Layout(new QHBoxLayout(), "horizontalLayout_11", 6, 0);
    label_8 = Named(new QLabel(fs), "label_8");
    excludedExtensionsEdit = ReadOnlyEdit(fs, "excludedExtensionsEdit");
    editExcludedExtensionsButton = Named(new QPushButton(fs), "editExcludedExtensionsButton");
    horizontalLayout_11->addWidget(label_8);
    horizontalLayout_11->addWidget(excludedExtensionsEdit);
    horizontalLayout_11->addWidget(editExcludedExtensionsButton);
    verticalLayout->addLayout(horizontalLayout_11);
    dontDownloadSingleFilesIntoSubfolders = CheckBox(fs, verticalLayout, "dontDownloadSingleFilesIntoSubfolders");
    optionsTabControl->addTab(fileSharingOptionsTab, QString());

    // UI.
    tab = Named(new QWidget(optionsTabControl), "tab");
    layoutWidget = Named(new QWidget(tab), "layoutWidget");
    layoutWidget->setGeometry(QRect(20, 20, 469, 340));
    verticalLayout_5 = Layout(new QVBoxLayout(layoutWidget), "verticalLayout_5", 6, 0);
    minimizeToTrayCheckBox = CheckBox(layoutWidget, verticalLayout_5, "minimizeToTrayCheckBox");
    useOldStyleSearchResultsCheckBox = CheckBox(layoutWidget, verticalLayout_5, "useOldStyleSearchResultsCheckBox");
    autoExpandSharesCheckBox = CheckBox(layoutWidget, verticalLayout_5, "autoExpandSharesCheckBox");
    horizontalLayout_19 = Layout(new QHBoxLayout(), "horizontalLayout_19", 6, 0);
    label_13 = Named(new QLabel(layoutWidget), "label_13");
    firstOpenTabBox = Named(new QComboBox(layoutWidget), "firstOpenTabBox");
    firstOpenTabBox->setFixedWidth(100);
    horizontalLayout_19->addWidget(label_13);
    horizontalLayout_19->addWidget(firstOpenTabBox);
    horizontalLayout_19->addStretch();
    verticalLayout_5->addLayout(horizontalLayout_19);
    horizontalLayout_14 = Layout(new QHBoxLayout(), "horizontalLayout_14", 6, 0);
    label_5 = Named(new QLabel(layoutWidget), "label_5");
    chatTimestampsBox = Named(new QComboBox(layoutWidget), "chatTimestampsBox");
    horizontalLayout_14->addWidget(label_5);
    horizontalLayout_14->addWidget(chatTimestampsBox);
    horizontalLayout_14->addStretch();
    verticalLayout_5->addLayout(horizontalLayout_14);
    showAwayStatusCheckBox = CheckBox(layoutWidget, verticalLayout_5, "showAwayStatusCheckBox");
    openGroupsOnUserAddCheckBox = CheckBox(layoutWidget, verticalLayout_5, "openGroupsOnUserAddCheckBox");
    showDiagnosticsCheckBox = CheckBox(layoutWidget, verticalLayout_5, "showDiagnosticsCheckBox");
    showEventButtonsCheckBox = CheckBox(layoutWidget, verticalLayout_5, "showEventButtonsCheckBox");
    selectColorsButton = Named(new QPushButton(layoutWidget), "selectColorsButton");
    verticalLayout_5->addWidget(selectColorsButton);
    verticalLayout_5->addItem(VSpacer());
    optionsTabControl->addTab(tab, QString());

    // General.
    tab_3 = Named(new QWidget(optionsTabControl), "tab_3");
    layoutWidget1 = Named(new QWidget(tab_3), "layoutWidget1");
    layoutWidget1->setGeometry(QRect(20, 20, 540, 170));
    verticalLayout_6 = Layout(new QVBoxLayout(layoutWidget1), "verticalLayout_6", 6, 0);
    logRoomChatCheckBox = CheckBox(layoutWidget1, verticalLayout_6, "logRoomChatCheckBox");
    logPrivateChatCheckBox = CheckBox(layoutWidget1, verticalLayout_6, "logPrivateChatCheckBox");
    horizontalLayout_24 = Layout(new QHBoxLayout(), "horizontalLayout_24", 6, 0);
    label_7 = Named(new QLabel(layoutWidget1), "label_7");
    codePageBox = Named(new QComboBox(layoutWidget1), "codePageBox");
    codePageBox->setFixedWidth(150);
    horizontalLayout_24->addWidget(label_7);
    horizontalLayout_24->addWidget(codePageBox);
    horizontalLayout_24->addStretch();
    verticalLayout_6->addLayout(horizontalLayout_24);
    userLevelLoggingCheckBox = CheckBox(layoutWidget1, verticalLayout_6, "userLevelLoggingCheckBox");
    verticalLayout_6->addItem(VSpacer());
    optionsTabControl->addTab(tab_3, QString());

    // User Info.
    tab_4 = Named(new QWidget(optionsTabControl), "tab_4");
    horizontalLayout_13 = Layout(new QHBoxLayout(tab_4), "horizontalLayout_13", 6, 11);
    verticalLayout_3 = Layout(new QVBoxLayout(), "verticalLayout_3", 6, 0);
    horizontalLayout_13->addLayout(verticalLayout_3);
    horizontalLayout_12 = Layout(new QHBoxLayout(), "horizontalLayout_12", 6, 0);
    selectPictureButton = Named(new QPushButton(tab_4), "selectPictureButton");
    userPictureFilenameEdit = ReadOnlyEdit(tab_4, "userPictureFilenameEdit");
    clearPictureButton = Named(new QPushButton(tab_4), "clearPictureButton");
    horizontalLayout_12->addWidget(selectPictureButton);
    horizontalLayout_12->addWidget(userPictureFilenameEdit);
    horizontalLayout_12->addWidget(clearPictureButton);
    verticalLayout_3->addLayout(horizontalLayout_12);
    userDescriptionEdit = Named(new QPlainTextEdit(tab_4), "userDescriptionEdit");
    verticalLayout_3->addWidget(userDescriptionEdit);
    optionsTabControl->addTab(tab_4, QString());

    // Notification Sounds: eight rows of label, file, select and clear.
    tab_5 = Named(new QWidget(optionsTabControl), "tab_5");
    horizontalLayout_27 = Layout(new QHBoxLayout(tab_5), "horizontalLayout_27", 6, 11);
    verticalLayout_4 = Layout(new QVBoxLayout(), "verticalLayout_4", 6, 0);
    horizontalLayout_27->addLayout(verticalLayout_4);
    const SoundRow rows[] = {
        { horizontalLayout_15, "horizontalLayout_15", label_9, "label_9", defaultSoundEdit, "defaultSoundEdit",
            defaultSoundSelectFileButton, "defaultSoundSelectFileButton", defaultSoundClearButton,
            "defaultSoundClearButton" },
        { horizontalLayout_16, "horizontalLayout_16", label_10, "label_10", privateChatSoundEdit,
            "privateChatSoundEdit", privateChatSoundSelectFileButton, "privateChatSoundSelectFileButton",
            privateChatSoundClearButton, "privateChatSoundClearButton" },
        { horizontalLayout_23, "horizontalLayout_23", label_17, "label_17", roomChatSoundEdit, "roomChatSoundEdit",
            roomChatSoundSelectFileButton, "roomChatSoundSelectFileButton", roomChatSoundClearButton,
            "roomChatSoundClearButton" },
        { horizontalLayout_17, "horizontalLayout_17", label_11, "label_11", wishlistResultsSoundEdit,
            "wishlistResultsSoundEdit", wishlistResultsSoundSelectFileButton, "wishlistResultsSoundSelectFileButton",
            wishlistResultsSoundClearButton, "wishlistResultsSoundClearButton" },
        { horizontalLayout_18, "horizontalLayout_18", label_12, "label_12", shareBrowseSoundEdit,
            "shareBrowseSoundEdit", shareBrowseSoundSelectFileButton, "shareBrowseSoundSelectFileButton",
            shareBrowseSoundClearButton, "shareBrowseSoundClearButton" },
        { horizontalLayout_20, "horizontalLayout_20", label_14, "label_14", downloadAlertSoundEdit,
            "downloadAlertSoundEdit", downloadAlertSoundSelectFileButton, "downloadAlertSoundSelectFileButton",
            downloadAlertSoundClearButton, "downloadAlertSoundClearButton" },
        { horizontalLayout_21, "horizontalLayout_21", label_15, "label_15", userOnlineAlertSoundEdit,
            "userOnlineAlertSoundEdit", userOnlineAlertSoundSelectFileButton, "userOnlineAlertSoundSelectFileButton",
            userOnlineAlertSoundClearButton, "userOnlineAlertSoundClearButton" },
        { horizontalLayout_22, "horizontalLayout_22", label_16, "label_16", userInfoSoundEdit, "userInfoSoundEdit",
            userInfoSoundSelectFileButton, "userInfoSoundSelectFileButton", userInfoSoundClearButton,
            "userInfoSoundClearButton" },
    };
    for (const SoundRow& row : rows) {
        row.layout = Layout(new QHBoxLayout(), row.layoutName, 6, 0);
        row.label = Named(new QLabel(tab_5), row.labelName);
        row.label->setMinimumWidth(120);
        row.edit = ReadOnlyEdit(tab_5, row.editName);
        row.select = Named(new QPushButton(tab_5), row.selectName);
        row.clear = Named(new QPushButton(tab_5), row.clearName);
        row.layout->addWidget(row.label);
        row.layout->addWidget(row.edit);
        row.layout->addWidget(row.select);
        row.layout->addWidget(row.clear);
        verticalLayout_4->addLayout(row.layout);
    }
    verticalLayout_4->addItem(VSpacer());
    optionsTabControl->addTab(tab_5, QString());

    // Extras.
    extrasTab = Named(new QWidget(optionsTabControl), "extrasTab");
    importUserListButton = Named(new QPushButton(extrasTab), "importUserListButton");
    importUserListButton->setGeometry(QRect(10, 30, 290, 52));
    optionsTabControl->addTab(extrasTab, QString());

    gridLayout_2->addWidget(tabControl, 0, 0);
    window->setCentralWidget(centralWidget);

    mainToolBar = Named(new ActionSetToolBar(window), "mainToolBar");
    mainToolBar->setContextMenuPolicy(Qt::NoContextMenu);
    mainToolBar->setMovable(false);
    mainToolBar->setIconSize(QSize(16, 16));
    mainToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    retranslateUi(window);
    tabControl->setCurrentIndex(1);
    optionsTabControl->setCurrentIndex(0);
}

void Ui_MainWindow::retranslateUi(QMainWindow* window)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("MainWindow", text); };
    window->setWindowTitle(tr("MarrowbyQt"));
    const char* pages[] = { "Transfers", "Rooms", "Chat", "Search", "Users", "Browse", "Options" };
    for (int i = 0; i < 7; ++i)
        tabControl->setTabText(i, tr(pages[i]));
    const char* groups[] = { "Login", "File Sharing", "UI", "General", "User Info", "Notification Sounds", "Extras" };
    for (int i = 0; i < 7; ++i)
        optionsTabControl->setTabText(i, tr(groups[i]));

    label_2->setText(tr("Username"));
    label_4->setText(tr("Listening port"));
    checkPortsButton->setText(tr("Check Ports"));
    obfuscatedPortLabel->setText(tr("Obfuscated port is..."));
    uPnPCheckBox->setText(tr("use UPnP"));

    label_3->setText(tr("Download Folder"));
    downloadFolderSpacer->setText(QString());
    label->setText(tr("Shared Folders"));
    acceptUserListUploadsCheckBox->setText(tr("Accept uploads from all user list users"));
    emptyShareWarningCheckBox->setText(tr("Send warning message to downloading users with empty shares"));
    saveEmptyShareWarningMessageButton->setText(tr("Save"));
    label_6->setText(tr("Maximum number of queued uploads per user"));
    label_8->setText(tr("Filename extensions excluded from folder downloads:"));
    editExcludedExtensionsButton->setText(tr("Edit"));
    dontDownloadSingleFilesIntoSubfolders->setText(tr("Don't create subfolders for single downloads"));

    minimizeToTrayCheckBox->setText(tr("Minimize to tray [Windows only]"));
    useOldStyleSearchResultsCheckBox->setText(tr("Use old-style search results"));
    autoExpandSharesCheckBox->setText(tr("Auto-expand newly browsed shares"));
    label_13->setText(tr("First open tab when starting:"));
    {
        const QSignalBlocker block(firstOpenTabBox);
        firstOpenTabBox->clear();
        firstOpenTabBox->addItems({ tr("Transfers"), tr("Rooms"), tr("Search"), tr("Users") });
    }
    label_5->setText(tr("Chat timestamps:"));
    {
        const QSignalBlocker block(chatTimestampsBox);
        chatTimestampsBox->clear();
        chatTimestampsBox->addItems(
            { tr("Activity based"), tr("Per message (short)"), tr("Per message (long)"), tr("No timestamps") });
    }
    showAwayStatusCheckBox->setText(tr("Show Away status in application icon"));
    openGroupsOnUserAddCheckBox->setText(tr("Open groups dialog when a user is added to the list"));
    showDiagnosticsCheckBox->setText(tr("Show diagnostics"));
    showEventButtonsCheckBox->setText(tr("Show event buttons"));
    selectColorsButton->setText(tr("Select Application Colors"));

    logRoomChatCheckBox->setText(tr("Log room chat"));
    logPrivateChatCheckBox->setText(tr("Log private chat"));
    label_7->setText(tr("Code Page to use to translate non-Unicode characters "));
    userLevelLoggingCheckBox->setText(tr("Enable user-level logging (only for special debugging purposes)"));

    selectPictureButton->setText(tr("Select Picture"));
    clearPictureButton->setText(tr("Clear"));

    const char* soundLabels[] = { "Default Sound:", "Private Chat:", "Room Chat:", "Wishlist Results:",
        "Browsed Share:", "Download Alert:", "User Online Alert:", "User Info:" };
    QLabel* labels[] = { label_9, label_10, label_17, label_11, label_12, label_14, label_15, label_16 };
    QPushButton* selects[] = { defaultSoundSelectFileButton, privateChatSoundSelectFileButton,
        roomChatSoundSelectFileButton, wishlistResultsSoundSelectFileButton, shareBrowseSoundSelectFileButton,
        downloadAlertSoundSelectFileButton, userOnlineAlertSoundSelectFileButton, userInfoSoundSelectFileButton };
    QPushButton* clears[] = { defaultSoundClearButton, privateChatSoundClearButton, roomChatSoundClearButton,
        wishlistResultsSoundClearButton, shareBrowseSoundClearButton, downloadAlertSoundClearButton,
        userOnlineAlertSoundClearButton, userInfoSoundClearButton };
    for (int i = 0; i < 8; ++i) {
        labels[i]->setText(tr(soundLabels[i]));
        selects[i]->setText(tr("Select File"));
        clears[i]->setText(tr("Clear"));
    }

    importUserListButton->setText(tr("Import User List from original Marrowby client"));
}
