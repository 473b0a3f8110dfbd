#include "SharesForm.h"
#include "ShareForm.h"
#include "UploadForm.h"
#include "UserShareBuilder.h"
#include "WidgetFunctions.h"
#include "peers/PeerMessenger.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include <QVBoxLayout>

SharesForm* sharesForm = nullptr;

SharesForm::SharesForm(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("SharesForm"));
    setWindowTitle(QStringLiteral("Form"));
    resize(565, 363);
    m_layout = new QVBoxLayout(this);
    m_layout->setObjectName(QStringLiteral("verticalLayout"));
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_tabControl = new TabWidget(this);
    m_tabControl->setObjectName(QStringLiteral("tabControl"));
    m_tabControl->setTabsClosable(true);
    m_tabControl->setMovable(true);
    m_layout->addWidget(m_tabControl);
    sharesForm = this;
}

SharesForm::~SharesForm()
{
    if (sharesForm == this)
        sharesForm = nullptr;
}

void SharesForm::Init()
{
    Type* user = d.GetType("user");
    Type* shareTab = d.DeclareType("user_share_tab", kEntity);
    Type* uploadTab = d.DeclareType("upload_share_tab", kEntity);
    Type* folderNode = d.DeclareType("user_share_folder_node", kLink);
    Type* fileNode = d.DeclareType("user_share_file_node", kLink);
    d.RelateTypes(user, shareTab, One, One);
    d.RelateTypes(user, uploadTab, One, One);
    d.RelateTypes(folderNode, d.GetType("user_share_folder"), One, One);
    d.RelateTypes(fileNode, d.GetType("user_share_file"), One, One);

    connect(m_tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
    if (actionBar) {
        const QString browseIcon = QStringLiteral(":/icons/browse_icon");
        const QString transferIcon = QStringLiteral(":/icons/transfer_icon");
        auto treeActions = [&](const QString& set) {
            actionBar->AddSetAction(set, QStringLiteral("expand_level"), QStringLiteral("Expand Level"), browseIcon, false);
            actionBar->AddSetAction(set, QStringLiteral("collapse_all"), QStringLiteral("Collapse All"), browseIcon, false);
            actionBar->AddSetAction(set, QStringLiteral("expand_all"), QStringLiteral("Expand All"), browseIcon, false);
        };
        treeActions(QStringLiteral("share_folders"));
        actionBar->AddSetAction(QStringLiteral("upload_folders"), QStringLiteral("upload_share_folder"),
            QStringLiteral("Upload Folder"), transferIcon, true);
        treeActions(QStringLiteral("upload_folders"));
        actionBar->AddSetAction(QStringLiteral("upload_files"), QStringLiteral("upload_share_file"),
            QStringLiteral("Upload File"), transferIcon, true);
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SharesForm::OnToolBarActionTriggered);
    }
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare);
        connect(peerMessenger, &PeerMessenger::ShareListRefused, this, [](QString user, QString why) {
            ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
            auto* form = userItem["user_share_tab"].AsPointer<ShareForm>();
            if (form && form->Answers(peerMessenger->ShareListNumber()))
                form->SayRefused(why);
        });
    }
}

QWidget* SharesForm::OpenShareBrowse(QString user)
{
    ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    auto* form = userItem["user_share_tab"].AsPointer<ShareForm>();
    if (!form) {
        form = new ShareForm(user, this);
        // The tab widget doubles the "&".
        m_tabControl->AddNamedTab(form, QIcon(), IsolatedText(user));
        if (peerMessenger) {
            form->AskedAfter(peerMessenger->ShareListNumber());
            peerMessenger->GetUserSharedFiles(user);
        }
    }
    FocusWidgetAndParents(form);
    return form;
}

QWidget* SharesForm::OpenUploadBrowse(QString user)
{
    ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    QWidget* form = userItem["upload_share_tab"].AsPointer<UploadForm>();
    if (!form) {
        auto* upload = new UploadForm(user, this);
        m_tabControl->AddNamedTab(upload, QIcon(), QStringLiteral("Upload to ") + IsolatedText(user));
        upload->Load();
        form = upload;
    }
    FocusWidgetAndParents(form);
    return form;
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& share, AttributeTranslationTable&)
{
    UserShareBuilder builder(share);
    builder.Run();
    return builder.Share();
}

void SharesForm::OnUserShare(QString user, FileInfoMap& share, AttributeTranslationTable&)
{
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    auto* form = userItem["user_share_tab"].AsPointer<ShareForm>();
    // A list that came before the tab asked answers an earlier request (of a
    // tab closed since, say): the tab waits for its own.
    if (!form || (peerMessenger && !form->Answers(peerMessenger->ShareListNumber())))
        return;
    // The list of a view that holds a share (or is building one) is not used:
    // the transfer engine's empty-share probe asks for lists of its own.
    if (form->HasShare())
        return;
    if (ItemPtr existing = userItem["user_share"]) {
        form->SetShare(existing);
        return;
    }
    // Copied (flat, cheaply): other receivers read the same list after us.
    userItem += form->BuildFromList(share)->Share();
}

void SharesForm::OnTabCloseRequested(int index)
{
    QWidget* page = m_tabControl->widget(index);
    if (auto* form = qobject_cast<ShareForm*>(page)) {
        m_tabControl->removeTab(index);
        form->Delete();
    } else if (auto* upload = qobject_cast<UploadForm*>(page)) {
        m_tabControl->removeTab(index);
        upload->Delete();
    }
}

void SharesForm::OnToolBarActionTriggered(QWidget*, QString id)
{
    auto* view = qobject_cast<ShareViewBase*>(m_tabControl->currentWidget());
    if (!view)
        return;
    if (id == QLatin1String("expand_level"))
        view->ExpandLevel();
    if (id == QLatin1String("collapse_all"))
        view->CollapseAll();
    if (id == QLatin1String("expand_all"))
        view->ExpandAll();
}
