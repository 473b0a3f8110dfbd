#pragma once
// Peer messages written out byte by byte from the protocol description, not
// by the code under test: the encoders must give these bytes and the decoders
// must read these fields, each side checked on its own (a field swap made on
// both sides would pass a round trip). Hex, spaces between fields; every
// message starts with its code (u32 on messaging connections, u8 on init and
// distributed ones). Paths are "d\f.mp3" (64 5c 66 2e 6d 70 33).
#include "peers/Inflate.h"
#include <QByteArray>
#include <QtEndian>

// Hex with spaces to bytes.
QByteArray FixtureBytes(const char* spacedHex);

namespace Fixture {
// 40 transfer request: direction 1, request 77, path, size 5000000000.
inline constexpr char kTransferUpload[] = "28000000 01000000 4d000000 07000000 645c662e6d7033 00f2052a01000000";
// 40 transfer request: direction 0, request 5, path "f", no size.
inline constexpr char kTransferDownload[] = "28000000 00000000 05000000 01000000 66";
// 41 transfer response: request 9, accepted, size 1234.
inline constexpr char kResponseWithSize[] = "29000000 09000000 01 d204000000000000";
// 41 transfer response: request 9, accepted, no size.
inline constexpr char kResponseAccepted[] = "29000000 09000000 01";
// 41 transfer response: request 9, refused, reason "Queued".
inline constexpr char kResponseRefused[] = "29000000 09000000 00 06000000 517565756564";
// 43 queue upload: path.
inline constexpr char kQueueUpload[] = "2b000000 07000000 645c662e6d7033";
// 44 place in line: path, place 12.
inline constexpr char kPlaceInLine[] = "2c000000 07000000 645c662e6d7033 0c000000";
// 46 upload failed: path.
inline constexpr char kUploadFailed[] = "2e000000 07000000 645c662e6d7033";
// 50 upload denied: path, reason "Too many files".
inline constexpr char kUploadDenied[] = "32000000 07000000 645c662e6d7033 0e000000 546f6f206d616e792066696c6573";
// 51 place-in-line request: path.
inline constexpr char kPlaceRequest[] = "33000000 07000000 645c662e6d7033";
// 60 upload offer: path, size 100.
inline constexpr char kUploadOffer[] = "3c000000 07000000 645c662e6d7033 6400000000000000";
// 36 folder request: request 3, folder "d".
inline constexpr char kFolderRequest[] = "24000000 03000000 01000000 64";
// 16 user information: description "hi", a picture of 3 bytes, 2 slots, 7
// queued, a free slot.
inline constexpr char kUserInfo[] = "10000000 02000000 6869 01 03000000 ffd8ff 02000000 07000000 01";
// 16 user information without a picture: description "", 1 slot, 0 queued, no free slot.
inline constexpr char kUserInfoBare[] = "10000000 00000000 00 01000000 00000000 00";
// 9 search reply, inflated body after the code: user "bob", ticket 42, one
// file "\b.flac" of 200 bytes (no extension, no attributes), a free slot,
// speed 5000, 3 queued, an empty attribute table.
inline constexpr char kSearchReplyBody[] = "03000000 626f62 2a000000 01000000"
                                           " 01 07000000 5c622e666c6163 c800000000000000 00000000 00000000"
                                           " 01 88130000 03000000 00000000";
// Distributed: search (3) with 49, user "carol", token 7, "deep needle".
inline constexpr char kDistributedSearch[] = "03 31000000 05000000 6361726f6c 07000000 0b000000 64656570206e6565646c65";
// Distributed: branch level (4) 2, branch root (5) "alice", child depth (7) 3, ping (0).
inline constexpr char kBranchLevel[] = "04 02000000";
inline constexpr char kBranchRoot[] = "05 05000000 616c696365";
inline constexpr char kChildDepth[] = "07 03000000";
inline constexpr char kPing[] = "00";
// Init frames: peer init (1) "dave", "P", token 513; pierce firewall (0) token 513.
inline constexpr char kPeerInit[] = "01 04000000 64617665 01000000 50 01020000";
inline constexpr char kPierce[] = "00 01020000";
}

// 9 search reply of one record repeated: user "x", the ticket, a count of
// 1 + repeats, the record (u8 1, a name of nameBytes "n", size 1, no
// extension, no attributes), then repeats records of a single 0 byte (each
// repeats the one before), no free slot, speed 0, 0 queued, no attribute
// names. The whole message: the u32 code, then the body deflated.
inline QByteArray RepeatedRecordReply(quint32 nameBytes, quint32 repeats, quint32 ticket)
{
    auto u32 = [](quint32 v) {
        QByteArray b(4, Qt::Uninitialized);
        qToLittleEndian<quint32>(v, b.data());
        return b;
    };
    const QByteArray body = u32(1) + "x" + u32(ticket) + u32(1 + repeats) + '\x01' + u32(nameBytes)
        + QByteArray(nameBytes, 'n') + QByteArray::fromHex("0100000000000000 00000000 00000000")
        + QByteArray(repeats, '\0') + QByteArray::fromHex("00 00000000 00000000 00000000");
    return u32(9) + Deflate(body);
}
