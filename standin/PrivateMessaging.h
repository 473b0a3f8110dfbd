#pragma once

#include "Service.h"

#include <QList>
#include <QString>

// Private messages (codes 22, 23): every message is kept until its receiver
// acknowledges it; what is still kept is sent again at the receiver's login.
class PrivateMessaging : public Service {
public:
    using Service::Service;

    bool handle(ClientSession& session, quint32 code, WireReader& in) override;
    void loggedIn(ClientSession& session, quint32 previousStatus) override;

private:
    struct Message {
        quint32 id;
        quint32 time;
        QString from;
        QString to;
        QString text;
    };

    void store(ClientSession& session, WireReader& in);
    void acknowledge(ClientSession& session, WireReader& in);
    void deliver(const Message& message, bool isNew);

    QList<Message> m_messages;
    quint32 m_nextId = 1;
};
