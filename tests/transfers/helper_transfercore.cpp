#include "helper_transfercore.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

TransferQueueManager* MakeTransferCore(const QString& downloadsRoot)
{
    if (transferQueueManager)
        return transferQueueManager;
    QCoreApplication* app = QCoreApplication::instance();
    new TimerManager(app);
    dataSaver = new DataSaver(&d);
    new Server(app);
    Settings::CreateTypes();
    gp_server->CreateData();
    settings.Set("use_upnp", "no");
    settings.Set("listening_port", "0");
    settings.Set("obfuscated_listening_port", "0");
    new PeerMessenger(app);
    new DNetManager(app);
    new SharedFoldersManager(app);
    auto* engine = new TransferQueueManager(app);
    if (!downloadsRoot.isEmpty())
        settings.Set("download_folder", Value(downloadsRoot));
    try {
        dataSaver->Load(QDir::homePath() + QStringLiteral("/.no-data-file-here"));
    } catch (...) {
    }
    sharedFoldersManager->Init();
    return engine;
}

bool ShareFolder(const QString& path)
{
    ItemPtr folder = sharedFoldersManager->AddSharedFolder(path);
    folder += d.GetType("shared_public")->GetGlobalNullItem();
    QElapsedTimer clock;
    clock.start();
    while (sharedFoldersManager->IsScanning()) {
        if (clock.elapsed() > 60000)
            return false;
        QTest::qWait(10);
    }
    return true;
}

QByteArray WriteRandomFile(const QString& path, qint64 size, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).path());
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(random.generate() & 0xff);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return bytes;
}

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ItemPtr SetOnline(const QString& user, bool online)
{
    ItemPtr item = d.GetType("user")->GetItem(Value(user));
    ItemPtr flag = d.GetType("is_online")->GetGlobalNullItem();
    if (online)
        item += flag;
    else
        item.Disconnect("is_online");
    return item;
}

SocketPair MakeSocketPair()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    auto* peer = new QTcpSocket;
    peer->connectToHost(QHostAddress::LocalHost, server.serverPort());
    peer->waitForConnected(5000);
    server.waitForNewConnection(5000);
    QTcpSocket* engine = server.nextPendingConnection();
    if (engine)
        engine->setParent(nullptr);
    return SocketPair { engine, peer };
}

QByteArray ReadExactly(QTcpSocket* socket, qint64 n, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < n && clock.elapsed() < timeoutMs) {
        if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(50))
            QCoreApplication::processEvents();
        out += socket->read(n - out.size());
        if (socket->state() == QAbstractSocket::UnconnectedState && !socket->bytesAvailable())
            break; // closed: nothing more comes
    }
    return out;
}

QString DownloadStatus(ItemPtr download)
{
    return download["download_entry_status"].AsString();
}
QString UploadStatus(ItemPtr upload)
{
    return upload["upload_entry_status"].AsString();
}
