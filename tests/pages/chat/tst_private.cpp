// The Chat page in the real main window: private chat tabs opened by incoming
// messages, replies, away and offline lines, the partner's log and its viewer,
// hostile user names, and administrator messages.
#include "helper_chat.h"
#include "pages/chat/AdminMessageDialog.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatLog.h"
#include "pages/chat/ChatLogForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/RoomsForm.h"
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "shell/WidgetFunctions.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "store/TurnTaker.h"
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTableView>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>

using namespace chat_test;

namespace {

QString ViewText(ChatForm* tab)
{
    return tab ? WithoutIsolates(tab->chatView->toPlainText()) : QString();
}

ChatForm* ChatTab(const QString& user)
{
    return Tab<ChatForm>(chatsForm->chatTabControl, user);
}

QImage IconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}

bool TabShowsIcon(ChatForm* tab, const char* icon)
{
    const int index = chatsForm->chatTabControl->indexOf(tab);
    return index >= 0 && IconImage(chatsForm->chatTabControl->tabIcon(index)) == IconImage(QIcon(QString::fromLatin1(icon)));
}


// The block (line) number of the viewer's highlighted match, or -1.
int HighlightedLine(ChatLogForm* viewer)
{
    const auto selections = viewer->logEdit->extraSelections();
    return selections.isEmpty() ? -1 : selections.first().cursor.blockNumber();
}

// Counts the tabs a tab bar measures and the labels it fits to their tabs.
class TabLayoutCount : public QProxyStyle {
public:
    int count = 0;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
        const QWidget* widget) const override
    {
        const_cast<TabLayoutCount*>(this)->count += type == CT_TabBarTab;
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override
    {
        const_cast<TabLayoutCount*>(this)->count += element == SE_TabBarTabText;
        return QProxyStyle::subElementRect(element, option, widget);
    }
};

void FeedPrivateMessage(const QString& user, const QString& text)
{
    MemStream m;
    m.WriteUInt32(7);
    m.WriteUInt32(quint32(QDateTime::currentSecsSinceEpoch()));
    m.WriteString(user);
    m.WriteString(text);
    m.WriteBool(true);
    FeedServer(SM_PRIVATE_MESSAGE, m);
}

} // namespace

class TestPrivateChat : public QObject {
    Q_OBJECT
    gui::Session session;
    DriverProcess* bob = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
    }

    void cleanup() { ReleaseClock(); }

    // A message opens a tab that does not take the front; a second one goes
    // to the same tab; replies reach the partner; away and back are shown;
    // both sides' lines are logged; a quiet conversation ends 300 s after
    // its last line; the icon follows the partner's state.
    void messagesOpenOneQuietTabAndAreLogged()
    {
        const QDateTime start(QDate(2024, 1, 5), QTime(15, 4, 5));
        SetClock(start);
        // A log left open to others by an older version is closed.
        QVERIFY(WriteFile(ChatLog::FilePath(ChatLog::Users, QStringLiteral("bob")), {}));
        QWidget* before = chatsForm->chatTabControl->currentWidget();
        bob->Send(QStringLiteral("message alice hello <b>alice</b> http://example.org/x"));
        QVERIFY(gui::WaitFor([] { return ChatTab(QStringLiteral("bob")); }));
        ChatForm* tab = ChatTab(QStringLiteral("bob"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("[bob] hello <b>alice</b> http://example.org/x")); }));
        QVERIFY(tab->chatView->toHtml().contains(QLatin1String("href=\"http://example.org/x\"")));
        // The activity-based style: the conversation's start, then lines without times.
        QCOMPARE(ViewText(tab),
            QStringLiteral("* Chat started %1\n[bob] hello <b>alice</b> http://example.org/x")
                .arg(ChatLog::LongTime(start)));
        if (before)
            QCOMPARE(chatsForm->chatTabControl->currentWidget(), before);
        bob->Send(QStringLiteral("message alice second"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("[bob] second")); }));
        QCOMPARE(chatsForm->chatTabControl->count(), 1);
        QVERIFY(gui::WaitFor([&] { return TabShowsIcon(tab, ":/icons/online_icon"); }));

        tab->chatEdit->setText(QStringLiteral("hi bob"));
        QTest::keyClick(tab->chatEdit, Qt::Key_Return);
        QVERIFY(tab->chatEdit->text().isEmpty());
        QVERIFY(!bob->WaitFor(QStringLiteral("private-message alice hi bob")).isEmpty());
        QVERIFY(ViewText(tab).contains(QLatin1String("[alice] hi bob")));
        QTest::keyClick(tab->chatEdit, Qt::Key_Return); // empty: nothing

        bob->Send(QStringLiteral("away"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("bob is away.")); }));
        bob->Send(QStringLiteral("available"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("bob is available.")); }));

        const QStringList log = LogLines(QStringLiteral("Users"), QStringLiteral("bob.log"));
        QCOMPARE(log.size(), 3);
        QVERIFY(log[0].endsWith(QLatin1String("[bob] hello <b>alice</b> http://example.org/x")));
        QVERIFY(log[2].endsWith(QLatin1String("[alice] hi bob")));

        // Quiet for 299 s: still going; at 300 s the check ends it with the
        // time of its last line; the next line starts a new one.
        const QDateTime last = start.addSecs(40);
        SetClock(last);
        bob->Send(QStringLiteral("message alice still there?"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).endsWith(QLatin1String("[bob] still there?")); }));
        SetClock(last.addSecs(299));
        HalfMinuteTick();
        QVERIFY(gui::WaitFor([] { return TurnTaker::WaitingCount() == 0; }));
        QVERIFY(ViewText(tab).endsWith(QLatin1String("[bob] still there?")));
        SetClock(last.addSecs(300));
        HalfMinuteTick();
        HalfMinuteTick();
        QVERIFY(gui::WaitFor([&] {
            return ViewText(tab).endsWith(
                QStringLiteral("[bob] still there?\n* Chat ended ") + ChatLog::LongTime(last));
        }));
        const QDateTime back = last.addSecs(1000);
        SetClock(back);
        bob->Send(QStringLiteral("message alice back"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).endsWith(QLatin1String("[bob] back")); }));
        QVERIFY(ViewText(tab).endsWith(
            QStringLiteral("\n* Chat started %1\n[bob] back").arg(ChatLog::LongTime(back))));
        ReleaseClock();

        // Closed while typing in it, the last tab leaves the keyboard on what
        // the page shows, never on the empty tab bar, even with Tab; the
        // same on the Rooms page without rooms. Messaged again: a new tab at
        // the end of the row.
        FocusWidget(tab->chatEdit);
        emit chatsForm->chatTabControl->tabCloseRequested(chatsForm->chatTabControl->indexOf(tab));
        QVERIFY(!ChatTab(QStringLiteral("bob")) && chatsForm->chatTabControl->count() == 0);
        QVERIFY(KeyboardOnShownWidgets(3));
        FocusWidget(roomsForm->roomList);
        QVERIFY(KeyboardOnShownWidgets(3));
        QVERIFY(d.GetType("user")->HasItem(Value("bob"))["user_chat_widget"].IsNull());
        bob->Send(QStringLiteral("message alice again"));
        QVERIFY(gui::WaitFor([] { return ChatTab(QStringLiteral("bob")); }));
        tab = ChatTab(QStringLiteral("bob"));
        QCOMPARE(chatsForm->chatTabControl->indexOf(tab), chatsForm->chatTabControl->count() - 1);

        // A thousand strangers write: the first get tabs with the words, up
        // to the most the page holds, and the others wait, logged as they
        // come, the page saying so, each getting its tab as another closes;
        // none takes the front or what is typed, and the cost of a new tab or
        // a switch does not grow with the tabs out of sight.
        chatsForm->OpenChatForm(QStringLiteral("bob"));
        tab->chatEdit->setText(QStringLiteral("half a sente"));
        const int ticked = Receivers(timerManager->HalfMinuteTimer(), SIGNAL(timeout()));
        const int acting = Receivers(actionBar, SIGNAL(ActionTriggered(QWidget*, QString)));
        QTabBar* bar = chatsForm->chatTabControl->tabBar();
        TabLayoutCount layouts;
        bar->setStyle(&layouts);
        for (int i = 0; i < 1000; ++i) {
            if (i == 900)
                layouts.count = 0;
            FeedPrivateMessage(QStringLiteral("stranger %1").arg(i), QStringLiteral("words %1").arg(i));
            QCoreApplication::processEvents();
        }
        QCOMPARE(chatsForm->chatTabControl->currentWidget(), tab);
        QCOMPARE(chatsForm->chatTabControl->count(), ChatsForm::kMaxTabs);
        QVERIFY(chatsForm->waitingNotice->isVisibleTo(chatsForm));
        QVERIFY(chatsForm->waitingNotice->text().contains(QLatin1String("801 more users")));
        QCOMPARE(LogLines(QStringLiteral("Users"), QStringLiteral("stranger 999.log")).size(), 1);
        QVERIFY2(layouts.count < 100 * 200, qPrintable(QString::number(layouts.count)));
        layouts.count = 0;
        chatsForm->chatTabControl->setCurrentIndex(500);
        QCoreApplication::processEvents();
        QVERIFY2(layouts.count < 200, qPrintable(QString::number(layouts.count)));
        chatsForm->chatTabControl->setCurrentWidget(tab);
        bar->setStyle(nullptr);
        QCOMPARE(tab->chatEdit->text(), QStringLiteral("half a sente"));
        // The page hears the timer and the tool bar for all its tabs: an
        // action reaches the tab it names, and a tick ends every quiet
        // conversation, a slice of tabs a pass.
        QCOMPARE(Receivers(timerManager->HalfMinuteTimer(), SIGNAL(timeout())), ticked);
        QCOMPARE(Receivers(actionBar, SIGNAL(ActionTriggered(QWidget*, QString))), acting);
        QVERIFY(Trigger(ChatTab(QStringLiteral("stranger 7")), QStringLiteral("user_chat"),
            QStringLiteral("user_chat_log")));
        auto* strangerLog = Tab<ChatLogForm>(chatsForm->chatTabControl, QStringLiteral("stranger 7"));
        QVERIFY(strangerLog && chatsForm->chatTabControl->findChildren<ChatLogForm*>().size() == 1);
        chatsForm->OnChatTabClosed(chatsForm->chatTabControl->indexOf(strangerLog));
        SetClock(QDateTime::currentDateTime().addSecs(300));
        HalfMinuteTick();
        QVERIFY(gui::WaitFor([] {
            for (ChatForm* form : chatsForm->chatTabControl->findChildren<ChatForm*>())
                if (!ViewText(form).contains(QLatin1String("\n* Chat ended ")))
                    return false;
            return true;
        }));
        ReleaseClock();
        for (int i = 0; i < 1000; ++i) {
            const ItemPtr user = d.GetType("user")->HasItem(Value(QStringLiteral("stranger %1").arg(i)));
            auto* stranger = user["user_chat_widget"].AsPointer<ChatForm>();
            QVERIFY(stranger && ViewText(stranger).contains(QStringLiteral("] words %1").arg(i)));
            chatsForm->OnChatTabClosed(chatsForm->chatTabControl->indexOf(stranger));
        }
        QVERIFY(!chatsForm->waitingNotice->isVisibleTo(chatsForm));
        QCOMPARE(LogLines(QStringLiteral("Users"), QStringLiteral("stranger 999.log")).size(), 1);
        tab->chatEdit->clear();

        // A chat opened with a partner who is away already says so.
        bob->Send(QStringLiteral("away"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).endsWith(QLatin1String("bob is away.")); }));
        emit chatsForm->chatTabControl->tabCloseRequested(chatsForm->chatTabControl->indexOf(tab));
        chatsForm->OpenChatForm(QStringLiteral("bob"));
        tab = ChatTab(QStringLiteral("bob"));
        QVERIFY(tab && TabShowsIcon(tab, ":/icons/online_icon"));
        QVERIFY(ViewText(tab).contains(QLatin1String("bob is away.")));

        bob->Stop();
        QVERIFY(gui::WaitFor([&] { return TabShowsIcon(tab, ":/icons/offline_icon"); }));
    }

    // The viewer opens with the keyboard in its find field, finds
    // case-insensitively, steps back and forth, keeps working after a failed
    // search and after "Clear Log", and reads long lines whole.
    void logViewerFindsAndReadsLongLinesWhole()
    {
        QString lines;
        for (int i = 1; i <= 9; ++i)
            lines += (i == 2 || i == 5 || i == 9 ? QStringLiteral("  line %1 NEEDLE here  \n") : QStringLiteral("line %1\n")).arg(i);
        lines += QString(100000, QLatin1Char('x')) + QStringLiteral("\n");
        QVERIFY(WriteFile(ChatLog::FilePath(ChatLog::Users, QStringLiteral("carol")), lines.toUtf8()));
        chatsForm->OpenChatForm(QStringLiteral("carol"));
        ChatForm* tab = ChatTab(QStringLiteral("carol"));
        QVERIFY(tab);
        QVERIFY(Trigger(tab, QStringLiteral("user_chat"), QStringLiteral("user_chat_log")));
        auto* viewer = Tab<ChatLogForm>(chatsForm->chatTabControl, QStringLiteral("carol"));
        QVERIFY(viewer);
        QCOMPARE(viewer->logEdit->document()->blockCount(), 10);
        QCOMPARE(viewer->logEdit->document()->findBlockByNumber(1).text(),
            IsolatedText(QStringLiteral("line 2 NEEDLE here")));
        QCOMPARE(viewer->logEdit->document()->findBlockByNumber(9).text().size(), 100002);
        QVERIFY(TypesInto(viewer->searchEdit, QStringLiteral("Needle")));
        QCOMPARE(HighlightedLine(viewer), 1);

        viewer->searchEdit->setText(QStringLiteral("nomatch"));
        QCOMPARE(HighlightedLine(viewer), -1);
        QVERIFY(!viewer->searchBackButton->isEnabled() && !viewer->searchForwardButton->isEnabled());
        viewer->searchEdit->setText(QStringLiteral("needle"));
        QCOMPARE(HighlightedLine(viewer), 1);
        QVERIFY(!viewer->searchBackButton->isEnabled() && viewer->searchForwardButton->isEnabled());
        viewer->searchForwardButton->click();
        QCOMPARE(HighlightedLine(viewer), 4);
        QVERIFY(viewer->searchBackButton->isEnabled() && viewer->searchForwardButton->isEnabled());
        viewer->searchForwardButton->click();
        QCOMPARE(HighlightedLine(viewer), 8);
        QVERIFY(!viewer->searchForwardButton->isEnabled());
        viewer->searchBackButton->click();
        QCOMPARE(HighlightedLine(viewer), 4);
        viewer->searchEdit->clear();
        QCOMPARE(HighlightedLine(viewer), -1);
        QVERIFY(!viewer->searchBackButton->isEnabled() && !viewer->searchForwardButton->isEnabled());

        // A second request focuses the same viewer.
        QVERIFY(Trigger(tab, QStringLiteral("user_chat"), QStringLiteral("user_chat_log")));
        QCOMPARE(chatsForm->chatTabControl->findChildren<ChatLogForm*>().size(), 1);

        viewer->searchEdit->setText(QStringLiteral("needle"));
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::No));
            QVERIFY(Trigger(viewer, QStringLiteral("chat_log"), QStringLiteral("clear_chat_log")));
        }
        QCOMPARE(viewer->logEdit->document()->blockCount(), 10);
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            QVERIFY(Trigger(viewer, QStringLiteral("chat_log"), QStringLiteral("clear_chat_log")));
        }
        QVERIFY(viewer->logEdit->toPlainText().isEmpty());
        QVERIFY(!QFile::exists(ChatLog::FilePath(ChatLog::Users, QStringLiteral("carol"))));
        QCOMPARE(HighlightedLine(viewer), -1);
        tab->AddChat(QStringLiteral("carol"), QStringLiteral("a fresh needle"));
        tab->AddChat(QStringLiteral("carol"), QStringLiteral("and another Needle"));
        viewer->searchEdit->setText(QStringLiteral("needl"));
        QCOMPARE(HighlightedLine(viewer), 0);
        viewer->searchForwardButton->click();
        QCOMPARE(HighlightedLine(viewer), 1);
        QCOMPARE(LogLines(QStringLiteral("Users"), QStringLiteral("carol.log")).size(), 2);

        // Logging off: neither the file nor the viewer gets the line.
        settings.Set("log_private_chat", "no");
        tab->AddChat(QStringLiteral("carol"), QStringLiteral("unlogged"));
        settings.Set("log_private_chat", "yes");
        QCOMPARE(viewer->logEdit->document()->blockCount(), 2);
        QCOMPARE(LogLines(QStringLiteral("Users"), QStringLiteral("carol.log")).size(), 2);
    }

    // User names chosen by others stay inside the log folder, never share a
    // log and show as text. A name or text that runs right to left shows
    // isolated in the chat, the tab, the event and the log viewer, and is
    // logged as it came.
    void hostileUserNamesStayInsideTheLogFolder()
    {
        settings.Set("show_event_buttons", "yes");
        const QString sentinel = QDir::homePath() + QStringLiteral("/evil.log");
        QVERIFY(WriteFile(sentinel, "sentinel\n"));
        const QString rtl = QString::fromUtf16(u"rtl\u202ELIVE.exe");
        const QString said = QString::fromUtf16(u"said%1 by <u>me</u> \u202Egpj.exe");
        const QStringList names = { QStringLiteral("../../evil"), QStringLiteral("a/b"),
            QStringLiteral("<i>x</i>&y"), QStringLiteral("%2%1"), QStringLiteral("a%2Fb"), rtl };
        for (const QString& name : names) {
            DriverProcess* other = session.StartDriver(name);
            QVERIFY(other);
            other->Send(QStringLiteral("message alice ") + said);
            QVERIFY(gui::WaitFor([&] { return ChatTab(name); }));
            const QString shown
                = QLatin1Char('[') + IsolatedText(name) + QStringLiteral("] ") + IsolatedText(said);
            QVERIFY(gui::WaitFor([&] { return ChatTab(name)->chatView->toPlainText().contains(shown); }));
            QVERIFY(gui::ShowsIsolated(ChatTab(name)->chatView->toPlainText(), said));
            const QString path = ChatLog::FilePath(ChatLog::Users, name);
            QCOMPARE(QFileInfo(path).absolutePath(), QDir::homePath() + QStringLiteral("/Marrowby Chat Logs/Users"));
            QVERIFY(ReadFile(path).endsWith(QStringLiteral("[%1] %2\n").arg(name, said).toUtf8()));
        }
        QCOMPARE(ReadFile(sentinel), QByteArray("sentinel\n"));
        for (const QString& file : FilesUnder(QDir::homePath() + QStringLiteral("/Marrowby Chat Logs")))
            QVERIFY2(file.count(u'/') == 1, qPrintable(file));
        const int index = chatsForm->chatTabControl->indexOf(ChatTab(QStringLiteral("<i>x</i>&y")));
        QCOMPARE(chatsForm->chatTabControl->tabText(index),
            PlainLabel(IsolatedText(QStringLiteral("<i>x</i>&y"))));

        // "a/b" keeps the file it always had, "a%2Fb" has its own; clearing
        // the one leaves the other.
        const QStringList slashLog = LogLines(QStringLiteral("Users"), QStringLiteral("a%2Fb.log"));
        QCOMPARE(slashLog.size(), 1);
        QVERIFY(slashLog[0].contains(QLatin1String("[a/b]")));
        chatsForm->OpenChatForm(QStringLiteral("a%2Fb"));
        QVERIFY(Trigger(
            ChatTab(QStringLiteral("a%2Fb")), QStringLiteral("user_chat"), QStringLiteral("user_chat_log")));
        auto* lookalikeLog = Tab<ChatLogForm>(chatsForm->chatTabControl, QStringLiteral("a%2Fb"));
        QVERIFY(lookalikeLog);
        QCOMPARE(lookalikeLog->logEdit->document()->blockCount(), 1);
        QVERIFY(lookalikeLog->logEdit->toPlainText().contains(QLatin1String("[a%2Fb]")));
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            QVERIFY(Trigger(lookalikeLog, QStringLiteral("chat_log"), QStringLiteral("clear_chat_log")));
        }
        QVERIFY(!QFile::exists(ChatLog::FilePath(ChatLog::Users, QStringLiteral("a%2Fb"))));
        QCOMPARE(LogLines(QStringLiteral("Users"), QStringLiteral("a%2Fb.log")), slashLog);
        // Other names that met in one file: the empty name and NUL, a long
        // name and the short one its file was named after.
        const QString longName(300, QLatin1Char('n'));
        const QString longFileName = QString(188, QLatin1Char('n')) + QLatin1Char('~')
            + QString::fromLatin1(
                QCryptographicHash::hash(longName.toUtf8(), QCryptographicHash::Sha1).toHex().left(10));
        const std::pair<QString, QString> pairs[]
            = { { QString(), QString(QChar(0)) }, { longName, longFileName } };
        for (const auto& [one, other] : pairs) {
            const QString path = ChatLog::FilePath(ChatLog::Users, one);
            QVERIFY(!path.isEmpty() && path != ChatLog::FilePath(ChatLog::Users, other));
            QVERIFY(QFileInfo(path).fileName().toUtf8().size() < 255);
        }
        // Names without an escape in them keep their files.
        for (const QString& name : { QStringLiteral("bob"), QStringLiteral("100% sure"),
                 QStringLiteral("%2%1"), QStringLiteral("a%2fb") })
            QCOMPARE(ChatLog::FileName(name), name + QStringLiteral(".log"));

        // Right to left: the event, the file name, the viewer.
        const QList<QAction*> events = eventToolBar->EventActions();
        QVERIFY(std::any_of(
            events.begin(), events.end(), [&](QAction* a) { return gui::ShowsIsolated(a->text(), rtl); }));
        const QString rtlPath = ChatLog::FilePath(ChatLog::Users, rtl);
        QCOMPARE(QFileInfo(rtlPath).fileName(), rtl + QStringLiteral(".log"));
        chatsForm->OpenChatForm(rtl);
        QVERIFY(Trigger(ChatTab(rtl), QStringLiteral("user_chat"), QStringLiteral("user_chat_log")));
        auto* rtlLog = Tab<ChatLogForm>(chatsForm->chatTabControl, rtl);
        QVERIFY(rtlLog);
        const QString line = QString::fromUtf8(ReadFile(rtlPath)).trimmed();
        QVERIFY(gui::ShowsIsolated(rtlLog->logEdit->toPlainText(), line));
    }

    // Administrator messages share one window, which keeps the newest ones
    // and says how many it no longer shows; markup is rendered but loads no
    // local file, plain text keeps its lines. Once it is closed, the next
    // messages show alone, and again only the newest ones stay.
    void adminMessagesShareOneWindow()
    {
        const QString image = QDir::homePath() + QStringLiteral("/secret.png");
        QImage(4, 4, QImage::Format_RGB32).save(image);
        const auto admin = [](const QString& text) {
            MemStream m;
            m.WriteString(text);
            FeedServer(SM_ADMIN_MESSAGE, m);
        };
        const QDateTime before = QDateTime::currentDateTime();
        admin(QStringLiteral("<b>Notice</b> <img src=\"file://%1\"> see https://example.org").arg(image));
        admin(QStringLiteral("plain\nsecond line"));
        const auto windows = [&] { return session.Window()->findChildren<AdminMessageDialog*>(); };
        const auto lines = [&] { return windows().value(0)->textEdit->toPlainText().split(QLatin1Char('\n')); };
        QVERIFY(gui::WaitFor([&] { return !windows().isEmpty() && lines().endsWith(QStringLiteral("second line")); }));
        QCOMPARE(windows().size(), 1);
        AdminMessageDialog* dialog = windows()[0];
        QCOMPARE(dialog->windowTitle(), QStringLiteral("MarrowbyQt Admin Message"));
        QVERIFY(!dialog->timeEdit->text().isEmpty());
        QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(dialog->textEdit->focusPolicy(), Qt::NoFocus);
        QVERIFY(dialog->textEdit->isReadOnly());
        // Each message under its own time, which may be another second.
        QStringList times;
        for (QDateTime t = before; t <= QDateTime::currentDateTime().addSecs(1); t = t.addSecs(1))
            times << ChatLog::LongTime(t);
        QVERIFY2(times.contains(lines()[0]), qPrintable(lines()[0]));
        QCOMPARE(lines().mid(1),
            QStringList({ QStringLiteral("Notice see https://example.org"), dialog->timeEdit->text(),
                QStringLiteral("plain"), QStringLiteral("second line") }));
        const QVariant loaded = dialog->textEdit->document()->resource(
            QTextDocument::ImageResource, QUrl(QStringLiteral("file://") + image));
        QVERIFY(loaded.isNull());

        for (int i = 0; i < 300; ++i)
            admin(QStringLiteral("flood %1").arg(i));
        QVERIFY(gui::WaitFor([&] { return lines().endsWith(QStringLiteral("flood 299")); }));
        QCOMPARE(windows().size(), 1);
        QCOMPARE(lines().first(), QStringLiteral("202 earlier messages are no longer shown."));
        QCOMPARE(lines().size(), 1 + 2 * AdminMessageDialog::kKeptMessages);
        QCOMPARE(lines()[2], QStringLiteral("flood 200"));
        dialog->close();
        for (int i = 0; i <= AdminMessageDialog::kKeptMessages; ++i)
            admin(QStringLiteral("after %1").arg(i));
        QVERIFY(gui::WaitFor([&] {
            return windows().size() == 1
                && lines().endsWith(QStringLiteral("after %1").arg(AdminMessageDialog::kKeptMessages));
        }));
        QVERIFY(windows()[0]->isVisible());
        QCOMPARE(lines().first(), QStringLiteral("1 earlier message is no longer shown."));
        QCOMPARE(lines().size(), 1 + 2 * AdminMessageDialog::kKeptMessages);
        QCOMPARE(lines()[2], QStringLiteral("after 1"));
        windows()[0]->close();
    }

    // A line typed while offline is not shown or logged as said; it stays in
    // the input line.
    void lineTypedOfflineStaysInTheInput()
    {
        chatsForm->OpenChatForm(QStringLiteral("dave"));
        ChatForm* tab = ChatTab(QStringLiteral("dave"));
        QVERIFY(tab);
        session.StopServer();
        QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
        tab->chatEdit->setText(QStringLiteral("lost words"));
        QTest::keyClick(tab->chatEdit, Qt::Key_Return);
        QCOMPARE(tab->chatEdit->text(), QStringLiteral("lost words"));
        QVERIFY(!ViewText(tab).contains(QLatin1String("[alice] lost words")));
        QVERIFY(ViewText(tab).contains(QLatin1String("not sent")));
        QVERIFY(!QFile::exists(ChatLog::FilePath(ChatLog::Users, QStringLiteral("dave"))));
    }
};

GUI_TEST_MAIN(TestPrivateChat)
#include "tst_private.moc"
