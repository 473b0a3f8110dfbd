// Messages received on "P" connections: decoded, then announced by signals
// (or, for share-list requests, answered through the provider).
#include "PeerCodes.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "ShareListDecoder.h"
#include "store/Log.h"
#include <QDateTime>

namespace {

const QString kArea = QStringLiteral("Peer Messenger");

void Malformed(const QString& user, quint32 code, const QString& why = QString())
{
    Log(kArea, 2,
        QStringLiteral("Dropped a malformed message %1 from %2%3")
            .arg(code)
            .arg(user, why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

// Requests whose answer is built for the peer that asked.
bool AsksForAnswer(quint32 code)
{
    return code == PM_GET_SHARED_FILE_LIST || code == PM_USER_INFO_REQUEST
        || code == PM_GET_SHARED_FILES_IN_FOLDER || code == PM_UPLOAD_PLACE_IN_LINE_REQUEST;
}

} // namespace

void PeerMessenger::Dispatch(PeerConnection* connection, const QByteArray& frame)
{
    DispatchMessage(connection->user, frame, connection);
}

void PeerMessenger::ProcessMessage(const QString& user, const QByteArray& frame)
{
    DispatchMessage(user, frame);
}

void PeerMessenger::DispatchMessage(const QString& user, const QByteArray& frame, PeerConnection* from)
{
    MemStream in(frame);
    quint32 code;
    if (!in.ReadUInt32(code)) {
        Log(kArea, 2,
            QStringLiteral("Dropped a message of %1 bytes without a code from %2")
                .arg(frame.size())
                .arg(user));
        return;
    }
    emit MessageReceived(user, code, frame.size());
    // Nothing is built for a peer that has left.
    if (from && from->Lost() && AsksForAnswer(code))
        return;
    switch (code) {
    case PM_GET_SHARED_FILE_LIST: {
        // Asked again while the list is still on its way: that list answers both.
        if (PeerConnection* connection = NewestMessageConnection(user);
            connection && connection->BulkFrameWaiting()) {
            Log(kArea, 2,
                QStringLiteral("%1 asked again for the share list while it is still being sent").arg(user));
            return;
        }
        std::optional<MemStream> reply = m_shareProvider ? m_shareProvider(user) : EmptyShareMessage();
        if (reply)
            SendMessage(user, *reply);
        else
            m_shareListsDue.insert(user, QDateTime::currentSecsSinceEpoch()); // the provider sends it later
        return;
    }
    case PM_SHARED_FILE_LIST:
        OnSharedFileList(user, frame);
        return;
    case PM_FILE_SEARCH_RESULT:
        OnSearchResults(user, frame);
        return;
    case PM_USER_INFO_REQUEST:
        emit UserInfoRequested(user);
        return;
    case PM_USER_INFO_REPLY:
        OnUserInfoReply(user, in);
        return;
    case PM_GET_SHARED_FILES_IN_FOLDER: {
        quint32 request;
        QString folder;
        if (!in.ReadUInt32(request) || !in.ReadString(folder))
            return Malformed(user, code);
        emit SharedFilesInFolderRequested(user, request, folder);
        if (from && m_folderReplies) {
            from->ReplyBuilding();
            m_folderReplies(from->serial, user, request, folder);
        }
        return;
    }
    case PM_TRANSFER_REQUEST: {
        TransferRequestMessage m;
        if (!DecodeTransferRequest(in, m))
            return Malformed(user, code);
        emit FileTransferRequested(user, int(m.direction), m.req, m.file, m.size);
        return;
    }
    case PM_TRANSFER_RESPONSE: {
        TransferResponseMessage m;
        if (!DecodeTransferResponse(in, m))
            return Malformed(user, code);
        emit FileTransferResponse(user, m.req, m.accepted, m.hasSize, m.size, m.reason);
        return;
    }
    case PM_QUEUE_UPLOAD:
    case PM_UPLOAD_PLACE_IN_LINE_REQUEST: {
        QString file;
        if (!in.ReadString(file))
            return Malformed(user, code);
        if (code == PM_QUEUE_UPLOAD)
            emit QueueUploadRequested(user, file);
        else
            emit UploadPlaceInLineRequested(user, file);
        return;
    }
    case PM_UPLOAD_PLACE_IN_LINE: {
        std::string path;
        quint32 place;
        if (!in.ReadString(path) || !in.ReadUInt32(place))
            return Malformed(user, code);
        emit DownloadPlaceInLine(user, path, int(place));
        return;
    }
    case PM_UPLOAD_FAILED: {
        std::string path;
        if (!in.ReadString(path))
            return Malformed(user, code);
        emit UploadFailed(user, path);
        return;
    }
    case PM_UPLOAD_DENIED: {
        std::string path;
        QString reason;
        if (!in.ReadString(path) || !in.ReadString(reason))
            return Malformed(user, code);
        emit UploadDenied(user, path, reason);
        return;
    }
    case PM_UPLOAD_OFFER: {
        std::string path;
        qint64 size;
        if (!in.ReadString(path) || !in.ReadInt64(size))
            return Malformed(user, code);
        emit QueueDownloadRequested(user, path, size);
        return;
    }
    default:
        // Folder replies (37) and anything unknown are not handled.
        Log(kArea, 2,
            QStringLiteral("Skipped message %1 from %2 (%3 bytes)").arg(code).arg(user).arg(frame.size()));
    }
}

void PeerMessenger::OnSharedFileList(const QString& user, const QByteArray& frame)
{
    if (m_shareLists->Decode(user, frame))
        return;
    const QString why = QStringLiteral("too many lists are waiting to be read");
    Log(kArea, 2, QStringLiteral("Dropped a share list from %1: %2").arg(user, why));
    emit ShareListRefused(user, why);
}

std::shared_ptr<const FileInfoMap> PeerMessenger::HoldShareList(const FileInfoMap& share) const
{
    return m_shareLists->Hold(share);
}

quint64 PeerMessenger::ShareListNumber() const
{
    return m_shareLists->Number();
}

void PeerMessenger::FinishShareLists()
{
    m_shareLists->Finish();
}

void PeerMessenger::OnShareListFailed(QString user, QString why)
{
    Malformed(user, PM_SHARED_FILE_LIST, why);
    emit ShareListRefused(user, why);
}

void PeerMessenger::OnUserInfoReply(const QString& user, MemStream& in)
{
    UserInfoMessage m;
    if (!DecodeUserInfo(in, m))
        return Malformed(user, PM_USER_INFO_REPLY);
    if (m.skippedPictureLength)
        Log(kArea, 2,
            QStringLiteral("Left out a picture of %1 bytes from %2's information: more than %3 bytes")
                .arg(m.skippedPictureLength)
                .arg(user)
                .arg(kMaxPictureLength));
    char* picture = m.skippedPictureLength ? nullptr : m.picture.data();
    const int length = int(m.skippedPictureLength ? m.skippedPictureLength : m.picture.size());
    emit UserInfoReceived(
        user, m.description, m.hasPicture, picture, length, m.uploadSlots, m.queuedUploads, m.freeToUpload);
}
