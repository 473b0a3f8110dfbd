// The messenger's requests: every message that other parts of the client
// send to peers goes through SendMessage.
#include "PeerCodes.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "store/Settings.h"

void PeerMessenger::SendMessage(QString user, MemStream& message)
{
    SendFramed(user, QByteArrayList { message.GetBuffer() });
}

void PeerMessenger::SendMessage(QString user, const QByteArrayList& message)
{
    SendFramed(user, message);
}

void PeerMessenger::SendMessageToUser(QString user, MemStream& message)
{
    SendFramed(user, QByteArrayList { message.GetBuffer() });
}

void PeerMessenger::GetUserSharedFiles(QString user)
{
    MemStream m = EncodeCodeOnly(PM_GET_SHARED_FILE_LIST);
    SendMessage(user, m);
}

void PeerMessenger::GetUserInfo(QString user)
{
    MemStream m = EncodeCodeOnly(PM_USER_INFO_REQUEST);
    SendMessage(user, m);
}

void PeerMessenger::QueueDownload(QString user, std::string path)
{
    MemStream m = EncodePathMessage(PM_QUEUE_UPLOAD, path);
    SendMessage(user, m);
}

void PeerMessenger::QueueUpload(QString user, QString file, qint64 size)
{
    MemStream m = EncodeUploadOffer(file, size);
    SendMessage(user, m);
}

void PeerMessenger::SendUploadPlaceInLine(QString user, QString file, int place)
{
    MemStream m = EncodePlaceInLine(file, quint32(place));
    SendMessage(user, m);
}

void PeerMessenger::DenyUpload(QString user, QString file, QString reason)
{
    MemStream m = EncodeUploadDenied(file, reason);
    SendMessage(user, m);
}

uint PeerMessenger::RequestUpload(QString user, QString file, qint64 size)
{
    // The counter is saved, so request numbers keep rising across runs.
    const quint32 req
        = settings.Has("transfer_req_counter") ? quint32(settings.GetInt64("transfer_req_counter")) : 1;
    settings.Set("transfer_req_counter", static_cast<unsigned long long>(quint32(req + 1)));
    MemStream m = EncodeTransferRequest(1, req, file, size);
    SendMessage(user, m);
    return req;
}

void PeerMessenger::AcceptTransferRequest(QString user, uint req, bool withSize, qint64 fileSize)
{
    MemStream m = EncodeTransferResponse(req, true, withSize, fileSize, QString());
    SendMessage(user, m);
}

void PeerMessenger::DenyTransferRequest(QString user, uint req, QString reason)
{
    MemStream m = EncodeTransferResponse(req, false, false, 0, reason);
    SendMessage(user, m);
}

void PeerMessenger::RequestFileConnectionToUser(QString user)
{
    if (!user.isEmpty())
        RequestConnection(user, QStringLiteral("F"));
}

void PeerMessenger::ConnectToDistributedPeer(QString user, quint32 ip, quint16 port)
{
    if (!user.isEmpty())
        RequestConnection(user, QStringLiteral("D"), ip != 0 && port != 0, ip, port);
}

void PeerMessenger::SetSharedFilesMessageProvider(SharedFilesMessageProvider provider)
{
    m_shareProvider = std::move(provider);
}

MemStream PeerMessenger::EmptyShareMessage() const
{
    return EncodeSharedFileList(FileInfoMap(), AttributeTranslationTable());
}
