// Rows of the floods benchmark for user information: pictures that claim far
// more pixels than they hold, and replies nobody asked for. Each row opens
// the sender's information tab (which asks once) and then feeds the peer's
// replies as the peer network hands them on.
#pragma once
#include "FloodRun.h"
#include "gui/PictureBombs.h"
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include <QTextBrowser>
#include <memory>

namespace {

inline QByteArray UserInfoFrame(const QString& description, const QByteArray& picture)
{
    UserInfoMessage info;
    info.description = description;
    info.hasPicture = true;
    info.picture = picture;
    info.uploadSlots = 1;
    return EncodeUserInfo(info).GetBuffer();
}

inline bool TabShows(const QString& user, const QString& text)
{
    UserInfoForm* form = userListForm->GetUserInfoForm(user);
    return form->UserInfoText()->toPlainText().contains(text);
}

// Opens the user's tab (it asks), then hands on the replies one a turn, as
// from the user's connection.
inline void OpenAndReply(const QString& user, std::shared_ptr<std::vector<QByteArray>> frames,
    std::shared_ptr<size_t> fed)
{
    userListForm->GetUserInfoForm(user);
    auto* pacer = new QTimer;
    QObject::connect(pacer, &QTimer::timeout, [=] {
        if (*fed == frames->size()) {
            pacer->deleteLater();
            return;
        }
        peerMessenger->ProcessMessage(user, (*frames)[(*fed)++]);
    });
    pacer->start(0);
}

inline void AddPictureBombRow(FloodRun& run, const QString& name, const QString& user, const QByteArray& picture)
{
    const QString description = QStringLiteral("%1 description").arg(name);
    auto frames = std::make_shared<std::vector<QByteArray>>(1, UserInfoFrame(description, picture));
    auto fed = std::make_shared<size_t>(0);
    run.Add(name, [=] { OpenAndReply(user, frames, fed); }, [=] { return *fed == 1 && TabShows(user, description); });
}

inline void AddUserInfoRows(FloodRun& run)
{
    AddPictureBombRow(run, QStringLiteral("picture_bomb_png"), QStringLiteral("bomber_png"), BlackPng(40000, 40000));
    AddPictureBombRow(run, QStringLiteral("picture_bomb_jpeg"), QStringLiteral("bomber_jpeg"), ClaimingJpeg(40000, 40000));

    // The reply asked for, then a hundred more.
    const QByteArray picture = BlackPng(5000, 5000);
    auto frames = std::make_shared<std::vector<QByteArray>>();
    for (int i = 0; i <= 100; ++i)
        frames->push_back(UserInfoFrame(QStringLiteral("reply %1").arg(i), picture));
    auto fed = std::make_shared<size_t>(0);
    const QString user = QStringLiteral("flooder");
    run.Add(QStringLiteral("unsolicited_info_100"), [=] { OpenAndReply(user, frames, fed); },
        [=] { return *fed == frames->size() && TabShows(user, QStringLiteral("reply ")); });
}

} // namespace
