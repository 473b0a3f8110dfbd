#pragma once

#include <QString>
#include <QStringList>

// What the command line chose for one run of the stand-in server.
struct StandinOptions {
    quint16 port = 2242;
    quint32 wishlistPeriod = 720;
    // Users whose peer address (code 3) is answered with a port nobody listens on.
    QStringList wrongPortUsers;
    // Users whose port, in the requests to connect to them for a file
    // connection (code 18 of type "F"), is one nobody listens on.
    QStringList wrongFilePortUsers;
    // Users holding privileges from the start.
    QStringList privilegedUsers;
    // Administrator message sent after every login; none when empty.
    QString motd;
    // Searches reach other users only through the branch roots of the tree.
    bool treeOnly = false;
};
