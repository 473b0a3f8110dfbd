// The peer messenger in this process, with real sockets: raw peers that
// speak the wire format by hand, hostile input, expiry and hand-over.
#include "helper_peers.h"
#include "helper_wirefixtures.h"
#include "peers/ConnectionRoom.h"
#include "peers/Inflate.h"
#include "peers/Obfuscation.h"
#include "peers/OutgoingAttempts.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "peers/SearchReplyQueue.h"
#include "peers/UnsentBytes.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

Q_DECLARE_METATYPE(std::string)

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Freed memory sits in quarantine (AddressSanitizer), and every access is
// shadowed (ThreadSanitizer): the process's peak says nothing there.
constexpr bool kMeasured = false;
#else
constexpr bool kMeasured = true;
#endif

qint64 Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

QByteArray Body(MemStream m)
{
    return m.GetBuffer();
}

// A raw peer that has introduced itself as a messaging peer.
std::unique_ptr<RawPeer> MessagingPeer(const QString& user, quint16 port, bool obfuscated = false)
{
    auto peer = std::make_unique<RawPeer>(obfuscated);
    if (!peer->Connect(port))
        return nullptr;
    peer->SendFrame(PeerInitBody(user, QStringLiteral("P"), 0));
    return peer;
}

// A messaging peer that reads nothing: what it is sent stays in the system's
// buffers, kept small, and then in the sender's.
std::unique_ptr<RawPeer> DeafPeer(const QString& user, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto peer = std::make_unique<RawPeer>();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 || !peer->Adopt(fd))
        return nullptr;
    peer->Socket().setReadBufferSize(1);
    peer->SendFrame(PeerInitBody(user, QStringLiteral("P"), 0));
    return peer;
}

// Sends the bytes from a socket of its own and closes it at once: they and
// the close are in the system's hands before the messenger reads any of them.
bool SendAndClose(quint16 port, const QByteArray& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int room = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0
        && ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL) == bytes.size();
    ::close(fd);
    return sent;
}

} // namespace

class Messenger : public QObject {
    Q_OBJECT
    PeerMessenger* pm = nullptr;
    Server* offline = nullptr;

private slots:
    void initTestCase()
    {
        qRegisterMetaType<std::string>("std::string");
        Settings::CreateTypes();
        offline = new Server(this);
        gp_server->CreateData();
        settings.Set("username", "me");
        settings.Set("listening_port", "0");
        settings.Set("obfuscated_listening_port", "0");
        pm = new PeerMessenger(this);
        QVERIFY(pm->Listen());
        QVERIFY(pm->ListeningPort() != 0 && pm->ObfuscatedListeningPort() != 0);
    }

    void dataLoadedTakesAChosenPortAndWritesDefaults()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 chosen = probe.serverPort();
        probe.close();
        settings.Set("new_listening_port", chosen);
        pm->DataLoaded();
        QCOMPARE(settings.GetInt("listening_port"), int(chosen));
        QCOMPARE(settings.GetInt("obfuscated_listening_port"), int(chosen) + 1);
        QVERIFY(!d.GetType("global")->HasItem("new_listening_port"));
        // A port that leaves no room for the obfuscated one, or no number:
        // the defaults, never a random port.
        for (const char* unusable : { "65535", "0", "port", "70000" }) {
            LogSink::Instance().Reset();
            settings.Set("new_listening_port", unusable);
            pm->DataLoaded();
            QCOMPARE(settings.Get("listening_port"), QStringLiteral("2235"));
            QCOMPARE(settings.Get("obfuscated_listening_port"), QStringLiteral("2236"));
            QVERIFY(!d.GetType("global")->HasItem("new_listening_port"));
            QVERIFY(Logged("Peer Messenger", "can't be used"));
        }
        settings.Clear("listening_port");
        settings.Clear("obfuscated_listening_port");
        settings.SetDefault("listening_port", "2235"); // what DataLoaded writes
        QCOMPARE(settings.Get("listening_port"), QStringLiteral("2235"));
        // Back to free ports for the rest.
        settings.Set("listening_port", "0");
        settings.Set("obfuscated_listening_port", "0");
        QVERIFY(pm->Listen());
    }

    void messagesBecomeSignals()
    {
        QSignalSpy requested(pm, &PeerMessenger::FileTransferRequested);
        QSignalSpy response(pm, &PeerMessenger::FileTransferResponse);
        QSignalSpy queueUpload(pm, &PeerMessenger::QueueUploadRequested);
        QSignalSpy place(pm, &PeerMessenger::DownloadPlaceInLine);
        QSignalSpy failed(pm, &PeerMessenger::UploadFailed);
        QSignalSpy denied(pm, &PeerMessenger::UploadDenied);
        QSignalSpy placeRequest(pm, &PeerMessenger::UploadPlaceInLineRequested);
        QSignalSpy offer(pm, &PeerMessenger::QueueDownloadRequested);
        QSignalSpy folder(pm, &PeerMessenger::SharedFilesInFolderRequested);
        QSignalSpy infoRequest(pm, &PeerMessenger::UserInfoRequested);
        QSignalSpy info(pm, &PeerMessenger::UserInfoReceived);
        auto peer = MessagingPeer(QStringLiteral("ann"), pm->ListeningPort());
        QVERIFY(peer);
        // Fixtures written from the protocol, not by our encoders.
        for (const char* fixture : { Fixture::kTransferUpload, Fixture::kResponseWithSize,
                 Fixture::kResponseRefused, Fixture::kQueueUpload, Fixture::kPlaceInLine, Fixture::kUploadFailed,
                 Fixture::kUploadDenied, Fixture::kPlaceRequest, Fixture::kUploadOffer, Fixture::kFolderRequest,
                 "0f000000", Fixture::kUserInfo })
            peer->SendFrame(FixtureBytes(fixture));
        QTRY_COMPARE(info.size(), 1);

        const QString path = QStringLiteral("d\\f.mp3");
        QCOMPARE(requested.at(0), (QVariantList { "ann", 1, 77u, QVariant::fromValue(std::string("d\\f.mp3")),
                                      5000000000LL }));
        QCOMPARE(response.size(), 2);
        QCOMPARE(response.at(0), (QVariantList { "ann", 9u, true, true, 1234LL, QString() }));
        QCOMPARE(response.at(1), (QVariantList { "ann", 9u, false, false, 0LL, "Queued" }));
        QCOMPARE(queueUpload.at(0), (QVariantList { "ann", path }));
        QCOMPARE(place.at(0).at(1).value<std::string>(), std::string("d\\f.mp3"));
        QCOMPARE(place.at(0).at(2).toInt(), 12);
        QCOMPARE(failed.at(0).at(1).value<std::string>(), std::string("d\\f.mp3"));
        QCOMPARE(denied.at(0).at(1).value<std::string>(), std::string("d\\f.mp3"));
        QCOMPARE(denied.at(0).at(2).toString(), QStringLiteral("Too many files"));
        QCOMPARE(placeRequest.at(0), (QVariantList { "ann", path }));
        QCOMPARE(offer.at(0).at(1).value<std::string>(), std::string("d\\f.mp3"));
        QCOMPARE(offer.at(0).at(2).toLongLong(), 100);
        QCOMPARE(folder.at(0), (QVariantList { "ann", 3u, "d" }));
        QCOMPARE(infoRequest.size(), 1);
        QCOMPARE(info.at(0).at(1).toString(), QStringLiteral("hi"));
        QCOMPARE(info.at(0).at(2).toBool(), true);
        QCOMPARE(info.at(0).at(4).toInt(), 3);
        QCOMPARE(info.at(0).at(5).toInt(), 2);
        QCOMPARE(info.at(0).at(6).toInt(), 7);
        QCOMPARE(info.at(0).at(7).toBool(), true);

        // Our requests go out on the same connection, the counter advancing.
        settings.Set("transfer_req_counter", "41");
        QCOMPARE(pm->RequestUpload(QStringLiteral("ann"), QStringLiteral("\\u.mp3"), 9), 41u);
        QCOMPARE(settings.Get("transfer_req_counter"), QStringLiteral("42"));
        QByteArray frame;
        QVERIFY(peer->ReadFrame(frame));
        MemStream in(frame);
        quint32 code;
        QVERIFY(in.ReadUInt32(code) && code == PM_TRANSFER_REQUEST);
        TransferRequestMessage sent;
        QVERIFY(DecodeTransferRequest(in, sent));
        QCOMPARE(sent.req, 41u);
        QCOMPARE(sent.size, 9);
    }

    void shareListRequestsAreAnswered()
    {
        auto peer = MessagingPeer(QStringLiteral("bea"), pm->ListeningPort());
        QVERIFY(peer);
        // Without a provider: an empty share (8 zero bytes before compression).
        peer->SendFrame(Body(EncodeCodeOnly(PM_GET_SHARED_FILE_LIST)));
        QByteArray frame;
        QVERIFY(peer->ReadFrame(frame));
        QCOMPARE(frame.left(4), U32(PM_SHARED_FILE_LIST));
        QByteArray body;
        QCOMPARE(InflateCapped(frame.mid(4), 100, body), InflateResult::Ok);
        QCOMPARE(body, QByteArray(8, '\0'));
        // With one: its message, built for the asking user.
        QString askedFor;
        pm->SetSharedFilesMessageProvider([&askedFor](const QString& user) {
            askedFor = user;
            FileInfoMap share;
            share["\\s"].insert(FileInfo());
            return EncodeSharedFileList(share, AttributeTranslationTable());
        });
        peer->SendFrame(Body(EncodeCodeOnly(PM_GET_SHARED_FILE_LIST)));
        QVERIFY(peer->ReadFrame(frame));
        QCOMPARE(askedFor, QStringLiteral("bea"));
        FileInfoMap got;
        AttributeTranslationTable table;
        QVERIFY(DecodeSharedFileList(frame.mid(4), got, table));
        QCOMPARE(got.count("\\s"), size_t(1));
        // One whose answer is not ready yet: nothing is sent now, and the
        // answer it sends later is the next frame.
        int notReady = 0;
        pm->SetSharedFilesMessageProvider([&notReady](const QString&) -> std::optional<MemStream> {
            ++notReady;
            return std::nullopt;
        });
        peer->SendFrame(Body(EncodeCodeOnly(PM_GET_SHARED_FILE_LIST)));
        QTRY_COMPARE(notReady, 1);
        FileInfoMap later;
        later["\\later"];
        MemStream answer = EncodeSharedFileList(later, AttributeTranslationTable());
        pm->SendMessage(QStringLiteral("bea"), answer);
        QVERIFY(peer->ReadFrame(frame));
        QVERIFY(DecodeSharedFileList(frame.mid(4), got, table));
        QCOMPARE(got.count("\\later"), size_t(1));
        pm->SetSharedFilesMessageProvider({});

        // A share list from the peer arrives as UserShare, lists in the order
        // they came; a bomb does not.
        QStringList firstFolders;
        const auto recording = connect(
            pm, &PeerMessenger::UserShare, this, [&](QString, FileInfoMap& list, AttributeTranslationTable&) {
                firstFolders << QString::fromStdString(list.empty() ? std::string() : list.begin()->first);
            });
        MemStream bomb = EncodeCodeOnly(PM_SHARED_FILE_LIST);
        const QByteArray packed = Deflate(QByteArray(kMaxInflatedSize + 1024, '\0'));
        bomb.WriteBuffer(packed.constData(), packed.size());
        peer->SendFrame(bomb.GetBuffer());
        for (const char* folder : { "\\t", "\\u" }) {
            FileInfoMap small;
            small[folder];
            peer->SendFrame(Body(EncodeSharedFileList(small, AttributeTranslationTable())));
        }
        QTRY_COMPARE(firstFolders.size(), 2);
        disconnect(recording);
        QCOMPARE(firstFolders, QStringList({ QStringLiteral("\\t"), QStringLiteral("\\u") }));
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("bea")));
    }

    void obfuscatedPortBothWays()
    {
        QSignalSpy infoRequest(pm, &PeerMessenger::UserInfoRequested);
        auto peer = MessagingPeer(QStringLiteral("cat"), pm->ObfuscatedListeningPort(), true);
        QVERIFY(peer);
        peer->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        QTRY_COMPARE(infoRequest.size(), 1);
        QCOMPARE(infoRequest.at(0).at(0).toString(), QStringLiteral("cat"));
        pm->GetUserInfo(QStringLiteral("cat"));
        // The reply is obfuscated: a raw read shows a key, then no plain length.
        QByteArray raw;
        QVERIFY(peer->ReadRaw(raw, 12));
        QVERIFY(raw.mid(4, 4) != U32(4) || raw.mid(8, 4) != U32(PM_USER_INFO_REQUEST));
        ObfuscationCipher cipher;
        cipher.Reset(qFromLittleEndian<quint32>(raw.constData()));
        QByteArray clear = raw.mid(4);
        cipher.Apply(clear.data(), clear.size());
        QCOMPARE(clear, U32(4) + U32(PM_USER_INFO_REQUEST));
    }

    void fileConnectionIsHandedOverAfterFourBytes()
    {
        QTcpSocket* received = nullptr;
        uint req = 0;
        QString from;
        auto handler = connect(pm, &PeerMessenger::FileConnectionRequested, this,
            [&](QString user, QTcpSocket* socket, uint number) {
                received = socket;
                req = number;
                from = user;
            });
        RawPeer peer;
        QVERIFY(peer.Connect(pm->ListeningPort()));
        peer.SendFrame(PeerInitBody(QStringLiteral("eve"), QStringLiteral("F"), 0));
        peer.SendRaw(U32(0xabcd1234).left(2));
        QTest::qWait(50);
        QVERIFY(!received);
        peer.SendRaw(U32(0xabcd1234).mid(2) + QByteArray("rest"));
        QTRY_VERIFY(received);
        disconnect(handler);
        QCOMPARE(from, QStringLiteral("eve"));
        QCOMPARE(req, 0xabcd1234u);
        QVERIFY(!received->parent());
        QTRY_COMPARE(received->bytesAvailable(), 4); // "rest" is left for the new owner
        QCOMPARE(received->read(4), QByteArray("rest"));
        // Expiry never touches it.
        pm->ExpireStale(Now() + 100000);
        received->write("ok");
        received->flush();
        QByteArray echo;
        QVERIFY(peer.ReadRaw(echo, 2));
        QCOMPARE(echo, QByteArray("ok"));
        delete received;
        // Nobody takes a file connection: it is closed, not leaked.
        RawPeer orphan;
        QVERIFY(orphan.Connect(pm->ListeningPort()));
        orphan.SendFrame(PeerInitBody(QStringLiteral("eve"), QStringLiteral("F"), 0));
        orphan.SendRaw(U32(1));
        QVERIFY(orphan.WaitClosed());
    }

    void searchRepliesAreStoredUnderTheirSearch()
    {
        QSignalSpy results(pm, &PeerMessenger::SearchResults);
        Type* requests = d.GetType("search_request");
        ItemPtr search = requests->NewItem(Value(4242u));
        ItemPtr stopped = requests->NewItem(Value(4343u));
        stopped.Connect(d.GetType("search_stopped")->GetGlobalNullItem());
        SearchReply reply;
        reply.user = "fay";
        reply.ticket = 4242;
        FileInfo file;
        file.name = "\\music\\live\\a.mp3";
        file.size = 5000000000LL;
        file.attributes.extension = "mp3";
        file.attributes.attributes
            = { { ATTR_BITRATE, 192 }, { ATTR_BITRATE_MODE, 1 }, { ATTR_LENGTH, 300 }, { 9, 9 } };
        FileInfo bare;
        bare.name = "nofolder.txt";
        bare.size = 1;
        reply.files = { file, bare };
        reply.freeSlot = true;
        reply.uploadSpeed = 1000;
        reply.queueLength = 2;
        pm->ProcessMessage(QStringLiteral("fay"), EncodeSearchReply(reply).GetBuffer());
        QCOMPARE(results.size(), 0); // decoded on the worker
        pm->FinishSearchReplies();
        QCOMPARE(results.size(), 1);
        ItemPtr stored = results.at(0).at(0).value<ItemPtr>();
        QCOMPARE(stored["search_request"], search);
        QCOMPARE(stored["user"].AsString(), QStringLiteral("fay"));
        QCOMPARE(stored["search_results_user_available"].AsString(), QStringLiteral("yes"));
        QCOMPARE(stored["search_results_user_speed"].AsString(), QStringLiteral("1000"));
        QCOMPARE(stored["search_results_uploads_in_queue"].AsString(), QStringLiteral("2"));
        const ItemSet files = stored.GetItems("search_result");
        QCOMPARE(files.Size(), size_t(2));
        bool seenMp3 = false;
        for (ItemPtr f : files) {
            if (f["search_result_file_name"].AsString() != QStringLiteral("a.mp3")) {
                QCOMPARE(f["search_result_file_folder"].AsString(), QString());
                continue;
            }
            seenMp3 = true;
            QCOMPARE(f["search_result_file_folder"].AsString(), QStringLiteral("\\music\\live"));
            QCOMPARE(f["file_size"].AsString(), QStringLiteral("5000000000"));
            QCOMPARE(f["bitrate"].AsString(), QStringLiteral("192"));
            QCOMPARE(f["bitrate_mode"].AsString(), QStringLiteral("vbr"));
            QCOMPARE(f["length_seconds"].AsString(), QStringLiteral("300"));
        }
        QVERIFY(seenMp3);
        // Stopped, missing, and malformed: nothing stored, nothing signalled.
        const size_t before = d.GetType("search_results")->Count();
        reply.ticket = 4343;
        pm->ProcessMessage(QStringLiteral("fay"), EncodeSearchReply(reply).GetBuffer());
        reply.ticket = 1;
        pm->ProcessMessage(QStringLiteral("fay"), EncodeSearchReply(reply).GetBuffer());
        pm->ProcessMessage(QStringLiteral("fay"), EncodeSearchReply(reply).GetBuffer().left(20));
        pm->FinishSearchReplies();
        QCOMPARE(results.size(), 1);
        QCOMPARE(d.GetType("search_results")->Count(), before);
        // One record repeated 131,071 times: a message of a few hundred bytes
        // asking for half a gigabyte once read. Refused whole, with the peer's
        // name, at little cost.
        const QByteArray repeated = RepeatedRecordReply(4096, 131071, 4242);
        QVERIFY(repeated.size() < 1024);
        ResetPeakResident();
        const qint64 peak = PeakResidentKiB();
        pm->ProcessMessage(QStringLiteral("mallory"), repeated);
        pm->FinishSearchReplies();
        QCOMPARE(results.size(), 1);
        QVERIFY2(PeakResidentKiB() - peak < 64 * 1024, qPrintable(QString::number(PeakResidentKiB() - peak)));
        const auto lines = LogSink::Instance().AreaLines("Peer Messenger");
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const LogLine& line) {
            return line.text.startsWith(
                QStringLiteral("Refused a search reply from mallory: its 131072 results would take more than 64 MiB"));
        }));
        // A long reply comes in parts, its results in the order they came.
        // Those dropped with a stopped search wait no more: a reply as big as
        // the bound on waiting results still comes whole.
        auto* queue = pm->findChild<SearchReplyQueue*>();
        queue->SetMaxWaitingResults(450);
        reply.ticket = 4343;
        reply.files.clear();
        for (int i = 0; i < 450; ++i) {
            bare.name = std::to_string(i);
            reply.files.push_back(bare);
        }
        pm->ProcessMessage(QStringLiteral("fay"), EncodeSearchReply(reply).GetBuffer());
        pm->FinishSearchReplies();
        reply.ticket = 4242;
        pm->ProcessMessage(QStringLiteral("fay"), EncodeSearchReply(reply).GetBuffer());
        QVERIFY(QTest::qWaitFor([&] { return results.size() == 4; }));
        QStringList names;
        for (int part = 1; part < 4; ++part)
            for (ItemPtr f : results.at(part).at(0).value<ItemPtr>().GetItems("search_result"))
                names << f["search_result_file_name"].AsString();
        QCOMPARE(names.size(), 450);
        for (int i = 0; i < 450; ++i)
            QCOMPARE(names[i], QString::number(i));
        QCOMPARE(results.at(3).at(0).value<ItemPtr>().GetItems("search_result").Size(), size_t(50));
        queue->SetMaxWaitingResults(SearchReplyQueue::kMaxWaitingResults);
        // The search owns its replies: removing it takes them along.
        search.Remove();
        d.RemoveDisconnectedItems();
        QCOMPARE(d.GetType("search_result")->Count(), size_t(0));

        // A peer sends replies of ten results to the user's search, made
        // anew, as fast as its socket takes them, then the one of 131,072
        // results: the search keeps its bound (half of a reply reaches it)
        // and the rest are counted as left out, without being decoded (the
        // last one is not even refused); memory stays where it was.
        queue->SetMaxResultsPerSearch(1005);
        search = requests->NewItem(Value(4242u));
        qint64 leftOut = 0;
        const auto counting = connect(pm, &PeerMessenger::SearchResultsDropped, this,
            [&](quint32 ticket, QString, qint64 results, bool full) {
                leftOut += ticket == 4242 && full ? results : 0;
            });
        reply.files.resize(10);
        constexpr int kReplies = 20000;
        auto gush = MessagingPeer(QStringLiteral("gush"), pm->ListeningPort());
        QVERIFY(gush);
        ResetPeakResident();
        const qint64 floodPeak = PeakResidentKiB();
        gush->SendRaw(Framed(EncodeSearchReply(reply).GetBuffer()).repeated(kReplies));
        gush->SendFrame(repeated);
        const auto kept = [] { return qint64(d.GetType("search_result")->Count()); }; // the only search's
        QTRY_VERIFY_WITH_TIMEOUT(kept() + leftOut >= kReplies * 10 + 131072, 60000);
        QCOMPARE(kept(), 1005);
        QCOMPARE(leftOut, kReplies * 10 + 131072 - 1005);
        QVERIFY(!Logged("Peer Messenger", "Refused a search reply from gush"));
        if (kMeasured)
            QVERIFY2(PeakResidentKiB() - floodPeak < 32 * 1024,
                qPrintable(QString::number(PeakResidentKiB() - floodPeak)));
        disconnect(counting);
        search.Remove();
        d.RemoveDisconnectedItems();
        queue->SetMaxResultsPerSearch(SearchReplyQueue::kMaxResultsPerSearch);
    }

    void hostilePeersAreClosedAndOthersServed()
    {
        // Malformed init, oversized init, oversized frame, frame without code.
        RawPeer badInit;
        QVERIFY(badInit.Connect(pm->ListeningPort()));
        badInit.SendFrame(QByteArray("\x07junk"));
        QVERIFY(badInit.WaitClosed());
        // Each kind of connection bounds its frames: an init is a few names
        // (64 KiB is refused), a distributed connection carries searches
        // (1 MiB is refused), a messaging one carries share lists (1 MiB is
        // taken, 64 MiB is not). Refused as soon as the length is read.
        RawPeer bigInit;
        QVERIFY(bigInit.Connect(pm->ListeningPort()));
        bigInit.SendRaw(U32(64 * 1024));
        QVERIFY(bigInit.WaitClosed());
        RawPeer bigSearch;
        QVERIFY(bigSearch.Connect(pm->ListeningPort()));
        bigSearch.SendFrame(PeerInitBody(QStringLiteral("dan"), QStringLiteral("D"), 0));
        bigSearch.SendRaw(U32(1024 * 1024));
        QVERIFY(bigSearch.WaitClosed());
        auto bigList = MessagingPeer(QStringLiteral("gil"), pm->ListeningPort());
        QVERIFY(bigList);
        bigList->SendRaw(U32(1024 * 1024));
        QVERIFY(!bigList->WaitClosed(300));
        auto bigFrame = MessagingPeer(QStringLiteral("gus"), pm->ListeningPort());
        QVERIFY(bigFrame);
        bigFrame->SendRaw(U32(64 * 1024 * 1024));
        QVERIFY(bigFrame->WaitClosed());
        RawPeer unknownToken;
        QVERIFY(unknownToken.Connect(pm->ListeningPort()));
        unknownToken.SendFrame(PierceBody(999999));
        QVERIFY(unknownToken.WaitClosed());

        // Malformed messages are dropped; the connection goes on.
        QSignalSpy response(pm, &PeerMessenger::FileTransferResponse);
        QSignalSpy infoRequest(pm, &PeerMessenger::UserInfoRequested);
        auto sloppy = MessagingPeer(QStringLiteral("hal"), pm->ListeningPort());
        QVERIFY(sloppy);
        sloppy->SendFrame(Body(EncodeTransferResponse(1, false, false, 0, QStringLiteral("x"))).left(9));
        sloppy->SendFrame(QByteArray("\x01"));
        sloppy->SendFrame(Body(EncodeCodeOnly(8)));
        sloppy->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        QTRY_COMPARE(infoRequest.size(), 1);
        QCOMPARE(response.size(), 0);

        // Half a frame, then gone.
        {
            auto half = MessagingPeer(QStringLiteral("ivy"), pm->ListeningPort());
            QVERIFY(half);
            half->SendRaw(U32(100) + QByteArray(10, 'x'));
            QTRY_VERIFY(pm->HasOpenMessageConnection(QStringLiteral("ivy")));
        }
        QTRY_VERIFY(!pm->HasOpenMessageConnection(QStringLiteral("ivy")));
    }

    void aPeerThatAsksForTheShareListAndNeverReads()
    {
        // A list that does not compress, asked for 3,000 times by a peer that
        // reads none of it: while one is on its way, the rest are answered by it.
        QByteArray noise(600 * 1024, Qt::Uninitialized);
        for (char& c : noise)
            c = char(QRandomGenerator::global()->generate());
        int built = 0, asked = 0;
        QByteArray listed = noise;
        pm->SetSharedFilesMessageProvider([&](const QString&) {
            ++built;
            MemStream list = EncodeCodeOnly(PM_SHARED_FILE_LIST);
            list.WriteBuffer(listed.constData(), listed.size());
            return std::optional<MemStream>(list);
        });
        const auto counting = connect(pm, &PeerMessenger::MessageReceived, this,
            [&](QString user, quint32, qint64) { asked += user == QLatin1String("hog"); });
        auto hog = DeafPeer(QStringLiteral("hog"), pm->ListeningPort());
        QVERIFY(hog);
        QByteArray asks;
        for (int i = 0; i < 3000; ++i)
            asks += Framed(U32(PM_GET_SHARED_FILE_LIST));
        hog->SendRaw(asks);
        QTRY_COMPARE_WITH_TIMEOUT(asked, 3000, 30000);
        disconnect(counting);
        QVERIFY2(built < 50, qPrintable(QString::number(built))); // what the system's buffers took, then one
        // Other replies pile up behind it past the bound of one connection:
        // they are kept while it may still read them, and the connection
        // goes once it has taken none for a while.
        MemStream reply = EncodeCodeOnly(PM_USER_INFO_REPLY);
        reply.WriteBuffer(noise.constData(), noise.size());
        for (int i = 0; i < 60; ++i)
            pm->SendMessage(QStringLiteral("hog"), reply);
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("hog")));
        QVERIFY(!Logged("Peer Messenger", "does not read"));
        // (What the system moved since the last look shows as taken at the
        // first look.)
        pm->ExpireStale(Now() + ConnectionRoom::kNotReadingMs / 1000 + 1);
        pm->ExpireStale(Now() + 2 * (ConnectionRoom::kNotReadingMs / 1000 + 1));
        QVERIFY(Logged("Peer Messenger", "does not read"));
        QTRY_VERIFY(!pm->HasOpenMessageConnection(QStringLiteral("hog")));

        // A list beyond the send bound on its way to a peer that takes none
        // of it for longer than a peer that does not read is given (real
        // seconds: a write goes by the real clock), then a message behind
        // it: only the list is let past the bound, and both arrive whole.
        listed = noise.repeated(int(kMaxWaitingToSend / noise.size()) * 2);
        auto reader = MessagingPeer(QStringLiteral("rex"), pm->ListeningPort());
        QVERIFY(reader);
        reader->Socket().setReadBufferSize(1);
        const int before = built;
        reader->SendRaw(Framed(U32(PM_GET_SHARED_FILE_LIST)));
        QTRY_VERIFY(built > before);
        QTest::qWait(500); // the system's buffers fill, then nothing moves
        pm->ExpireStale(Now());
        QTest::qWait(ConnectionRoom::kNotReadingMs + 200);
        pm->ExpireStale(Now());
        MemStream behind = EncodeCodeOnly(PM_USER_INFO_REQUEST);
        pm->SendMessage(QStringLiteral("rex"), behind);
        pm->SetSharedFilesMessageProvider({});
        reader->Socket().setReadBufferSize(0);
        QByteArray list, after;
        QVERIFY(reader->ReadRaw(list, 8 + listed.size(), 60000));
        QVERIFY(list == U32(quint32(4 + listed.size())) + U32(PM_SHARED_FILE_LIST) + listed);
        QVERIFY(reader->ReadFrame(after) && after == U32(PM_USER_INFO_REQUEST));
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("rex")));
    }

    void manyStreamingPeersShareOneBudget()
    {
        // Forty peers stream requests that take a millisecond each to
        // handle: together they get about one budget in a pass of the event
        // loop (not one each), and a peer asking for the user's information
        // meanwhile is answered while they still stream.
        const int flooders = 40, frames = 60;
        int handled = 0, inPass = 0, mostInPass = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, this, [&] {
            mostInPass = std::max(mostInPass, inPass);
            inPass = 0;
        });
        heartbeat.start(0);
        QObject scope; // the handlers go with it, however the test ends
        connect(pm, &PeerMessenger::QueueUploadRequested, &scope, [&] {
            ++handled;
            ++inPass;
            QDeadlineTimer busy(1, Qt::PreciseTimer);
            while (!busy.hasExpired()) { }
        });
        int handledWhenAsked = -1;
        connect(pm, &PeerMessenger::UserInfoRequested, &scope, [&](QString user) {
            handledWhenAsked = handled;
            MemStream reply = EncodeCodeOnly(PM_USER_INFO_REPLY);
            pm->SendMessage(user, reply);
        });
        QByteArray burst;
        for (int i = 0; i < frames; ++i)
            burst += Framed(Body(EncodePathMessage(PM_QUEUE_UPLOAD, QStringLiteral("x\\y.mp3"))));
        std::vector<std::unique_ptr<RawPeer>> flood;
        for (int i = 0; i < flooders; ++i) {
            flood.push_back(MessagingPeer(QStringLiteral("flood%1").arg(i), pm->ListeningPort()));
            QVERIFY(flood.back());
            flood.back()->SendRaw(burst);
        }
        QTRY_VERIFY(handled > 0);
        auto probe = MessagingPeer(QStringLiteral("probe"), pm->ListeningPort());
        QVERIFY(probe);
        probe->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        QByteArray frame;
        QVERIFY(probe->ReadFrame(frame, 60000));
        QCOMPARE(frame, U32(PM_USER_INFO_REPLY));
        QVERIFY2(handledWhenAsked < flooders * frames, qPrintable(QString::number(handledWhenAsked)));
        QTRY_COMPARE_WITH_TIMEOUT(handled, flooders * frames, 60000);
        QVERIFY2(mostInPass <= 20, qPrintable(QString::number(mostInPass)));
    }

    void peersThatDoNotReadABigPictureAreBounded()
    {
        // Twenty peers that read nothing ask twice each for the user's
        // information. The picture goes to them all as one buffer, and the
        // second ask of each waits behind its unread reply.
        UserInfoMessage info;
        info.hasPicture = true;
        info.picture = QByteArray(8 * 1024 * 1024, 'p');
        bool copies = false;
        int asked = 0;
        QObject scope;
        connect(pm, &PeerMessenger::UserInfoRequested, &scope, [&](QString user) {
            asked += user.startsWith(QLatin1String("hog"));
            UserInfoMessage mine = info;
            if (copies)
                mine.picture = QByteArray(info.picture.constData(), info.picture.size());
            pm->SendMessage(user, EncodeUserInfoPieces(mine));
        });
        ResetPeakResident();
        const qint64 before = PeakResidentKiB();
        std::vector<std::unique_ptr<RawPeer>> hogs;
        const auto arrive = [&](int count) {
            for (int i = 0; i < count; ++i) {
                hogs.push_back(DeafPeer(QStringLiteral("hog%1").arg(hogs.size()), pm->ListeningPort()));
                QVERIFY(hogs.back());
                hogs.back()->SendRaw(Framed(U32(PM_USER_INFO_REQUEST)).repeated(2));
            }
        };
        arrive(20);
        QTRY_COMPARE(asked, 20);
        QTest::qWait(200);
        QCOMPARE(asked, 20);
        QVERIFY2(pm->UnsentTotal() < 9 * 1024 * 1024, qPrintable(QString::number(pm->UnsentTotal())));
        // Twenty more each get a copy of their own: past the bound on all
        // peers, the ones holding most are closed, and a peer that reads is
        // still answered.
        pm->SetUnsentBound(32 * 1024 * 1024);
        const auto restore = qScopeGuard([this] { pm->SetUnsentBound(UnsentBytes::kMaxInAll); });
        copies = true;
        arrive(20);
        QTRY_COMPARE(asked, 40);
        QVERIFY(pm->UnsentTotal() <= 32 * 1024 * 1024);
        auto reader = MessagingPeer(QStringLiteral("reader"), pm->ListeningPort());
        QVERIFY(reader);
        reader->SendFrame(U32(PM_USER_INFO_REQUEST));
        QByteArray frame;
        QVERIFY(reader->ReadFrame(frame, 30000));
        QCOMPARE(frame, EncodeUserInfo(info).GetBuffer());
        QVERIFY(pm->UnsentTotal() <= 32 * 1024 * 1024);
        const auto closed = [&] {
            int gone = 0;
            for (int i = 20; i < 40; ++i)
                gone += !pm->HasOpenMessageConnection(QStringLiteral("hog%1").arg(i));
            return gone;
        };
        QTRY_VERIFY(closed() >= 15);
        QVERIFY2(!kMeasured || PeakResidentKiB() - before < 64 * 1024,
            qPrintable(QString::number(PeakResidentKiB() - before)));
    }

    void aReadingPeerAskingForManyFoldersGetsEveryAnswer()
    {
        // Each answer is larger than a turn of the system's buffers takes:
        // answers wait to be sent while the peer reads them, and its
        // requests wait meanwhile; it is never taken for one that does not
        // read.
        LogSink::Instance().Reset();
        const QByteArray listing(256 * 1024, 'f');
        QObject scope;
        connect(pm, &PeerMessenger::SharedFilesInFolderRequested, &scope,
            [&](QString user, quint32 request) {
                MemStream answer = EncodeCodeOnly(PM_SHARED_FILES_IN_FOLDER);
                answer.WriteUInt32(request);
                answer.WriteBuffer(listing.constData(), listing.size());
                pm->SendMessage(user, answer);
            });
        auto reader = MessagingPeer(QStringLiteral("browser"), pm->ListeningPort());
        QVERIFY(reader);
        const quint32 asks = 300;
        QByteArray requests;
        for (quint32 i = 0; i < asks; ++i) {
            MemStream ask = EncodeCodeOnly(PM_GET_SHARED_FILES_IN_FOLDER);
            ask.WriteUInt32(i);
            ask.WriteString(QStringLiteral("music\\album"));
            requests += Framed(ask.GetBuffer());
        }
        reader->SendRaw(requests);
        QByteArray frame;
        for (quint32 i = 0; i < asks; ++i) {
            QVERIFY2(reader->ReadFrame(frame, 10000), qPrintable(QString::number(i)));
            QCOMPARE(frame.mid(4, 4), U32(i));
        }
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("browser")));
        QVERIFY(!Logged("Peer Messenger", "does not read"));
    }

    void theRoomAndTheQueueOfAttemptsDecideWithoutSockets()
    {
        // A full table of eight, four of them from one address and busy.
        ConnectionBudget budget;
        budget.total = 8;
        budget.perAddress = 4;
        ConnectionRoom room(budget);
        const QHostAddress crowded(QStringLiteral("10.0.0.1")), other(QStringLiteral("10.0.0.2"));
        const qint64 now = 1000;
        int ids[9];
        std::vector<ConnectionRoom::Seat> seats;
        for (int i = 0; i < 8; ++i) {
            ConnectionRoom::Seat seat;
            seat.id = &ids[i];
            seat.address = i < 4 ? crowded : other;
            seat.lastActivity = now - 50 + i;
            seat.ageMs = 100000;
            seat.idle = i >= 4;
            seats.push_back(seat);
            room.Count(ConnectionRoom::AddressKey(seat.address));
        }
        QCOMPARE(room.From(ConnectionRoom::AddressKey(QHostAddress(QStringLiteral("::ffff:10.0.0.1")))), 4);
        // The crowded address is refused before anyone is closed for it;
        // anyone else takes the place of the one idle longest.
        ConnectionRoom::Admission admission = room.Admit(seats, &crowded, true);
        QVERIFY(admission.room == ConnectionRoom::Room::Refuse && admission.close.empty());
        const QHostAddress third(QStringLiteral("10.0.0.3"));
        admission = room.Admit(seats, &third, true);
        QVERIFY(admission.room == ConnectionRoom::Room::Made);
        QCOMPARE(admission.close, std::vector<const void*> { &ids[4] });
        // A peer waiting for the share list being built for it is not idle;
        // one that does not read goes before an idle one; one that has not
        // introduced itself in time goes first; a young one is spared.
        for (int i = 4; i < 8; ++i)
            seats[i].idle = false;
        admission = room.Admit(seats, &third, true);
        QVERIFY(admission.room == ConnectionRoom::Room::Wait && admission.close.empty());
        seats[7].idle = true;
        seats[6].waiting = 5000000; // shared with others: closing it frees nothing
        seats[6].stalledMs = ConnectionRoom::kNotReadingMs;
        seats[5].unknown = true;
        seats[5].ageMs = kEvictGrace * 1000;
        QCOMPARE(room.Admit(seats, &third, true).close, std::vector<const void*> { &ids[5] });
        seats[5].ageMs = kEvictGrace * 1000 - 1;
        QCOMPARE(room.Admit(seats, &third, true).close, std::vector<const void*> { &ids[6] });
        QCOMPARE(room.Admit(seats, nullptr, false).close, std::vector<const void*> { &ids[6] });
        // Past the bound on all: those that do not read, then those that took
        // nothing for longest, until what they hold covers the excess.
        seats[6].unsent = 1000;
        seats[0].waiting = seats[0].unsent = 8000000; // just sent
        seats[1].waiting = seats[1].unsent = 3000000;
        seats[1].stalledMs = 300;
        QCOMPARE(ConnectionRoom::Overflow(seats, 2000000, nullptr), (std::vector<const void*> { &ids[6], &ids[1] }));
        QCOMPARE(ConnectionRoom::Overflow(seats, 9000000, nullptr).back(), static_cast<const void*>(&ids[0]));
        QCOMPARE(ConnectionRoom::Overflow(seats, 2000000, &ids[6]), (std::vector<const void*> { &ids[1] }));
        // Of those that do not read, the one holding most goes first, however
        // long the small ones have held theirs: one closed, not many.
        for (int i : { 2, 3, 7 }) {
            seats[i].waiting = seats[i].unsent = i == 7 ? 6000000 : 700000;
            seats[i].stalledMs = ConnectionRoom::kNotReadingMs * (i == 7 ? 1 : 9 - i);
        }
        QCOMPARE(ConnectionRoom::Overflow(seats, 1500000, nullptr), std::vector<const void*> { &ids[7] });
        QCOMPARE(ConnectionRoom::Overflow(seats, 6500000, nullptr),
            (std::vector<const void*> { &ids[7], &ids[2] }));

        // Outgoing attempts: one dropped without a socket (settled the other
        // way while it waited) gives its user's place back at once and counts
        // nothing; a socket settles once; those that waited too long are
        // given up.
        OutgoingAttempts attempts;
        OutgoingAttempts::Attempt asker; // queued at 0
        asker.user = QStringLiteral("asker");
        asker.brokered = true;
        for (; asker.token < quint32(kMaxBrokeredPerUser); ++asker.token)
            attempts.Queue(asker);
        QVERIFY(!attempts.Refusal(QStringLiteral("asker")).isEmpty());
        const auto open = [](const OutgoingAttempts::Attempt& a) { return quint64(a.token); }; // 0: dropped
        attempts.StartNext(open);
        attempts.StartNext(open);
        QVERIFY(attempts.Refusal(QStringLiteral("asker")).isEmpty());
        QCOMPARE(attempts.Connecting(), 2);
        QCOMPARE(attempts.Expire(kRequestTimeout).size(), size_t(0));
        QCOMPARE(attempts.Expire(kRequestTimeout + 1).size(), size_t(kMaxBrokeredPerUser - 3));
        attempts.Settled(1);
        attempts.Settled(1);
        QCOMPARE(attempts.Connecting() + attempts.Waiting(), 1);
    }

    void peersThatLeftGetNothingBuiltAndFreeTheirSeats()
    {
        // As many peers as one address may hold ask again and again for a
        // folder that takes long to answer and for the user's information,
        // tell us a transfer's answer and of downloads they want, which take
        // long too, and close, all before anything is read. The answers are
        // handled, the asks read once they had left are not; their seats are
        // free as soon as they have left, while what they told us is still
        // being handled, and a newcomer from there is answered.
        QTRY_COMPARE(pm->ConnectionsFrom(QHostAddress::LocalHost), 0); // earlier tests' peers gone
        int built = 0, answers = 0, freshAsked = 0;
        const auto busy = [] {
            for (QDeadlineTimer ms(1, Qt::PreciseTimer); !ms.hasExpired();) { }
        };
        QObject scope;
        connect(pm, &PeerMessenger::SharedFilesInFolderRequested, &scope, [&] {
            ++built;
            busy();
        });
        connect(pm, &PeerMessenger::UserInfoRequested, &scope, [&](QString user) {
            built += user.startsWith(QLatin1String("gone"));
            freshAsked += user == QLatin1String("fresh");
        });
        connect(pm, &PeerMessenger::FileTransferResponse, &scope,
            [&](QString user) { answers += user.startsWith(QLatin1String("gone")); });
        connect(pm, &PeerMessenger::QueueUploadRequested, &scope, busy);
        MemStream folder = EncodeCodeOnly(PM_GET_SHARED_FILES_IN_FOLDER);
        folder.WriteUInt32(7);
        folder.WriteString(QStringLiteral("music\\a folder of many files"));
        const QByteArray asks
            = (Framed(folder.GetBuffer()) + Framed(U32(PM_USER_INFO_REQUEST))).repeated(2000);
        const QByteArray told = Framed(FixtureBytes(Fixture::kResponseAccepted))
            + Framed(Body(EncodePathMessage(PM_QUEUE_UPLOAD, QStringLiteral("x\\y.mp3")))).repeated(1000);
        const int gone = pm->Budget().perAddress;
        for (int i = 0; i < gone; ++i)
            QVERIFY(SendAndClose(pm->ListeningPort(),
                Framed(PeerInitBody(QStringLiteral("gone%1").arg(i), QStringLiteral("P"), 0)) + asks + told));
        QTRY_COMPARE_WITH_TIMEOUT(answers, gone, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(pm->ConnectionsFrom(QHostAddress::LocalHost), 0, 30000);
        auto fresh = MessagingPeer(QStringLiteral("fresh"), pm->ListeningPort());
        QVERIFY(fresh);
        fresh->SendFrame(U32(PM_USER_INFO_REQUEST));
        QTRY_COMPARE_WITH_TIMEOUT(freshAsked, 1, 30000);
        QVERIFY2(built < gone * 2000 / 4, qPrintable(QString::number(built)));
    }

    void peersBeyondThePendingLimitAreServedAndTheSilentBounded()
    {
        // They all connect at once and speak a moment later: the messenger
        // is full of young silent sockets meanwhile, and must neither close
        // them nor lose the ones waiting behind them.
        QSignalSpy infoRequest(pm, &PeerMessenger::UserInfoRequested);
        std::vector<std::unique_ptr<RawPeer>> burst;
        const int count = kMaxPendingConnections * 2 + 10;
        for (int i = 0; i < count; ++i) {
            burst.push_back(std::make_unique<RawPeer>());
            QVERIFY(burst.back()->Connect(pm->ListeningPort()));
        }
        QTest::qWait(300);
        QCOMPARE(pm->PendingConnectionCount(), kMaxPendingConnections);
        for (int i = 0; i < count; ++i) {
            burst[i]->SendFrame(PeerInitBody(QStringLiteral("b%1").arg(i), QStringLiteral("P"), 0));
            burst[i]->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        }
        // The client's thread stands still at the first request, longer than
        // a silent socket's grace: the pause is its own, not the peers'.
        const auto still = connect(pm, &PeerMessenger::UserInfoRequested, this, [&] {
            if (infoRequest.size() == 1)
                for (QDeadlineTimer still(2500, Qt::PreciseTimer); !still.hasExpired();) { }
        });
        QTRY_COMPARE_WITH_TIMEOUT(infoRequest.size(), count, 10000);
        disconnect(still);
        burst.clear();

        // A flood of sockets that stay silent: they are bounded, a newcomer
        // is still served, and they time out. So does a plain peer on the
        // obfuscated port: its bytes make no init.
        std::vector<std::unique_ptr<RawPeer>> flood;
        for (int i = 0; i < kMaxPendingConnections + 20; ++i) {
            flood.push_back(std::make_unique<RawPeer>());
            QVERIFY(flood.back()->Connect(pm->ListeningPort()));
            QCoreApplication::processEvents(); // the messenger accepts
        }
        QTRY_VERIFY(pm->PendingConnectionCount() == kMaxPendingConnections);
        auto real = MessagingPeer(QStringLiteral("jay"), pm->ListeningPort());
        QVERIFY(real);
        real->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        QTRY_COMPARE(infoRequest.size(), count + 1);
        auto plain = MessagingPeer(QStringLiteral("dog"), pm->ObfuscatedListeningPort(), false);
        QVERIFY(plain);
        plain->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        QVERIFY(!plain->WaitClosed(300));
        pm->ExpireStale(Now() + kInitTimeout + 1);
        QTRY_COMPARE(pm->PendingConnectionCount(), 0);
        for (RawPeer* silent : { flood.front().get(), flood.back().get(), plain.get() })
            QVERIFY(silent->WaitClosed());
        QCOMPARE(infoRequest.size(), count + 1);
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("jay")));
        // An idle messaging connection goes after its idle time.
        pm->ExpireStale(Now() + kIdleTimeout + 1);
        QVERIFY(real->WaitClosed());
        QTRY_VERIFY(!pm->HasOpenMessageConnection(QStringLiteral("jay")));
    }

    void strangersBeyondTheBudgetMakeRoomForLaterPeers()
    {
        // More peers than one address may hold introduce themselves and
        // stay; the first trickles a message. Idle ones make room, oldest
        // first; the trickler goes once its message is overdue.
        QTRY_COMPARE(pm->ConnectionsFrom(QHostAddress::LocalHost), 0); // earlier tests' peers gone
        const int cap = pm->Budget().perAddress;
        std::vector<std::unique_ptr<RawPeer>> crowd;
        for (int i = 0; i < cap + 20; ++i) {
            crowd.push_back(MessagingPeer(QStringLiteral("crowd%1").arg(i), pm->ListeningPort()));
            QVERIFY(crowd.back());
            if (i == 0)
                crowd[0]->SendRaw(U32(100) + U32(PM_USER_INFO_REQUEST));
        }
        QTRY_VERIFY(pm->HasOpenMessageConnection(QStringLiteral("crowd%1").arg(cap + 19)));
        QCOMPARE(pm->ConnectionsFrom(QHostAddress::LocalHost), cap);
        QVERIFY(crowd[1]->WaitClosed());
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("crowd0")));
        QSignalSpy infoRequest(pm, &PeerMessenger::UserInfoRequested);
        auto later = MessagingPeer(QStringLiteral("later"), pm->ListeningPort());
        QVERIFY(later);
        later->SendFrame(Body(EncodeCodeOnly(PM_USER_INFO_REQUEST)));
        QTRY_COMPARE(infoRequest.size(), 1);
        crowd[0]->SendRaw("x");
        QTest::qWait(50);
        pm->ExpireStale(Now() + kFrameTimeout + 2);
        QVERIFY(crowd[0]->WaitClosed());
        QVERIFY(pm->HasOpenMessageConnection(QStringLiteral("later")));
        // Peers are counted by IPv4 address, the network's only kind: a peer
        // on IPv6, which could take a fresh address for every connection,
        // finds nobody listening.
        QTcpSocket v6;
        v6.connectToHost(QHostAddress::LocalHostIPv6, pm->ListeningPort());
        QVERIFY(!v6.waitForConnected(5000));
    }

    void theServersRequestsToConnectAreBounded()
    {
        // 2,000 requests from 40 users to a port that never answers: a few
        // connect at once, the next wait, the rest are refused. The first
        // socket to settle lets our own attempt go.
        DeadPort dead;
        QTcpServer early, own, real;
        for (QTcpServer* server : { &early, &own, &real })
            QVERIFY(server->listen(QHostAddress::LocalHost, 0));
        const auto request = [](const QString& user, quint16 port, quint32 token) {
            emit gp_server->ConnectToPeerRequested(
                user, QStringLiteral("P"), 0x7f000001, port, token, false, false, 0);
        };
        const int before = pm->ConnectionCount();
        request(QStringLiteral("early"), early.serverPort(), 1);
        for (quint32 i = 0; i < 2000; ++i)
            request(QStringLiteral("asker%1").arg(i % 40), dead.Port(), i + 2);
        QCOMPARE(pm->ConnectionCount() - before, kMaxConnecting);
        QCOMPARE(pm->WaitingConnectCount(), kMaxWaitingConnects);
        pm->ConnectToDistributedPeer(QStringLiteral("own"), 0x7f000001, own.serverPort());
        QTRY_VERIFY(own.hasPendingConnections());
        // Once it has settled, one of the server's takes its place: every
        // place is stuck. Another attempt of ours waits behind them, and is
        // settled the other way meanwhile: the peer pierces with its token.
        // When the stuck ones time out it opens nothing and counts nothing,
        // and the server's that waited are given up.
        QTRY_COMPARE(pm->WaitingConnectCount(), kMaxWaitingConnects - 1);
        const qint64 stuckSince = Now();
        QTRY_VERIFY(Now() > stuckSince); // the waiting one is younger
        QSignalSpy pierced(pm, &PeerMessenger::DistributedConnectionOpened);
        const quint32 token = gp_server->NextToken() + 1;
        pm->ConnectToDistributedPeer(QStringLiteral("waiter"), 0x7f000001, dead.Port());
        QCOMPARE(pm->WaitingConnectCount(), kMaxWaitingConnects);
        RawPeer piercer;
        QVERIFY(piercer.Connect(pm->ListeningPort()));
        piercer.SendFrame(PierceBody(token));
        QTRY_COMPARE(pierced.size(), 1);
        pm->ExpireStale(stuckSince + kRequestTimeout + 1);
        QTRY_COMPARE(pm->ConnectingCount() + pm->WaitingConnectCount(), 0);
        // A user whose requests were given up has its places back: the next
        // goes out at once, and it has a few under way at most.
        request(QStringLiteral("asker0"), real.serverPort(), 777);
        QTRY_VERIFY(real.hasPendingConnections());
        QTcpSocket* asker = real.nextPendingConnection();
        QTRY_COMPARE(asker->bytesAvailable(), 9);
        QCOMPARE(asker->readAll(), Framed(PierceBody(777)));
        for (quint32 i = 0; i < 20; ++i)
            request(QStringLiteral("asker0"), dead.Port(), 1000 + i);
        QCOMPARE(pm->ConnectingCount() + pm->WaitingConnectCount(), kMaxBrokeredPerUser);
        // Ours settled the other way while connecting (its socket is closed),
        // refused, or timed out: each gives its place back.
        const quint32 late = gp_server->NextToken() + 1;
        pm->ConnectToDistributedPeer(QStringLiteral("late"), 0x7f000001, dead.Port());
        QCOMPARE(pm->ConnectingSocketCount(), kMaxBrokeredPerUser + 1);
        piercer.Socket().abort();
        QVERIFY(piercer.Connect(pm->ListeningPort()));
        piercer.SendFrame(PierceBody(late));
        const quint16 closed = real.serverPort();
        real.close();
        pm->ConnectToDistributedPeer(QStringLiteral("refused"), 0x7f000001, closed);
        QTRY_COMPARE(pm->ConnectingSocketCount(), kMaxBrokeredPerUser);
        QCOMPARE(pm->ConnectingCount(), kMaxBrokeredPerUser);
        pm->ExpireStale(Now() + kRequestTimeout + 1);
        QCOMPARE(pm->ConnectingSocketCount() + pm->ConnectingCount(), 0);
    }

    void withoutTheServerAnAttemptFailsAtOnce()
    {
        QVERIFY(!gp_server->IsConnected());
        QSignalSpy failed(pm, &PeerMessenger::ConnectionToUserFailed);
        MemStream m = EncodeCodeOnly(PM_USER_INFO_REQUEST);
        pm->SendMessage(QStringLiteral("kim"), m);
        pm->SendMessage(QStringLiteral("kim"), m);
        QCOMPARE(failed.size(), 0); // never inside the caller's call
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("P"));
        QCOMPARE(pm->UnsentMessageCount(QStringLiteral("kim")), 2);
        // When kim connects to us after all, the messages go out in order.
        auto kim = MessagingPeer(QStringLiteral("kim"), pm->ListeningPort());
        QVERIFY(kim);
        QByteArray frame;
        QVERIFY(kim->ReadFrame(frame));
        QVERIFY(kim->ReadFrame(frame));
        QCOMPARE(pm->UnsentMessageCount(QStringLiteral("kim")), 0);
        // Messages nobody collects are dropped after 300 seconds.
        pm->SendMessage(QStringLiteral("lee"), m);
        QTRY_COMPARE(failed.size(), 2);
        pm->ExpireStale(Now() + kUnsentLifetime - 5);
        QCOMPARE(pm->UnsentMessageCount(QStringLiteral("lee")), 1);
        pm->ExpireStale(Now() + kUnsentLifetime + 1);
        QCOMPARE(pm->UnsentMessageCount(QStringLiteral("lee")), 0);
    }

    void aStaleAttemptFailsOnTheTimer()
    {
        // Logged in to a real server, toward a user who never answers the
        // brokered request and whose address has nobody listening.
        StandinServer server;
        QVERIFY(server.Start());
        qputenv("MARROWBY_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server.Port()));
        auto* online = new Server(this);
        online->CreateData();
        QSignalSpy connected(online, &Server::Connected);
        online->Connect();
        QVERIFY(connected.wait(5000));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 deadPort = closed.serverPort();
        closed.close();
        QTcpSocket mute;
        QVERIFY(LoginRaw(mute, server.Port(), QStringLiteral("mute"), deadPort));
        QTest::qWait(200);

        auto* messenger = new PeerMessenger(this);
        QSignalSpy failed(messenger, &PeerMessenger::ConnectionToUserFailed);
        messenger->RequestFileConnectionToUser(QStringLiteral("mute"));
        messenger->RequestFileConnectionToUser(QStringLiteral("mute")); // one attempt only
        QTest::qWait(500); // the direct way fails, the brokered one waits
        QCOMPARE(failed.size(), 0);
        messenger->ExpireStale(Now() + kRequestTimeout - 5);
        QCOMPARE(failed.size(), 0);
        messenger->ExpireStale(Now() + kRequestTimeout + 1);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("mute"));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("F"));
        delete messenger;
        peerMessenger = pm;
        delete online;
        gp_server = offline;
    }
};

QTEST_GUILESS_MAIN(Messenger)
#include "tst_messenger.moc"
