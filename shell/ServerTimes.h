#pragma once
// The display server's own times of what happened to the program's windows.
// The program's clock stops while its thread stands still (a flood, a slow
// disk); what the user and the desktop did meanwhile keeps the time it
// happened at. Under X11 every key, click and property change carries the X
// server's time, so it is read from the events themselves as they pass:
// - a window's map: the window manager marks a window it maps (WM_STATE);
// - an activation: the window manager records the active window on the root
//   (_NET_ACTIVE_WINDOW) right before or right after the focus moves, so the
//   change naming the window next to its focus-in in the stream of events is
//   its time (one after it may come late: the window manager is a program
//   that a busy machine keeps waiting too);
// - a click's press;
// - a stamp: a change of nothing (a zero-length append to a property of the
//   program's own) that the program asks for, answered with the server's
//   time. Answers come in the order asked, after everything the server sent
//   before, so a stamp asked for now also tells when all that came before has
//   been read.
// Times are the server's milliseconds, which wrap every 49 days: compare
// them only by Since().
// Where the platform gives no such times (offscreen, Wayland) there is no
// instance, and callers judge by their own clock.
#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QtGui/qwindowdefs.h>
#include <optional>

class ServerTimes : public QAbstractNativeEventFilter {
public:
    using Time = quint32;
    // Null where the platform gives no server times.
    static ServerTimes* Instance();
    // Milliseconds from `earlier` to `later` (negative when later is not).
    static qint32 Since(Time later, Time earlier) { return qint32(later - earlier); }

    // Starts recording the window, forgetting what was recorded of it.
    void Watch(WId window);
    void Forget(WId window);
    // Asks for a stamp on the window; its number.
    int Stamp(WId window);
    // The stamp's time once the server has answered.
    std::optional<Time> StampTime(int stamp) const;
    // The map of the window since Watch.
    std::optional<Time> Mapped(WId window) const;
    // The window's latest activation since Watch; unknown while its change
    // on the root may still come.
    std::optional<Time> Activated(WId window) const;
    // True while the window has the focus and its change on the root has not
    // come: it may still, or never (the focus moved without one).
    bool Awaited(WId window) const;
    // The latest press of a button on the window since Watch.
    std::optional<Time> Pressed(WId window) const;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Record {
        std::optional<Time> mapped;
        std::optional<Time> activated;
        std::optional<Time> pressed;
    };
    ServerTimes(void* connection, quint32 root);
    // The window the root names active now (a round trip to the server).
    quint32 ActiveWindow() const;
    // The window focused last gets the time as its activation's.
    void Pair(Time time);
    // The window focused last gets the change before its focus-in as its
    // time, or none, as no change after it will be waited for.
    void Settle();

    void* m_connection; // xcb_connection_t
    quint32 m_root;
    quint32 m_activeAtom = 0;
    quint32 m_stateAtom = 0;
    quint32 m_stampAtom = 0;
    QHash<quint32, Record> m_records;
    // A change on the root and the window it names.
    struct Change {
        Time time;
        quint32 window;
    };
    // The window that took the focus last while its change is awaited, and
    // the change naming it before its focus-in.
    quint32 m_focused = 0;
    std::optional<Time> m_changeBefore;
    std::optional<Change> m_change; // a change on the root since the last focus-in, not yet paired
    quint32 m_paired = 0; // the window given a change since the last focus-in
    int m_asked = 0; // stamps asked for
    int m_answered = 0; // stamps answered
    QList<Time> m_stamps; // the times of the last stamps answered
};
