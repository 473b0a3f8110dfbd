// The user-information half of the Users page: our answer to peers' requests
// and the tabs showing others' answers.
#include "UserInfoForm.h"
#include "UserListForm.h"
#include "peers/PeerMessenger.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include <QTabWidget>

void UserListForm::OnUserInfoRequested(QString user)
{
    if (!peerMessenger)
        return;
    peerMessenger->SendMessage(user, m_reply.Build());
}

UserInfoForm* UserListForm::GetUserInfoForm(const QString& user)
{
    const ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    if (auto* open = userItem["user_info_form"].AsPointer<UserInfoForm>()) {
        // Only a form that is still one of the tabs counts.
        if (m_userInfoTabs->indexOf(open) >= 0)
            return open;
        userItem["user_info_form"].Remove();
    }
    auto* form = new UserInfoForm(this);
    form->Init(user);
    m_userInfoTabs->AddNamedTab(form, QIcon(QStringLiteral(":/icons/info_icon")), IsolatedText(user));
    userItem.Connect(d.GetType("user_info_form")->NewItem(Value(form)));
    return form;
}

void UserListForm::OnUserInfoTabCloseRequested(int index)
{
    auto* form = qobject_cast<UserInfoForm*>(m_userInfoTabs->widget(index));
    if (!form)
        return;
    form->Detach();
    if (eventToolBar)
        eventToolBar->RemoveEvents(form);
    m_userInfoTabs->removeTab(index);
    d.GetType("user_info_form")->HasItem(Value(form)).Remove();
    form->deleteLater();
}
