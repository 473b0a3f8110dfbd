#pragma once
// One attempt to connect to a user for a type, directly and through the
// server at once (private to the messenger's files).
#include "PeerConnection.h"
#include "PeerMessenger.h"
#include <QPointer>

struct PeerMessenger::Request {
    quint32 token = 0; // the server-brokered request's token
    QString user;
    QString type;
    qint64 created = 0;
    bool awaitingAddress = false; // the direct way waits for the server's code 3
    bool directFailed = false;
    bool brokeredFailed = false;
    QPointer<PeerConnection> direct; // the direct socket under way
};
