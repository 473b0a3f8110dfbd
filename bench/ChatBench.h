// Pieces of the chat benchmarks: the core and the window bars the chat pages
// need, the server's messages fed to the server connection as if they came
// from the socket, and the longest stall of the event loop.
#pragma once
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "server/UserStats.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <QtEndian>

namespace {

// The core the chat pages use, with the settings of a user who logs rooms.
inline void CreateChatCore(QObject* owner)
{
    new TimerManager(owner);
    new Server(owner);
    Settings::CreateTypes();
    gp_server->CreateData();
    settings.Set("chat_timestamps", "per_message_short");
    settings.Set("color_chat_username", "#0033ff");
    settings.Set("color_chat_timestamp", "#0066ff");
    settings.Set("color_chat_status", "#339933");
    settings.Set("log_room_chat", "yes");
}

// The main window's bars; the action bar is returned.
inline ActionSetToolBar* AddWindowBars(QMainWindow& window)
{
    mainWindow = &window;
    InitShellResources();
    auto* bar = new ActionSetToolBar(&window);
    window.addToolBar(bar);
    window.addToolBar(new EventToolBar(&window));
    new SizeManager(&window);
    return bar;
}

// A server message as it comes from the socket.
inline QByteArray ServerFrame(quint32 code, const MemStream& body)
{
    const QByteArray fields = body.GetBuffer();
    QByteArray frame(8, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(fields.size() + 4), frame.data());
    qToLittleEndian<quint32>(code, frame.data() + 4);
    return frame + fields;
}

inline void Feed(quint32 code, const MemStream& body)
{
    gp_server->ProcessIncoming(ServerFrame(code, body));
}

// The server's answer to joining a room with these users in it.
inline MemStream JoinAnswer(const QString& room, const QStringList& users)
{
    const auto count = quint32(users.size());
    MemStream m;
    m.WriteString(room);
    m.WriteUInt32(count);
    for (const QString& user : users)
        m.WriteString(user);
    m.WriteUInt32(count);
    for (quint32 i = 0; i < count; ++i)
        m.WriteUInt32(2);
    m.WriteUInt32(count);
    for (quint32 i = 0; i < count; ++i) {
        UserStats stats;
        stats.averageSpeed = i * 37 % 90000;
        stats.fileCount = i * 13 % 20000;
        stats.Write(m);
    }
    m.WriteUInt32(count);
    for (quint32 i = 0; i < count; ++i)
        m.WriteUInt32(0);
    m.WriteUInt32(count);
    for (quint32 i = 0; i < count; ++i)
        m.WriteString(i % 3 ? QStringLiteral("de") : QStringLiteral("us"));
    return m;
}

inline void JoinRoom(const QString& room, const QStringList& users)
{
    Feed(SM_JOIN_ROOM, JoinAnswer(room, users));
}

// A user's words in a room, or in the room's ticker.
inline void SayIn(quint32 code, const QString& room, const QString& user, const QString& text)
{
    MemStream m;
    m.WriteString(room);
    m.WriteString(user);
    m.WriteString(text);
    Feed(code, m);
}

// The longest gap between two turns of a 1 ms heartbeat, from Start() on.
class StallMeter {
public:
    StallMeter()
    {
        QObject::connect(&m_heartbeat, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
        });
    }
    void Start()
    {
        m_clock.start();
        m_heartbeat.start(1);
    }
    void Stop() { m_heartbeat.stop(); }
    qint64 Longest() const { return m_longest; }

private:
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    QTimer m_heartbeat;
};

} // namespace
