// Rows of the floods benchmark where many users turn up at once: strangers
// each opening a private chat, and the users of a long user list changing
// state. See bench_floods.cpp for what each row feeds.
#pragma once
#include "FloodRun.h"
#include "Ui_MainWindow.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserListItemWidget.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include <QDateTime>
#include <QTextBrowser>
#include <QTreeWidget>
#include <algorithm>

namespace {

constexpr int kStrangers = 1000;
constexpr int kListed = 3000;

QString StrangerName(int i)
{
    return QStringLiteral("stranger %1").arg(i, 4, 10, QLatin1Char('0'));
}

QString StrangerWords(int i)
{
    return QStringLiteral("hello from stranger number %1").arg(i);
}

// The strangers' private messages as the server hands them on, made once
// before they are fed.
const std::vector<QByteArray>& StrangerFrames()
{
    static std::vector<QByteArray> frames;
    for (int i = int(frames.size()); i < kStrangers; ++i) {
        MemStream m;
        m.WriteUInt32(quint32(100000 + i));
        m.WriteUInt32(quint32(QDateTime::currentSecsSinceEpoch()));
        m.WriteString(StrangerName(i));
        m.WriteString(StrangerWords(i));
        m.WriteBool(true);
        frames.push_back(ServerFrame(SM_PRIVATE_MESSAGE, m));
    }
    return frames;
}

void FeedPrivateMessage(int i)
{
    gp_server->ProcessIncoming(StrangerFrames()[size_t(i)]);
}

// In its tab, or waiting for one once the page holds as many as it keeps.
bool StrangerShown(int i)
{
    if (chatsForm->Waits(StrangerName(i)))
        return true;
    const ItemPtr user = d.GetType("user")->HasItem(Value(StrangerName(i)));
    auto* form = user["user_chat_widget"].AsPointer<ChatForm>();
    return form && chatsForm->chatTabControl->indexOf(form) >= 0
        && form->chatView->toPlainText().contains(StrangerWords(i));
}

// Messages from the strangers from..to-1, one each period, from a timer.
void FeedStrangers(int from, int to, int periodMs)
{
    auto* timer = new QTimer;
    auto* next = new int(from);
    QObject::connect(timer, &QTimer::timeout, [timer, next, to] {
        FeedPrivateMessage((*next)++);
        if (*next == to) {
            delete next;
            timer->deleteLater();
        }
    });
    timer->start(periodMs);
}

// The server's word that the user went offline (0) or came online (2).
QByteArray StatusFrame(const QString& user, quint32 status)
{
    MemStream m;
    m.WriteString(user);
    m.WriteUInt32(status);
    m.WriteBool(false);
    return ServerFrame(SM_GET_USER_STATUS, m);
}

QString ListedName(int i)
{
    return (i % 2 ? QStringLiteral("Listed%1") : QStringLiteral("listed%1")).arg(i, 4, 10, QLatin1Char('0'));
}

// The listed users put on the list, offline, with the server's answers to
// the watch and statistics requests that this sends already handled.
void ListUsers()
{
    int answers = 0;
    const auto counted = QObject::connect(gp_server, &Server::AddUserResponse, [&answers] { ++answers; });
    for (int i = 0; i < kListed; ++i)
        d.GetType("user")->GetItem(Value(ListedName(i))).NewItem("in_user_list");
    gui::WaitFor([&answers] { return answers >= kListed; }, 60000);
    QObject::disconnect(counted);
    QTest::qWait(500);
}

// The waves of status changes handed to the server connection so far.
int g_statusWaves = 0;

// All listed users' change to the state, in slices of frames, in a
// scrambled order.
std::vector<QByteArray> StatusSlices(quint32 status, int perSlice)
{
    std::vector<QByteArray> slices(1);
    for (int n = 0; n < kListed; ++n) {
        if (n > 0 && n % perSlice == 0)
            slices.emplace_back();
        slices.back() += StatusFrame(ListedName(n * 7919 % kListed), status);
    }
    return slices;
}

// The slices fed one a turn, 10 ms apart.
void FeedStatuses(const std::vector<QByteArray>& slices)
{
    for (size_t n = 0; n < slices.size(); ++n) {
        const bool last = n + 1 == slices.size();
        QTimer::singleShot(int(n) * 10, [slice = slices[n], last] {
            gp_server->ProcessIncoming(slice);
            g_statusWaves += last;
        });
    }
}

// Whether every listed user shows the state, in the list's order.
bool ListShows(bool online)
{
    QTreeWidget* list = userListForm->UserList();
    const int rows = list->topLevelItemCount();
    if (rows < kListed)
        return false;
    // Online users come first: the last row is online only when all are, the
    // first one offline only when none is.
    const QString edge = UserListItemWidget::User(list->topLevelItem(online ? rows - 1 : 0));
    return UserListItemWidget::IsOnline(edge) == online;
}

double TabSwitchMs(FloodRun& run)
{
    TabWidget* tabs = chatsForm->chatTabControl;
    for (int i = 0; i < kStrangers; ++i) {
        if (!StrangerShown(i))
            FeedPrivateMessage(i);
        if (i % 50 == 0)
            QCoreApplication::processEvents();
    }
    gui::WaitFor([] { return StrangerShown(kStrangers - 1); }, 600000);
    run.Window()->Ui().tabControl->setCurrentWidget(run.Window()->Ui().chatTab);
    QTest::qWait(300);
    double longest = 0;
    const int count = tabs->count();
    for (int target : { 0, count / 2, count - 1, count / 4, count * 3 / 4 }) {
        QElapsedTimer timer;
        timer.start();
        tabs->setCurrentIndex(target);
        QCoreApplication::processEvents();
        run.Window()->repaint();
        longest = std::max(longest, timer.nsecsElapsed() / 1e6);
        QTest::qWait(50);
    }
    return longest;
}

} // namespace

inline void AddCrowdsRows(FloodRun& run)
{
    MainWindow* window = run.Window();
    run.Add(
        QStringLiteral("strangers_1000"),
        [window] {
            window->Ui().tabControl->setCurrentWidget(window->Ui().chatTab);
            FeedStrangers(0, kStrangers, 20);
        },
        [] { return StrangerShown(kStrangers - 1); }, 600000, [] { StrangerFrames(); });
    run.AddFigure(QStringLiteral("strangers_1000_tab_switch"), [&run] { return TabSwitchMs(run); });

    if (run.Wants(QStringLiteral("user_status_3000"))) {
        ListUsers();
        const std::vector<QByteArray> online = StatusSlices(2, 250);
        const std::vector<QByteArray> offline = StatusSlices(0, 250);
        run.Add(
            QStringLiteral("user_status_3000"),
            [window, online, offline] {
                window->Ui().tabControl->setCurrentWidget(window->Ui().tab_2);
                userListForm->Tabs()->setCurrentWidget(userListForm->UserListTab());
                FeedStatuses(online);
                QTimer::singleShot(1000, [offline] { FeedStatuses(offline); });
            },
            [] { return g_statusWaves == 2 && ListShows(false); }, 120000);
    }
}
