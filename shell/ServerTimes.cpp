#include "ServerTimes.h"
#include <QGuiApplication>
#include <cstring>
#include <xcb/xcb.h>

namespace {

// How many answered stamps are kept: a caller asks for a stamp's time while
// it waits on it, long before this many more come.
constexpr int kKeptStamps = 256;

xcb_connection_t* Connection(void* connection)
{
    return static_cast<xcb_connection_t*>(connection);
}

} // namespace

ServerTimes* ServerTimes::Instance()
{
    static ServerTimes* times = [] {
        const auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        if (!connection || xcb_connection_has_error(connection))
            return static_cast<ServerTimes*>(nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        if (!screen)
            return static_cast<ServerTimes*>(nullptr);
        auto* made = new ServerTimes(connection, screen->root); // lives as long as the program
        qApp->installNativeEventFilter(made);
        return made;
    }();
    return times;
}

ServerTimes::ServerTimes(void* connection, quint32 root)
    : m_connection(connection)
    , m_root(root)
{
    // Once, when the first window needs them: one round trip to the server.
    const char* names[] = { "_NET_ACTIVE_WINDOW", "WM_STATE", "_MARROWBY_STAMP" };
    quint32* atoms[] = { &m_activeAtom, &m_stateAtom, &m_stampAtom };
    xcb_intern_atom_cookie_t cookies[3];
    for (int i = 0; i < 3; ++i)
        cookies[i] = xcb_intern_atom(Connection(connection), 0, quint16(std::strlen(names[i])), names[i]);
    for (int i = 0; i < 3; ++i) {
        if (xcb_intern_atom_reply_t* reply
            = xcb_intern_atom_reply(Connection(connection), cookies[i], nullptr)) {
            *atoms[i] = reply->atom;
            free(reply);
        }
    }
}

void ServerTimes::Watch(WId window)
{
    m_records.insert(quint32(window), Record());
}

void ServerTimes::Forget(WId window)
{
    m_records.remove(quint32(window));
}

int ServerTimes::Stamp(WId window)
{
    if (!window || !m_stampAtom)
        return -1;
    xcb_change_property(Connection(m_connection), XCB_PROP_MODE_APPEND, xcb_window_t(window), m_stampAtom,
        XCB_ATOM_INTEGER, 32, 0, nullptr);
    xcb_flush(Connection(m_connection));
    return m_asked++;
}

std::optional<ServerTimes::Time> ServerTimes::StampTime(int stamp) const
{
    const int back = m_answered - 1 - stamp;
    if (stamp < 0 || back < 0 || back >= m_stamps.size())
        return std::nullopt;
    return m_stamps.at(m_stamps.size() - 1 - back);
}

std::optional<ServerTimes::Time> ServerTimes::Mapped(WId window) const
{
    return m_records.value(quint32(window)).mapped;
}

std::optional<ServerTimes::Time> ServerTimes::Activated(WId window) const
{
    return m_records.value(quint32(window)).activated;
}

std::optional<ServerTimes::Time> ServerTimes::Pressed(WId window) const
{
    return m_records.value(quint32(window)).pressed;
}

bool ServerTimes::Awaited(WId window) const
{
    return window && m_focused == quint32(window);
}

quint32 ServerTimes::ActiveWindow() const
{
    const xcb_get_property_cookie_t cookie
        = xcb_get_property(Connection(m_connection), 0, m_root, m_activeAtom, XCB_ATOM_WINDOW, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(Connection(m_connection), cookie, nullptr);
    quint32 window = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        std::memcpy(&window, xcb_get_property_value(reply), sizeof window);
    free(reply);
    return window;
}

void ServerTimes::Pair(Time time)
{
    const auto record = m_records.find(m_focused);
    if (record != m_records.end())
        record->activated = time;
    m_paired = m_focused;
    m_focused = 0;
    m_changeBefore.reset();
}

void ServerTimes::Settle()
{
    if (!m_focused)
        return;
    if (m_changeBefore) {
        Pair(*m_changeBefore);
        return;
    }
    const auto record = m_records.find(m_focused);
    if (record != m_records.end())
        record->activated.reset();
    m_focused = 0;
}

bool ServerTimes::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY: {
        const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (change->window == m_root && change->atom == m_activeAtom) {
            // The window the root names by now: where a later change named
            // another already, that change is still to be read, and pairs
            // then.
            const quint32 named = ActiveWindow();
            if (m_focused && named == m_focused)
                Pair(change->time);
            else if (named != m_paired) // not the same activation written again
                m_change = Change { change->time, named };
        } else if (change->atom == m_stampAtom && m_answered < m_asked) {
            // What the server sent before the answer has been read: a change
            // before the focus-in with none after it is the window's. Without
            // one, the change after it may still come from a window manager
            // kept waiting.
            if (m_changeBefore)
                Settle();
            m_stamps.append(change->time);
            if (m_stamps.size() > kKeptStamps)
                m_stamps.removeFirst();
            ++m_answered;
        } else if (change->atom == m_stateAtom && change->state == XCB_PROPERTY_NEW_VALUE) {
            const auto record = m_records.find(change->window);
            if (record != m_records.end() && !record->mapped)
                record->mapped = change->time;
        }
        break;
    }
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT: {
        const auto* focus = reinterpret_cast<const xcb_focus_in_event_t*>(event);
        // Only where the keyboard really moves to or from the window.
        if (focus->detail == XCB_NOTIFY_DETAIL_POINTER || focus->detail == XCB_NOTIFY_DETAIL_POINTER_ROOT
            || focus->detail == XCB_NOTIFY_DETAIL_NONE || focus->mode == XCB_NOTIFY_MODE_GRAB
            || focus->mode == XCB_NOTIFY_MODE_UNGRAB)
            break;
        if ((event->response_type & 0x7f) == XCB_FOCUS_OUT) {
            if (focus->event == m_focused)
                Settle();
            break;
        }
        Settle();
        m_focused = focus->event;
        m_paired = 0;
        // Only a change naming this window is its own; another was written
        // for an earlier focus, or again for one paired already.
        if (m_change && m_change->window == m_focused)
            m_changeBefore = m_change->time;
        m_change.reset();
        const auto record = m_records.find(m_focused);
        if (record != m_records.end())
            record->activated.reset();
        break;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
        // The user's keys come long after a change written before the
        // focus moved.
        if (m_changeBefore)
            Settle();
        break;
    case XCB_BUTTON_PRESS: {
        const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event);
        const auto record = m_records.find(press->event);
        if (record != m_records.end())
            record->pressed = press->time;
        break;
    }
    default:
        break;
    }
    return false;
}
