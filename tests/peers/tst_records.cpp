// Share-list records and the peer message encoders and decoders.
#include "helper_wirefixtures.h"
#include "peers/FileInfo.h"
#include "peers/Inflate.h"
#include "peers/PeerCodes.h"
#include "store/OrderedWorker.h"
#include "peers/PeerMessages.h"
#include "peers/ShareListDecoder.h"
#include <QtTest>

namespace {

FileInfo File(const std::string& name, qint64 size)
{
    FileInfo f;
    f.name = name;
    f.size = size;
    return f;
}

// The message's bytes after its u32 code.
MemStream Payload(const QByteArray& message)
{
    return MemStream(message.mid(4));
}

QByteArray Inflated(const QByteArray& compressed)
{
    QByteArray out;
    InflateCapped(compressed, 1 << 20, out);
    return out;
}

// The values of the fixtures of the same names.
UserInfoMessage UserInfo()
{
    UserInfoMessage info;
    info.description = QStringLiteral("hi");
    info.hasPicture = true;
    info.picture = QByteArray::fromHex("ffd8ff");
    info.uploadSlots = 2;
    info.queuedUploads = 7;
    info.freeToUpload = true;
    return info;
}

UserInfoMessage BareUserInfo()
{
    UserInfoMessage info;
    info.uploadSlots = 1;
    return info;
}

SearchReply Reply()
{
    SearchReply reply;
    reply.user = "bob";
    reply.ticket = 42;
    reply.files = { File("\\b.flac", 200) };
    reply.freeSlot = true;
    reply.uploadSpeed = 5000;
    reply.queueLength = 3;
    return reply;
}

DistributedSearch Search()
{
    DistributedSearch search;
    search.user = QStringLiteral("carol");
    search.token = 7;
    search.query = QStringLiteral("deep needle");
    return search;
}

} // namespace

class Records : public QObject {
    Q_OBJECT
private slots:
    void fileInfoWireFormAndOrder()
    {
        FileInfo mp3 = File("song.mp3", 0x123456789);
        mp3.attributes.extension = "mp3";
        mp3.attributes.attributes = { { ATTR_BITRATE, 320 }, { ATTR_BITRATE_MODE, 1 } };
        MemStream out;
        QVERIFY(mp3.Write(out));
        QCOMPARE(out.GetBuffer().toHex(),
            QByteArray("01"
                       "08000000736f6e672e6d7033"
                       "8967452301000000"
                       "030000006d7033"
                       "02000000"
                       "0000000040010000"
                       "0200000001000000"));
        FileInfo back;
        QVERIFY(back.Read(out));
        QCOMPARE(back.name, mp3.name);
        QCOMPARE(back.size, mp3.size);
        QCOMPARE(back.attributes.attributes, mp3.attributes.attributes);

        // Unsigned byte order, then size; attributes do not count.
        QVERIFY(File("z", 1) < File("\x80", 0));
        QVERIFY(File("ab", 9) < File("abc", 1));
        QVERIFY(File("a", 1) < File("a", 2));
        FileInfo withAttributes = File("a", 1);
        withAttributes.attributes.extension = "mp3";
        QVERIFY(withAttributes == File("a", 1));
    }

    void aLeadingZeroRepeatsThePreviousRecord()
    {
        // count 3: record a, a 0 byte (repeats a: dropped), record b; trailing 0.
        MemStream wire;
        wire.WriteUInt32(3);
        File("a", 1).Write(wire);
        wire.WriteUInt8(0);
        File("b", 2).Write(wire);
        wire.WriteUInt32(0);
        SharedFolderInfo folder;
        QVERIFY(folder.Read(wire));
        QCOMPARE(folder.files.size(), size_t(2));
        // A 0 byte first adds the fresh record.
        MemStream first;
        first.WriteUInt32(1);
        first.WriteUInt8(0);
        first.WriteUInt32(0);
        QVERIFY(folder.Read(first));
        QCOMPARE(folder.files.size(), size_t(1));
        QCOMPARE(folder.files.begin()->name, std::string());
        // Without the trailing 0 the read fails.
        MemStream cut;
        cut.WriteUInt32(1);
        File("a", 1).Write(cut);
        QVERIFY(!folder.Read(cut));
    }

    void fileInfoMapLimits()
    {
        FileInfoMap map;
        map["\\music"].insert(File("a.mp3", 10));
        map["\\music\\live"]; // an empty folder is listed
        MemStream wire;
        QVERIFY(map.Write(wire));
        FileInfoMap back;
        QVERIFY(back.Read(wire));
        QCOMPARE(back.size(), size_t(2));
        QCOMPARE(back["\\music"].size(), size_t(1));

        // A name of 131072 bytes is read, 131073 is refused.
        for (quint32 length : { 131072u, 131073u }) {
            MemStream w;
            w.WriteUInt32(1);
            w.WriteString(std::string("k"));
            w.WriteUInt32(1);
            File(std::string(length, 'n'), 1).Write(w);
            FileInfoMap m;
            QCOMPARE(m.Read(w), length == 131072u);
        }
        // A folder count above 131072 fails at once.
        MemStream huge;
        huge.WriteUInt32(131073);
        QVERIFY(!back.Read(huge));
        // The total record budget counts repeats too.
        MemStream many;
        many.WriteUInt32(2);
        for (const char* key : { "x", "y" }) {
            many.WriteString(std::string(key));
            many.WriteUInt32(3);
            for (int i = 0; i < 3; ++i)
                many.WriteUInt8(0);
        }
        MemStream copy = many;
        QVERIFY(back.Read(many, 6));
        QVERIFY(!back.Read(copy, 5));
        // So does the byte budget: a long name repeated costs its footprint
        // each time, though the set keeps it once.
        MemStream repeats;
        repeats.WriteUInt32(1);
        repeats.WriteString(std::string("x"));
        repeats.WriteUInt32(3);
        File(std::string(1000, 'n'), 1).Write(repeats);
        repeats.WriteUInt8(0);
        repeats.WriteUInt8(0);
        MemStream again = repeats;
        const quint64 footprint = File(std::string(1000, 'n'), 1).Footprint();
        QVERIFY(back.Read(repeats, 10, 3 * footprint + 256));
        QVERIFY(!back.Read(again, 10, 2 * footprint + 256));
    }

    void sharedFileListDecoding()
    {
        FileInfoMap map;
        map["\\a"].insert(File("x", 1));
        AttributeTranslationTable table;
        table[1] = "length";
        MemStream message = EncodeSharedFileList(map, table);
        const QByteArray compressed = message.GetBuffer().mid(4);
        FileInfoMap share;
        AttributeTranslationTable names;
        QVERIFY(DecodeSharedFileList(compressed, share, names));
        QCOMPARE(share.size(), size_t(1));
        QCOMPARE(names.at(1), std::string("length"));

        // A table cut short still delivers the share with an empty table.
        MemStream body;
        map.Write(body);
        body.WriteUInt32(5);
        QVERIFY(DecodeSharedFileList(Deflate(body.GetBuffer()), share, names));
        QVERIFY(names.empty());
        QCOMPARE(share.size(), size_t(1));
        // A map cut short is dropped whole; nothing is changed.
        MemStream broken;
        broken.WriteUInt32(2);
        broken.WriteString(std::string("only one"));
        broken.WriteUInt32(0);
        QString why;
        QVERIFY(!DecodeSharedFileList(Deflate(broken.GetBuffer()), share, names, &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(share.size(), size_t(1));
        QVERIFY(!DecodeSharedFileList(QByteArray("not zlib"), share, names));

        // The decoder gives back what waited for it: lists of more than its
        // bound in all, one after another, are all taken; a list beyond the
        // bound alone is refused, and nothing follows from it.
        ShareListDecoder decoder;
        int outcomes = 0;
        connect(&decoder, &ShareListDecoder::Failed, this, [&outcomes] { ++outcomes; });
        connect(&decoder, &ShareListDecoder::Decoded, this, [&outcomes] { ++outcomes; });
        const QByteArray list = message.GetBuffer().left(4) + QByteArray(ShareListDecoder::kMaxWaitingBytes / 3, 'x');
        for (int i = 1; i <= 4; ++i) {
            QVERIFY2(decoder.Decode(QStringLiteral("bea"), list), qPrintable(QStringLiteral("list %1").arg(i)));
            decoder.Finish();
            QCOMPARE(outcomes, i);
        }
        QVERIFY(!decoder.Decode(QStringLiteral("bea"), QByteArray(ShareListDecoder::kMaxWaitingBytes + 1, 'x')));
        QVERIFY(decoder.Decode(QStringLiteral("bea"), message.GetBuffer()));
        decoder.Finish();
        QCOMPARE(outcomes, 5);

        // Work that throws on the worker ends there: its refusal follows in
        // its turn, and the work after it runs.
        OrderedWorker worker(100);
        QStringList told;
        QVERIFY(worker.Start(
            1, []() -> OrderedWorker::Outcome { throw std::bad_alloc(); }, [&](const QString& why) { told << why; }));
        QVERIFY(worker.Start(1, [&]() -> OrderedWorker::Outcome { return [&] { told << "next"; }; }, {}));
        worker.Finish();
        QCOMPARE(told, QStringList({ QStringLiteral("there was not enough memory to read it"), QStringLiteral("next") }));
    }

    // Every encoder gives the bytes of its fixture.
    void encodersWriteTheLayouts()
    {
        const QString path = QStringLiteral("d\\f.mp3");
        const std::vector<std::pair<const char*, QByteArray>> cases {
            { Fixture::kTransferUpload, EncodeTransferRequest(1, 77, path, 5000000000LL).GetBuffer() },
            { Fixture::kTransferDownload, EncodeTransferRequest(0, 5, QStringLiteral("f"), 99).GetBuffer() },
            { Fixture::kResponseWithSize, EncodeTransferResponse(9, true, true, 1234, QString()).GetBuffer() },
            { Fixture::kResponseAccepted, EncodeTransferResponse(9, true, false, 0, QString()).GetBuffer() },
            { Fixture::kResponseRefused,
                EncodeTransferResponse(9, false, false, 0, QStringLiteral("Queued")).GetBuffer() },
            { Fixture::kQueueUpload, EncodePathMessage(PM_QUEUE_UPLOAD, path).GetBuffer() },
            { Fixture::kPlaceInLine, EncodePlaceInLine(path, 12).GetBuffer() },
            { Fixture::kUploadFailed, EncodePathMessage(PM_UPLOAD_FAILED, std::string("d\\f.mp3")).GetBuffer() },
            { Fixture::kUploadDenied, EncodeUploadDenied(path, QStringLiteral("Too many files")).GetBuffer() },
            { Fixture::kPlaceRequest, EncodePathMessage(PM_UPLOAD_PLACE_IN_LINE_REQUEST, path).GetBuffer() },
            { Fixture::kUploadOffer, EncodeUploadOffer(path, 100).GetBuffer() },
            { Fixture::kFolderRequest, EncodeFolderRequest(3, QStringLiteral("d")).GetBuffer() },
            { Fixture::kUserInfo, EncodeUserInfo(UserInfo()).GetBuffer() },
            { Fixture::kUserInfoBare, EncodeUserInfo(BareUserInfo()).GetBuffer() },
            { Fixture::kSearchReplyBody, Inflated(EncodeSearchReply(Reply()).GetBuffer().mid(4)) },
            { Fixture::kDistributedSearch, EncodeDistributedSearch(Search()) },
            { Fixture::kBranchLevel, EncodeBranchLevel(2) },
            { Fixture::kBranchRoot, EncodeBranchRoot(QStringLiteral("alice")) },
            { Fixture::kChildDepth, EncodeChildDepth(3) },
            { Fixture::kPing, EncodeDistributedPing() },
        };
        for (const auto& [fixture, bytes] : cases)
            QCOMPARE(bytes.toHex(' '), FixtureBytes(fixture).toHex(' '));
        QCOMPARE(EncodeCodeOnly(PM_USER_INFO_REQUEST).GetBuffer(), FixtureBytes("0f000000"));
    }

    // Every decoder reads the fields of its fixture, and a fixture cut short
    // anywhere is refused.
    void decodersReadTheLayouts()
    {
        TransferRequestMessage request;
        MemStream upload = Payload(FixtureBytes(Fixture::kTransferUpload));
        QVERIFY(DecodeTransferRequest(upload, request));
        QCOMPARE(request.direction, 1u);
        QCOMPARE(request.req, 77u);
        QCOMPARE(request.file, std::string("d\\f.mp3"));
        QCOMPARE(request.size, 5000000000LL);
        MemStream download = Payload(FixtureBytes(Fixture::kTransferDownload));
        QVERIFY(DecodeTransferRequest(download, request));
        QCOMPARE(request.direction, 0u);
        QCOMPARE(request.req, 5u);
        QCOMPARE(request.file, std::string("f"));
        QCOMPARE(request.size, 0);

        TransferResponseMessage response;
        MemStream withSize = Payload(FixtureBytes(Fixture::kResponseWithSize));
        QVERIFY(DecodeTransferResponse(withSize, response));
        QVERIFY(response.accepted && response.hasSize);
        QCOMPARE(response.req, 9u);
        QCOMPARE(response.size, 1234);
        MemStream accepted = Payload(FixtureBytes(Fixture::kResponseAccepted));
        QVERIFY(DecodeTransferResponse(accepted, response));
        QVERIFY(response.accepted && !response.hasSize);
        MemStream refused = Payload(FixtureBytes(Fixture::kResponseRefused));
        QVERIFY(DecodeTransferResponse(refused, response));
        QVERIFY(!response.accepted);
        QCOMPARE(response.reason, QStringLiteral("Queued"));

        UserInfoMessage info;
        MemStream withPicture = Payload(FixtureBytes(Fixture::kUserInfo));
        QVERIFY(DecodeUserInfo(withPicture, info));
        QCOMPARE(info.description, QStringLiteral("hi"));
        QVERIFY(info.hasPicture);
        QCOMPARE(info.picture, QByteArray::fromHex("ffd8ff"));
        QCOMPARE(info.uploadSlots, 2);
        QCOMPARE(info.queuedUploads, 7);
        QVERIFY(info.freeToUpload);
        MemStream bare = Payload(FixtureBytes(Fixture::kUserInfoBare));
        QVERIFY(DecodeUserInfo(bare, info));
        QVERIFY(!info.hasPicture && !info.freeToUpload);
        QCOMPARE(info.uploadSlots, 1);
        QCOMPARE(info.queuedUploads, 0);

        SearchReply reply;
        QVERIFY(DecodeSearchReply(Deflate(FixtureBytes(Fixture::kSearchReplyBody)), reply));
        QCOMPARE(reply.user, std::string("bob"));
        QCOMPARE(reply.ticket, 42u);
        QCOMPARE(reply.files.size(), size_t(1));
        QCOMPARE(reply.files[0].name, std::string("\\b.flac"));
        QCOMPARE(reply.files[0].size, 200);
        QVERIFY(reply.freeSlot);
        QCOMPARE(reply.uploadSpeed, 5000u);
        QCOMPARE(reply.queueLength, 3u);

        DistributedSearch search;
        QVERIFY(DecodeDistributedSearch(FixtureBytes(Fixture::kDistributedSearch).mid(1), search));
        QCOMPARE(search.unknown, 49u);
        QCOMPARE(search.user, QStringLiteral("carol"));
        QCOMPARE(search.token, 7u);
        QCOMPARE(search.query, QStringLiteral("deep needle"));

        PeerInitMessage init;
        QVERIFY(DecodePeerInit(FixtureBytes(Fixture::kPeerInit).mid(1), init));
        QCOMPARE(init.user, QStringLiteral("dave"));
        QCOMPARE(init.type, QStringLiteral("P"));
        QCOMPARE(init.token, 513u);
        quint32 token = 0;
        QVERIFY(DecodePierceFirewall(FixtureBytes(Fixture::kPierce).mid(1), token));
        QCOMPARE(token, 513u);
        QVERIFY(!DecodePeerInit(FixtureBytes("04000000 64617665 01000000 58 00000000"), init)); // type "X"

        // Cut anywhere: refused.
        auto refusedWhenCut = [](const char* fixture, auto decode) {
            const QByteArray whole = FixtureBytes(fixture);
            for (int cut = 4; cut < whole.size(); ++cut) {
                MemStream part = Payload(whole.left(cut));
                if (decode(part))
                    return false;
            }
            return true;
        };
        QVERIFY(refusedWhenCut(
            Fixture::kTransferUpload, [&](MemStream& in) { return DecodeTransferRequest(in, request); }));
        QVERIFY(refusedWhenCut(
            Fixture::kResponseRefused, [&](MemStream& in) { return DecodeTransferResponse(in, response); }));
        QVERIFY(refusedWhenCut(Fixture::kUserInfo, [&](MemStream& in) { return DecodeUserInfo(in, info); }));
        const QByteArray searchBytes = FixtureBytes(Fixture::kDistributedSearch).mid(1);
        QVERIFY(!DecodeDistributedSearch(searchBytes.left(searchBytes.size() - 1), search));
        const QByteArray replyBody = FixtureBytes(Fixture::kSearchReplyBody);
        QVERIFY(!DecodeSearchReply(Deflate(replyBody.left(replyBody.size() - 5)), reply));

        // A picture longer than its bound, cut short, is refused.
        MemStream big;
        big.WriteString(QString());
        big.WriteUInt8(1);
        big.WriteUInt32(kMaxPictureLength + 1);
        QVERIFY(!DecodeUserInfo(big, info));
        // With its bytes there, it is passed over and the rest is read.
        big.WriteBuffer(QByteArray(kMaxPictureLength + 1, 'p').constData(), kMaxPictureLength + 1);
        big.WriteUInt32(4);
        big.WriteUInt32(0);
        big.WriteUInt8(1);
        QVERIFY(big.SeekRead(0) && DecodeUserInfo(big, info));
        QVERIFY(info.hasPicture && info.picture.isEmpty() && info.freeToUpload);
        QCOMPARE(info.skippedPictureLength, kMaxPictureLength + 1);
        // One above the string bound but below the picture bound is taken.
        UserInfoMessage large = UserInfo();
        large.picture = QByteArray(300000, 'p');
        MemStream largeIn = Payload(EncodeUserInfo(large).GetBuffer());
        QVERIFY(DecodeUserInfo(largeIn, info));
        QCOMPARE(info.picture.size(), 300000);
    }
};

QTEST_GUILESS_MAIN(Records)
#include "tst_records.moc"
