#pragma once
// Shared steps of the chat page tests.
#include "gui/GuiTest.h"
#include "shell/Kit.h"
#include <QDateTime>
#include <QFont>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <optional>

class ChatForm;
class ChatLogForm;
class RoomForm;
class RoomWallForm;
class MemStream;
class QLineEdit;

namespace chat_test {

// The open tab of a room, or null.
RoomForm* RoomTab(const QString& room);
// Waits for the room's tab.
RoomForm* WaitRoomTab(const QString& room);
// The tab widget's page of that class whose tab shows the name (isolated,
// "&" doubled), or null.
template <class T> T* Tab(QTabWidget* tabs, const QString& name)
{
    const QString label = PlainLabel(IsolatedText(name));
    for (int i = 0; i < tabs->count(); ++i)
        if (auto* page = qobject_cast<T*>(tabs->widget(i)); page && tabs->tabText(i) == label)
            return page;
    return nullptr;
}
// A row of the room list as it shows.
struct ListedRoom {
    QPersistentModelIndex index; // its name's cell
    QString text(int column) const { return QModelIndex(index).siblingAtColumn(column).data().toString(); }
    QFont font(int column) const
    {
        return QModelIndex(index).siblingAtColumn(column).data(Qt::FontRole).value<QFont>();
    }
};
// The room list's row of a room (found by the name it keeps), or none.
std::optional<ListedRoom> RoomRow(const QString& room);
// A shown chat text without the isolates around names and texts, for
// comparing with plain text.
QString WithoutIsolates(QString shown);
// The chat views' clock stands at the time given, until ReleaseClock().
void SetClock(const QDateTime& now);
void ReleaseClock();
// Runs what the half-minute timer runs (the end of quiet conversations).
void HalfMinuteTick();
// How many connections the signal (SIGNAL(...)) of the sender has.
int Receivers(const QObject* sender, const char* signal);
// Picks the entry with that text from the next popup menu, with the keyboard.
void ChooseFromNextMenu(const QString& text);
// Types the text at the keyboard focus once the focus is in the line edit;
// true when the text landed there.
bool TypesInto(QLineEdit* edit, const QString& text);
// Whether the keyboard is on a widget that shows, and stays on such widgets
// while Tab is pressed the given number of times.
bool KeyboardOnShownWidgets(int tabs);
// Clicks a tool-bar action of the widget's set (false when the widget is not
// bound to that set): the bar shows the widget's set first, as if it had taken
// the focus, so the action's keys are the widget's.
bool Trigger(QWidget* widget, const QString& set, const QString& id);
// A server message as it comes from the socket.
QByteArray ServerFrame(quint32 code, const MemStream& fields);
// Feeds one server message to the connection as if it came from the socket.
void FeedServer(quint32 code, const MemStream& fields);
// A log file's lines ("Rooms" or "Users" folder, file name as on disk);
// none when it or its folders are open to other users.
QStringList LogLines(const QString& folder, const QString& fileName);
// Writes a file (making its folder); false when it cannot.
bool WriteFile(const QString& path, const QByteArray& bytes);
// A file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& path);
// Every file under the folder, relative to it, sorted.
QStringList FilesUnder(const QString& folder);

} // namespace chat_test
