#pragma once
// Shared set-up of the transfer-engine tests: one client core in the test
// process (store, server connection, peer network, share manager and the
// transfer engine, in the client's order), real shared folders, and loopback
// socket pairs that stand in for file connections.
#include "store/ItemPtr.h"
#include <QByteArray>
#include <QString>

class QTcpSocket;
class TransferQueueManager;

// Builds the core once per process (later calls return the same engine) and
// reads a data file that does not exist, as on a first start. The downloads
// folder is set to downloadsRoot when one is given.
TransferQueueManager* MakeTransferCore(const QString& downloadsRoot = QString());

// Shares the folder with everybody and waits for its walk; false on time-out.
bool ShareFolder(const QString& path);

// Writes a file of pseudo-random bytes (seeded), making its folders; returns
// the bytes.
QByteArray WriteRandomFile(const QString& path, qint64 size, quint32 seed = 1);
QByteArray ReadWholeFile(const QString& path);

// The user's item, connected to is_online (or disconnected from it).
ItemPtr SetOnline(const QString& user, bool online);

// A connected pair of loopback sockets: first is handed to the engine, second
// plays the peer.
struct SocketPair {
    QTcpSocket* engineSide = nullptr;
    QTcpSocket* peerSide = nullptr;
};
SocketPair MakeSocketPair();

// Reads exactly n bytes from the socket, waiting up to timeoutMs (less once it closes).
QByteArray ReadExactly(QTcpSocket* socket, qint64 n, int timeoutMs = 10000);

// The status word of an entry.
QString DownloadStatus(ItemPtr download);
QString UploadStatus(ItemPtr upload);
