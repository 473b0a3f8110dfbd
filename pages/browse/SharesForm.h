#pragma once
// The Browse page: one tab per browsed user (ShareForm) and one per upload
// browse (UploadForm). It opens or focuses those tabs for the other pages,
// asks peers for their share lists and hands a received list (or the word
// that it was refused) to the user's open tab, declares the page's tool-bar
// actions and routes the expand and collapse actions to the current tab.
#include "peers/FileInfo.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QWidget>

class QVBoxLayout;
class TabWidget;

class SharesForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;

    void Init();
    // The user's browse tab (a ShareForm), opened and the list asked for
    // when there is none.
    QWidget* OpenShareBrowse(QString user);
    // The user's upload browse tab (an UploadForm), opened when there is none.
    QWidget* OpenUploadBrowse(QString user);
    // The browsed-share items of a share list, all at once; the new
    // user_share is connected to no user.
    static ItemPtr CreateUserShareData(FileInfoMap& share, AttributeTranslationTable& table);

    TabWidget* TabControl() const { return m_tabControl; }

public slots:
    void OnTabCloseRequested(int index);
    void OnToolBarActionTriggered(QWidget* widget, QString id);
    void OnUserShare(QString user, FileInfoMap& share, AttributeTranslationTable& table);

private:
    QVBoxLayout* m_layout;
    TabWidget* m_tabControl;
};

extern SharesForm* sharesForm;
