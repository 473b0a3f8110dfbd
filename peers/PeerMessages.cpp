#include "PeerMessages.h"
#include "Inflate.h"
#include "PeerCodes.h"

namespace {

bool Fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool DecodePeerInit(const QByteArray& payload, PeerInitMessage& out)
{
    MemStream in(payload);
    PeerInitMessage m;
    if (!in.ReadString(m.user) || !in.ReadString(m.type) || !in.ReadUInt32(m.token))
        return false;
    if (m.user.isEmpty()
        || (m.type != QLatin1String("P") && m.type != QLatin1String("F") && m.type != QLatin1String("D")))
        return false;
    out = m;
    return true;
}

bool DecodePierceFirewall(const QByteArray& payload, quint32& token)
{
    MemStream in(payload);
    return in.ReadUInt32(token);
}

MemStream EncodeCodeOnly(quint32 code)
{
    MemStream m;
    m.WriteUInt32(code);
    return m;
}

MemStream EncodeTransferRequest(quint32 direction, quint32 req, const QString& file, qint64 size)
{
    MemStream m = EncodeCodeOnly(PM_TRANSFER_REQUEST);
    m.WriteUInt32(direction);
    m.WriteUInt32(req);
    m.WriteString(file);
    if (direction == 1)
        m.WriteInt64(size);
    return m;
}

MemStream EncodeTransferResponse(
    quint32 req, bool accepted, bool withSize, qint64 size, const QString& reason)
{
    MemStream m = EncodeCodeOnly(PM_TRANSFER_RESPONSE);
    m.WriteUInt32(req);
    m.WriteUInt8(accepted ? 1 : 0);
    if (accepted) {
        if (withSize)
            m.WriteInt64(size);
    } else {
        m.WriteString(reason);
    }
    return m;
}

MemStream EncodePathMessage(quint32 code, const QString& path)
{
    MemStream m = EncodeCodeOnly(code);
    m.WriteString(path);
    return m;
}

MemStream EncodePathMessage(quint32 code, const std::string& path)
{
    MemStream m = EncodeCodeOnly(code);
    m.WriteString(path);
    return m;
}

MemStream EncodePlaceInLine(const QString& path, quint32 place)
{
    MemStream m = EncodePathMessage(PM_UPLOAD_PLACE_IN_LINE, path);
    m.WriteUInt32(place);
    return m;
}

MemStream EncodeUploadDenied(const QString& path, const QString& reason)
{
    MemStream m = EncodePathMessage(PM_UPLOAD_DENIED, path);
    m.WriteString(reason);
    return m;
}

MemStream EncodeUploadOffer(const QString& path, qint64 size)
{
    MemStream m = EncodePathMessage(PM_UPLOAD_OFFER, path);
    m.WriteInt64(size);
    return m;
}

MemStream EncodeFolderRequest(quint32 request, const QString& folder)
{
    MemStream m = EncodeCodeOnly(PM_GET_SHARED_FILES_IN_FOLDER);
    m.WriteUInt32(request);
    m.WriteString(folder);
    return m;
}

bool DecodeTransferRequest(MemStream& in, TransferRequestMessage& out)
{
    TransferRequestMessage m;
    if (!in.ReadUInt32(m.direction) || !in.ReadUInt32(m.req) || !in.ReadString(m.file))
        return false;
    if (m.direction == 1 && !in.ReadInt64(m.size))
        return false;
    out = std::move(m);
    return true;
}

bool DecodeTransferResponse(MemStream& in, TransferResponseMessage& out)
{
    TransferResponseMessage m;
    if (!in.ReadUInt32(m.req) || !in.ReadBool(m.accepted))
        return false;
    if (m.accepted) {
        // The size is optional: present when the bytes are there.
        if (in.Remaining() >= 8) {
            in.ReadInt64(m.size);
            m.hasSize = true;
        }
    } else if (!in.ReadString(m.reason)) {
        return false;
    }
    out = std::move(m);
    return true;
}

bool DecodeUserInfo(MemStream& in, UserInfoMessage& out)
{
    UserInfoMessage m;
    if (!in.ReadString(m.description) || !in.ReadBool(m.hasPicture))
        return false;
    if (m.hasPicture) {
        // A picture over the bound is passed over; the rest of the reply stands.
        quint32 length;
        if (!in.ReadUInt32(length) || in.Remaining() < qint64(length))
            return false;
        if (length > kMaxPictureLength) {
            in.SeekRead(in.ReadPosition() + length);
            m.skippedPictureLength = length;
        } else {
            m.picture.resize(length);
            in.ReadBytes(m.picture.data(), length);
        }
    }
    if (!in.ReadInt32(m.uploadSlots) || !in.ReadInt32(m.queuedUploads) || !in.ReadBool(m.freeToUpload))
        return false;
    out = std::move(m);
    return true;
}

MemStream EncodeUserInfo(const UserInfoMessage& info)
{
    const QByteArray whole = EncodeUserInfoPieces(info).join();
    MemStream m;
    m.WriteBuffer(whole.constData(), whole.size());
    return m;
}

QByteArrayList EncodeUserInfoPieces(const UserInfoMessage& info)
{
    MemStream head = EncodeCodeOnly(PM_USER_INFO_REPLY);
    head.WriteString(info.description);
    head.WriteUInt8(info.hasPicture ? 1 : 0);
    if (info.hasPicture)
        head.WriteUInt32(quint32(info.picture.size()));
    MemStream tail;
    tail.WriteInt32(info.uploadSlots);
    tail.WriteInt32(info.queuedUploads);
    tail.WriteUInt8(info.freeToUpload ? 1 : 0);
    return { head.GetBuffer(), info.hasPicture ? info.picture : QByteArray(), tail.GetBuffer() };
}

bool DecodeSearchReply(const QByteArray& compressed, SearchReply& out, QString* error, size_t keep)
{
    QByteArray body;
    const InflateResult inflated = InflateCapped(compressed, kMaxInflatedSize, body);
    if (inflated == InflateResult::TooLarge)
        return Fail(error, QStringLiteral("inflates to more than %1 bytes").arg(kMaxInflatedSize));
    if (inflated != InflateResult::Ok)
        return Fail(error, QStringLiteral("not a valid zlib stream"));
    MemStream in(body);
    SearchReply reply;
    quint32 count;
    if (!in.ReadString(reply.user) || !in.ReadUInt32(reply.ticket) || !in.ReadCount(count))
        return Fail(error, QStringLiteral("malformed header"));
    // The records are read twice through one reused record, as the wire
    // format expects: first to weigh them (a repeated record is one byte here
    // but a whole copy in the reply), then, when they fit, to keep them.
    const qint64 records = in.ReadPosition();
    FileInfo record;
    quint64 footprint = 0;
    for (quint32 i = 0; i < count; ++i) {
        if (!record.Read(in))
            return Fail(error, QStringLiteral("malformed file record %1").arg(i));
        footprint += record.Footprint();
        if (footprint > kMaxSearchReplyBytes)
            return Fail(error,
                QStringLiteral("its %1 results would take more than %2 MiB").arg(count).arg(kMaxSearchReplyBytes >> 20));
    }
    if (!in.ReadBool(reply.freeSlot) || !in.ReadUInt32(reply.uploadSpeed)
        || !in.ReadUInt32(reply.queueLength))
        return Fail(error, QStringLiteral("malformed trailer"));
    in.SeekRead(records);
    record = FileInfo();
    keep = std::min<size_t>(keep, count);
    reply.files.reserve(keep);
    for (size_t i = 0; i < keep; ++i) {
        record.Read(in);
        reply.files.push_back(record);
    }
    // The attribute-name table that follows is always empty and not used.
    out = std::move(reply);
    return true;
}

bool PeekSearchReplyHead(const QByteArray& compressed, quint32& ticket, quint32& count)
{
    QByteArray head;
    if (!InflatePrefix(compressed.constData(), compressed.size(), kSearchReplyHeadBytes, head))
        return false;
    MemStream in(head);
    std::string user;
    return in.ReadString(user) && in.ReadUInt32(ticket) && in.ReadCount(count);
}

MemStream EncodeSearchReply(const SearchReply& reply)
{
    MemStream body;
    body.WriteString(reply.user);
    body.WriteUInt32(reply.ticket);
    body.WriteUInt32(quint32(reply.files.size()));
    for (const FileInfo& file : reply.files)
        file.Write(body);
    body.WriteUInt8(reply.freeSlot ? 1 : 0);
    body.WriteUInt32(reply.uploadSpeed);
    body.WriteUInt32(reply.queueLength);
    body.WriteUInt32(0); // attribute names
    MemStream m = EncodeCodeOnly(PM_FILE_SEARCH_RESULT);
    const QByteArray compressed = Deflate(body.GetBuffer());
    m.WriteBuffer(compressed.constData(), compressed.size());
    return m;
}

bool DecodeSharedFileList(
    const QByteArray& compressed, FileInfoMap& share, AttributeTranslationTable& table, QString* error)
{
    QByteArray body;
    const InflateResult inflated = InflateCapped(compressed, kMaxInflatedSize, body);
    if (inflated == InflateResult::TooLarge)
        return Fail(error, QStringLiteral("inflates to more than %1 bytes").arg(kMaxInflatedSize));
    if (inflated != InflateResult::Ok)
        return Fail(error, QStringLiteral("not a valid zlib stream"));
    MemStream in(body);
    FileInfoMap map;
    if (!map.Read(in))
        return Fail(error,
            QStringLiteral("malformed, or more than %1 files or %2 MiB once read")
                .arg(FileInfoMap::kMaxShareRecordsDefault)
                .arg(FileInfoMap::kMaxShareBytes >> 20));
    AttributeTranslationTable names;
    if (!names.Read(in))
        names.clear();
    share = std::move(map);
    table = std::move(names);
    return true;
}

MemStream EncodeSharedFileList(const FileInfoMap& share, const AttributeTranslationTable& table)
{
    MemStream body;
    share.Write(body);
    table.Write(body);
    MemStream m = EncodeCodeOnly(PM_SHARED_FILE_LIST);
    const QByteArray compressed = Deflate(body.GetBuffer());
    m.WriteBuffer(compressed.constData(), compressed.size());
    return m;
}

bool DecodeDistributedSearch(const QByteArray& payload, DistributedSearch& out)
{
    MemStream in(payload);
    DistributedSearch s;
    if (!in.ReadUInt32(s.unknown) || !in.ReadString(s.user) || !in.ReadUInt32(s.token)
        || !in.ReadString(s.query))
        return false;
    out = std::move(s);
    return true;
}

QByteArray EncodeDistributedSearch(const DistributedSearch& search)
{
    MemStream m;
    m.WriteUInt8(DM_SEARCH_REQUEST);
    m.WriteUInt32(search.unknown);
    m.WriteString(search.user);
    m.WriteUInt32(search.token);
    m.WriteString(search.query);
    return m.GetBuffer();
}

QByteArray EncodeBranchLevel(qint32 level)
{
    MemStream m;
    m.WriteUInt8(DM_BRANCH_LEVEL);
    m.WriteInt32(level);
    return m.GetBuffer();
}

QByteArray EncodeBranchRoot(const QString& root)
{
    MemStream m;
    m.WriteUInt8(DM_BRANCH_ROOT);
    m.WriteString(root);
    return m.GetBuffer();
}

QByteArray EncodeChildDepth(quint32 depth)
{
    MemStream m;
    m.WriteUInt8(DM_CHILD_DEPTH);
    m.WriteUInt32(depth);
    return m.GetBuffer();
}

QByteArray EncodeDistributedPing()
{
    MemStream m;
    m.WriteUInt8(DM_PING);
    return m.GetBuffer();
}
