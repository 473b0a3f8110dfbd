#include "helper_chat.h"
#include "pages/chat/ChatLines.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/MemStream.h"
#include "store/TimerManager.h"
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QtEndian>

namespace chat_test {

RoomForm* RoomTab(const QString& room)
{
    if (!roomsForm)
        return nullptr;
    for (int i = 0; i < roomsForm->roomsTabControl->count(); ++i)
        if (auto* page = qobject_cast<RoomForm*>(roomsForm->roomsTabControl->widget(i)); page && page->Room() == room)
            return page;
    return nullptr;
}

RoomForm* WaitRoomTab(const QString& room)
{
    gui::WaitFor([&] { return RoomTab(room) != nullptr; });
    return RoomTab(room);
}

std::optional<ListedRoom> RoomRow(const QString& room)
{
    for (int i = 0; roomsForm && i < roomsForm->roomModel->rowCount(); ++i)
        if (const QModelIndex index = roomsForm->roomModel->index(i, 0); RoomListModel::Room(index) == room)
            return ListedRoom { index };
    return std::nullopt;
}

QString WithoutIsolates(QString shown)
{
    return shown.remove(QChar(0x2068)).remove(QChar(0x2069));
}

namespace {
QDateTime g_now;
}

void SetClock(const QDateTime& now)
{
    g_now = now;
    ChatLines::SetClock([] { return g_now; });
}

void ReleaseClock()
{
    ChatLines::SetClock(nullptr);
}

void HalfMinuteTick()
{
    QMetaObject::invokeMethod(timerManager->HalfMinuteTimer(), "timeout", Qt::DirectConnection);
}

int Receivers(const QObject* sender, const char* signal)
{
    struct Peek : QObject {
        using QObject::receivers;
    };
    return (sender->*(&Peek::receivers))(signal);
}

void ChooseFromNextMenu(const QString& text)
{
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, text, tries = 0]() mutable {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu && ++tries < 1000)
            return;
        poll->stop();
        poll->deleteLater();
        if (!menu)
            return;
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        }
        menu->close();
    });
    poll->start();
}

bool TypesInto(QLineEdit* edit, const QString& text)
{
    if (!gui::WaitFor([&] { return QApplication::focusWidget() == edit; }, 5000))
        return false;
    QTest::keyClicks(QApplication::focusWidget(), text);
    return edit->text().endsWith(text);
}

bool KeyboardOnShownWidgets(int tabs)
{
    for (int i = 0;; ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus || !focus->isVisible() || focus->visibleRegion().isEmpty())
            return false;
        if (i == tabs)
            return true;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
}

bool Trigger(QWidget* widget, const QString& set, const QString& id)
{
    // As if the widget had taken the focus: the bar shows its set and takes
    // its keys.
    actionBar->OnApplicationFocusChanged(nullptr, widget);
    if (actionBar->CurrentSet() != set)
        return false;
    QAction* action = actionBar->FindAction(id);
    if (!action)
        return false;
    action->trigger();
    return true;
}

QByteArray ServerFrame(quint32 code, const MemStream& fields)
{
    const QByteArray body = fields.GetBuffer();
    QByteArray frame(8, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(body.size() + 4), frame.data());
    qToLittleEndian<quint32>(code, frame.data() + 4);
    return frame + body;
}

void FeedServer(quint32 code, const MemStream& fields)
{
    gp_server->ProcessIncoming(ServerFrame(code, fields));
}

QStringList LogLines(const QString& folder, const QString& fileName)
{
    const QString logs = QDir::homePath() + QStringLiteral("/Marrowby Chat Logs");
    QFile file(logs + QLatin1Char('/') + folder + QLatin1Char('/') + fileName);
    for (const QString& path : { logs, logs + QLatin1Char('/') + folder, file.fileName() }) {
        if (QFileInfo(path).permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser)) {
            qWarning("%s is open to other users", qPrintable(path));
            return {};
        }
    }
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FilesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

} // namespace chat_test
