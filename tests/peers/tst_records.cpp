// Share-list records and the peer message encoders and decoders.
#include "peers/FileInfo.h"
#include "peers/Inflate.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
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
MemStream Payload(MemStream m)
{
    MemStream in(m.GetBuffer());
    quint32 code;
    in.ReadUInt32(code);
    return in;
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
    }

    void transferMessages()
    {
        TransferRequestMessage request;
        MemStream upload = Payload(EncodeTransferRequest(1, 77, QStringLiteral("\\a\\é.mp3"), 5000000000LL));
        QVERIFY(DecodeTransferRequest(upload, request));
        QCOMPARE(request.direction, 1u);
        QCOMPARE(request.req, 77u);
        QCOMPARE(QString::fromStdString(request.file), QStringLiteral("\\a\\é.mp3"));
        QCOMPARE(request.size, 5000000000LL);
        // Direction 0 carries no size; a direction 1 without one is malformed.
        MemStream download = Payload(EncodeTransferRequest(0, 5, QStringLiteral("f"), 99));
        QVERIFY(DecodeTransferRequest(download, request));
        QCOMPARE(request.size, 0);
        MemStream asUpload;
        asUpload.WriteUInt32(1);
        asUpload.WriteUInt32(5);
        asUpload.WriteString(std::string("f"));
        QVERIFY(!DecodeTransferRequest(asUpload, request));

        TransferResponseMessage response;
        MemStream withSize = Payload(EncodeTransferResponse(9, true, true, 1234, QString()));
        QVERIFY(DecodeTransferResponse(withSize, response));
        QVERIFY(response.accepted && response.hasSize);
        QCOMPARE(response.size, 1234);
        MemStream without = Payload(EncodeTransferResponse(9, true, false, 0, QString()));
        QVERIFY(DecodeTransferResponse(without, response));
        QVERIFY(response.accepted && !response.hasSize);
        MemStream denied = Payload(EncodeTransferResponse(9, false, false, 0, QStringLiteral("Queued")));
        QVERIFY(DecodeTransferResponse(denied, response));
        QVERIFY(!response.accepted);
        QCOMPARE(response.reason, QStringLiteral("Queued"));
        MemStream deniedCut(EncodeTransferResponse(9, false, false, 0, QStringLiteral("Queued"))
                                .GetBuffer()
                                .mid(4, 4 + 1 + 4 + 2));
        QVERIFY(!DecodeTransferResponse(deniedCut, response));
    }

    void userInformation()
    {
        UserInfoMessage info;
        info.description = QStringLiteral("line one\nline two");
        info.hasPicture = true;
        info.picture = QByteArray(300000, 'p'); // above the string bound, below the picture bound
        info.uploadSlots = 2;
        info.queuedUploads = 7;
        info.freeToUpload = true;
        MemStream in = Payload(EncodeUserInfo(info));
        UserInfoMessage back;
        QVERIFY(DecodeUserInfo(in, back));
        QCOMPARE(back.description, info.description);
        QCOMPARE(back.picture.size(), info.picture.size());
        QCOMPARE(back.queuedUploads, 7);
        QVERIFY(back.freeToUpload);
        // Without a picture the body is 18 bytes with its code; any cut fails.
        UserInfoMessage empty;
        const QByteArray bytes = EncodeUserInfo(empty).GetBuffer();
        QCOMPARE(bytes.size(), 18);
        for (int cut = 4; cut < bytes.size(); ++cut) {
            MemStream part(bytes.left(cut));
            quint32 code;
            part.ReadUInt32(code);
            QVERIFY(!DecodeUserInfo(part, back));
        }
        // A picture longer than its bound is refused.
        MemStream big;
        big.WriteString(QString());
        big.WriteUInt8(1);
        big.WriteUInt32(kMaxPictureLength + 1);
        QVERIFY(!DecodeUserInfo(big, back));
    }

    void searchRepliesAndTreeMessages()
    {
        SearchReply reply;
        reply.user = "bob";
        reply.ticket = 42;
        FileInfo f = File("\\music\\a.mp3", 100);
        f.attributes.extension = "mp3";
        f.attributes.attributes = { { ATTR_BITRATE, 192 } };
        reply.files = { f, File("\\b.flac", 200) };
        reply.freeSlot = true;
        reply.uploadSpeed = 5000;
        reply.queueLength = 3;
        SearchReply back;
        QVERIFY(DecodeSearchReply(EncodeSearchReply(reply).GetBuffer().mid(4), back));
        QCOMPARE(back.user, std::string("bob"));
        QCOMPARE(back.ticket, 42u);
        QCOMPARE(back.files.size(), size_t(2));
        QCOMPARE(back.files[0].attributes.attributes.size(), size_t(1));
        QCOMPARE(back.queueLength, 3u);
        // A body that stops before the queue length is dropped.
        MemStream cut;
        cut.WriteString(std::string("bob"));
        cut.WriteUInt32(1);
        cut.WriteUInt32(0);
        cut.WriteUInt8(1);
        QVERIFY(!DecodeSearchReply(Deflate(cut.GetBuffer()), back));

        DistributedSearch search;
        search.user = QStringLiteral("carol");
        search.token = 7;
        search.query = QStringLiteral("deep needle");
        const QByteArray frame = EncodeDistributedSearch(search);
        QCOMPARE(quint8(frame.at(0)), quint8(DM_SEARCH_REQUEST));
        DistributedSearch decoded;
        QVERIFY(DecodeDistributedSearch(frame.mid(1), decoded));
        QCOMPARE(decoded.unknown, 49u);
        QCOMPARE(decoded.query, search.query);
        QVERIFY(!DecodeDistributedSearch(frame.mid(1, frame.size() - 2), decoded));

        PeerInitMessage init;
        MemStream initBody;
        initBody.WriteString(QStringLiteral("dave"));
        initBody.WriteString(QStringLiteral("P"));
        initBody.WriteUInt32(0);
        QVERIFY(DecodePeerInit(initBody.GetBuffer(), init));
        QCOMPARE(init.user, QStringLiteral("dave"));
        MemStream badType;
        badType.WriteString(QStringLiteral("dave"));
        badType.WriteString(QStringLiteral("X"));
        badType.WriteUInt32(0);
        QVERIFY(!DecodePeerInit(badType.GetBuffer(), init));
    }
};

QTEST_GUILESS_MAIN(Records)
#include "tst_records.moc"
