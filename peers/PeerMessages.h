#pragma once
// Encoders and decoders of the peer messages: pure functions over bytes, so
// each decoder can be tested and fuzzed on its own. Decoders take the frame
// after its u32 code (or, for init frames, after the u8 code) and return
// false, leaving nothing half-applied for the caller, when the bytes are
// malformed or over a limit.
#include "FileInfo.h"
#include "PeerCodes.h"
#include "store/MemStream.h"
#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

// Init frames.
struct PeerInitMessage {
    QString user;
    QString type;
    quint32 token = 0;
};
bool DecodePeerInit(const QByteArray& payload, PeerInitMessage& out);
bool DecodePierceFirewall(const QByteArray& payload, quint32& token);

// Messaging frames: each encoder returns the whole message (u32 code first).
MemStream EncodeCodeOnly(quint32 code);
MemStream EncodeTransferRequest(quint32 direction, quint32 req, const QString& file, qint64 size);
MemStream EncodeTransferResponse(
    quint32 req, bool accepted, bool withSize, qint64 size, const QString& reason);
MemStream EncodePathMessage(quint32 code, const QString& path);
MemStream EncodePathMessage(quint32 code, const std::string& path);
MemStream EncodePlaceInLine(const QString& path, quint32 place);
MemStream EncodeUploadDenied(const QString& path, const QString& reason);
MemStream EncodeUploadOffer(const QString& path, qint64 size);
MemStream EncodeFolderRequest(quint32 request, const QString& folder);

struct TransferRequestMessage {
    quint32 direction = 0;
    quint32 req = 0;
    std::string file;
    qint64 size = 0; // only present when direction is 1
};
bool DecodeTransferRequest(MemStream& in, TransferRequestMessage& out);

struct TransferResponseMessage {
    quint32 req = 0;
    bool accepted = false;
    bool hasSize = false;
    qint64 size = 0;
    QString reason;
};
bool DecodeTransferResponse(MemStream& in, TransferResponseMessage& out);

struct UserInfoMessage {
    QString description;
    bool hasPicture = false;
    QByteArray picture;
    // The length of a picture longer than kMaxPictureLength, left unread.
    quint32 skippedPictureLength = 0;
    qint32 uploadSlots = 0;
    qint32 queuedUploads = 0;
    bool freeToUpload = false;
};
bool DecodeUserInfo(MemStream& in, UserInfoMessage& out);
MemStream EncodeUserInfo(const UserInfoMessage& info);
// The same message in three pieces, the picture's bytes the middle one as
// they are (shared, not copied), for PeerMessenger::SendMessage.
QByteArrayList EncodeUserInfoPieces(const UserInfoMessage& info);

// The search-result body, after inflation.
struct SearchReply {
    std::string user;
    quint32 ticket = 0;
    std::vector<FileInfo> files;
    bool freeSlot = false;
    quint32 uploadSpeed = 0;
    quint32 queueLength = 0;
};
// compressed: every byte after the code. error tells why on failure. Every
// record is read, but only the first `keep` are kept in out.files.
bool DecodeSearchReply(
    const QByteArray& compressed, SearchReply& out, QString* error = nullptr, size_t keep = size_t(-1));
// The ticket and the number of results of a reply, read from no more than
// its first kSearchReplyHeadBytes once inflated; false when they are not
// there (a long user name, a malformed stream): the whole reply tells.
constexpr qsizetype kSearchReplyHeadBytes = 1024;
bool PeekSearchReplyHead(const QByteArray& compressed, quint32& ticket, quint32& count);
MemStream EncodeSearchReply(const SearchReply& reply);

// Share list (code 5): the map must be read; the table is empty when it
// cannot be read.
bool DecodeSharedFileList(const QByteArray& compressed, FileInfoMap& share, AttributeTranslationTable& table,
    QString* error = nullptr);
MemStream EncodeSharedFileList(const FileInfoMap& share, const AttributeTranslationTable& table);

// Distributed frames (after the u8 code).
struct DistributedSearch {
    quint32 unknown = kDistributedSearchUnknown;
    QString user;
    quint32 token = 0;
    QString query;
};
bool DecodeDistributedSearch(const QByteArray& payload, DistributedSearch& out);
QByteArray EncodeDistributedSearch(const DistributedSearch& search); // with its u8 code
QByteArray EncodeBranchLevel(qint32 level);
QByteArray EncodeBranchRoot(const QString& root);
QByteArray EncodeChildDepth(quint32 depth);
QByteArray EncodeDistributedPing();
