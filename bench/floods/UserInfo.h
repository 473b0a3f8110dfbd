// Rows of the floods benchmark for user information: pictures that claim far
// more pixels than they hold, and replies nobody asked for. Each row opens
// the sender's information tab (which asks once) and then the sender, a peer
// on a loopback connection, sends its replies at once.
#pragma once
#include "FloodRun.h"
#include "gui/PictureBombs.h"
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include <QTextBrowser>

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

// Opens the user's tab (it asks); the user then connects and replies.
inline void OpenAndReply(FloodRun& run, const QString& user, const std::vector<QByteArray>& frames)
{
    userListForm->GetUserInfoForm(user);
    run.Peers().Add(user, frames);
}

inline void AddPictureBombRow(FloodRun& run, const QString& name, const QString& user, const QByteArray& picture)
{
    const QString description = QStringLiteral("%1 description").arg(name);
    const std::vector<QByteArray> frames(1, UserInfoFrame(description, picture));
    run.Add(
        name, [=, &run] { OpenAndReply(run, user, frames); },
        [=, &run] { return run.Received(user) == 1 && TabShows(user, description); });
    run.Memory(name);
}

inline void AddUserInfoRows(FloodRun& run)
{
    AddPictureBombRow(run, QStringLiteral("picture_bomb_png"), QStringLiteral("bomber_png"), BlackPng(40000, 40000));
    AddPictureBombRow(run, QStringLiteral("picture_bomb_jpeg"), QStringLiteral("bomber_jpeg"), ClaimingJpeg(40000, 40000));

    // The reply asked for, then a hundred more.
    const QByteArray picture = BlackPng(5000, 5000);
    std::vector<QByteArray> frames;
    for (int i = 0; i <= 100; ++i)
        frames.push_back(UserInfoFrame(QStringLiteral("reply %1").arg(i), picture));
    const QString user = QStringLiteral("flooder");
    run.Add(
        QStringLiteral("unsolicited_info_100"), [=, &run] { OpenAndReply(run, user, frames); },
        [=, &run] {
            return run.Received(user) == int(frames.size()) && TabShows(user, QStringLiteral("reply "));
        });
    run.Memory(QStringLiteral("unsolicited_info_100"));
}

} // namespace
