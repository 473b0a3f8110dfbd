#pragma once
// Small helpers that the transfer queue's files share.
#include "store/Data.h"
#include <QString>
#include <QTcpSocket>

// The area of the queue's log lines.
inline const QString kArea = QStringLiteral("Transfer Queue");

// Numbered names ("name (n).ext") tried beside a taken one before giving up.
constexpr int kMaxNameSuffix = 9999;

inline Type* T(const char* name)
{
    return d.GetType(name);
}

// The download of that download_order, if it is still there.
inline ItemPtr DownloadOfOrder(qint64 order)
{
    return T("download_order")->HasItem(Value(static_cast<long long>(order)))["download_entry"];
}

// Closes a socket that its thread has handed back and frees it once the
// events already queued for it have run.
inline void DropSocket(QTcpSocket* socket)
{
    if (!socket)
        return;
    socket->disconnect();
    socket->close();
    socket->deleteLater();
}
