// User information both ways, with the real main window and a driver as the
// other client: our answer (description, slots, picture, and pictures that may
// not go out), and the information tab filled from the driver's answer: its
// pictures, and descriptions that are made safe before they are shown.
#include "gui/GuiTest.h"
#include "gui/PictureBombs.h"
#include "helper_users.h"
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserMenuOptions.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/RichTextBound.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTextBrowser>

namespace {

QString WritePicture(const QString& path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(path, "PNG");
    return path;
}

QString Md5(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex());
}

QImage ShownPicture(UserInfoForm* form)
{
    return form->UserInfoText()->document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("UserImage")))
        .value<QImage>();
}

QString WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

// Shown text without the isolates that frame each run of a peer's text.
QString Bare(QString text)
{
    return text.remove(QChar(0x2068)).remove(QChar(0x2069));
}

// The body of a document's markup.
QString Body(const QString& html)
{
    return html.mid(html.indexOf(QLatin1String("<body")));
}

int EventsOf(QWidget* form)
{
    int count = 0;
    for (QAction* action : eventToolBar->EventActions())
        count += action->text() == PlainLabel(IsolatedText(qobject_cast<UserInfoForm*>(form)->User()));
    return count;
}

} // namespace

class TestUserInfo : public QObject {
    Q_OBJECT
    gui::Session session;
    DriverProcess* bob = nullptr;

    // Asks as bob; the fields of our answer as bob printed them.
    QStringList Ask()
    {
        bob->Send(QStringLiteral("user-info alice"));
        const QString line = bob->WaitFor(QStringLiteral("user-info alice "));
        return line.split(QLatin1Char(' ')).mid(2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
        settings.Set("show_event_buttons", "yes");
    }

    // Our answer: description, slots, queue and free flag as the settings and
    // the engine say; the picture only when it is a readable image file of at
    // most 8 MiB, each refusal logged once.
    void answerCarriesSettingsAndOnlyReadablePictures()
    {
        settings.Set("user_description", "");
        settings.Set("user_picture_file", "");
        const QString uploadSlots = QString::number(settings.GetInt("upload_slots"));
        const QString free = transferQueueManager->IsFreeToUpload() ? "1" : "0";
        QCOMPARE(Ask().mid(0, 4), (QStringList { uploadSlots, "0", free, "-1" }));

        settings.Set("user_description", "Hello from alice");
        const QString picture = WritePicture(session.Home() + QStringLiteral("/me.png"), 30, 20);
        settings.Set("user_picture_file", Value(picture));
        QStringList fields = Ask();
        QCOMPARE(fields.mid(3, 1), QStringList { QString::number(QFile(picture).size()) });
        QCOMPARE(fields.mid(4).join(' '), QStringLiteral("Hello from alice"));
        QCOMPARE(bob->WaitFor(QStringLiteral("user-info-picture alice")),
            QStringLiteral("user-info-picture alice %1 %2").arg(QFile(picture).size()).arg(Md5(picture)));

        // Pictures that don't go out.
        QFile text(session.Home() + QStringLiteral("/notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not an image at all");
        text.close();
        QFile big(session.Home() + QStringLiteral("/big.png"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QFile small(picture);
        QVERIFY(small.open(QIODevice::ReadOnly));
        big.write(small.readAll());
        big.write(QByteArray(8 * 1024 * 1024, 'x'));
        big.close();
        for (const QString& path : { session.Home() + QStringLiteral("/missing.png"), text.fileName(), big.fileName(),
                 QStringLiteral("/dev/zero") }) {
            settings.Set("user_picture_file", Value(path));
            const size_t logged = LogSink::Instance().AreaLineCount(QStringLiteral("User Info"));
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(Ask().mid(3, 1), QStringList { "-1" });
            QCOMPARE(Ask().mid(3, 1), QStringList { "-1" });
            QVERIFY2(timer.elapsed() < 5000, qPrintable(path));
            QCOMPARE(LogSink::Instance().AreaLineCount(QStringLiteral("User Info")), logged + 1);
        }

        // A description beyond what a reader takes is cut, not refused.
        settings.Set("user_picture_file", "");
        settings.Set("user_description", Value(QString(200000, QLatin1Char('y'))));
        QCOMPARE(Ask().value(4).size(), 131072);
        settings.Set("user_description", "");
    }

    // Sends bob's answer with the slots as a mark and waits for it; how long
    // until it was laid out and painted, or -1.
    qint64 Show(UserInfoForm* form, const QString& description)
    {
        static int mark = 100;
        const QString marked = QString::number(++mark);
        QElapsedTimer timer;
        timer.start();
        form->Init(form->User());
        bob->Send(QStringLiteral("send-user-info alice %1 0 1 %2").arg(marked, description));
        if (!gui::WaitFor([&] { return form->UploadSlotsEdit()->text() == marked; }))
            return -1;
        form->UserInfoText()->document()->size();
        form->UserInfoText()->grab();
        return timer.elapsed();
    }

    // A tab filled from bob's answer: fields, picture scaled into 800 x 400
    // (decoded no larger than shown, a thin strip kept visible), description
    // with its line breaks and isolated text; one tab and one request per
    // user, one reply shown per request. A picture that can't be shown is
    // left out and the tab says why. Opened from the user's menu, the tab has
    // the keyboard on its text.
    void answerFillsOneTabPerUserWithScaledPicture()
    {
        const int asked = bob->Lines().filter(QStringLiteral("user-info-requested alice")).size();
        QMenu menu;
        UserMenuOptions(&menu, QStringLiteral("bob"), nullptr).OnGetUserInfo();
        UserInfoForm* form = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        QVERIFY(form);
        QCOMPARE(QApplication::focusWidget(), form->UserInfoText());
        userListForm->Tabs()->setCurrentIndex(0); // looked away: answers raise an event
        QVERIFY(!bob->WaitFor(QStringLiteral("user-info-requested alice")).isEmpty());
        QCOMPARE(userListForm->GetUserInfoForm(QStringLiteral("bob")), form);
        QVERIFY(bob->Sync());
        QCOMPARE(bob->Lines().filter(QStringLiteral("user-info-requested alice")).size(), asked + 1);
        QCOMPARE(form->UserInfoText()->toPlainText(), QStringLiteral("Requesting..."));

        const QString wide = WritePicture(session.Home() + QStringLiteral("/wide.png"), 1600, 400);
        bob->Send(QStringLiteral("send-user-info-picture alice 3 7 1 %1 First line\\nsecond <b>line</b> "
                                 "<i>rtl&#x202E;LIVE.exe</i>")
                      .arg(wide));
        QVERIFY(gui::WaitFor([&] { return form->UploadSlotsEdit()->text() == QLatin1String("3"); }));
        QCOMPARE(form->QueuedUploadsEdit()->text(), QStringLiteral("7"));
        QCOMPARE(form->FreeToUploadEdit()->text(), QStringLiteral("Yes"));
        QCOMPARE(ShownPicture(form).size(), QSize(800, 200));
        const QString text = form->UserInfoText()->toPlainText();
        QVERIFY(Bare(text).contains(QStringLiteral("First line\nsecond line")));
        QVERIFY(gui::ShowsIsolated(text, QString::fromUtf16(u"rtl\u202ELIVE.exe")));
        QVERIFY(form->UserInfoText()->toHtml().contains(QStringLiteral("font-weight")));
        QVERIFY(!form->IsWaiting());

        auto answer = [&](const QString& marked, const QString& picture) {
            form->Init(QStringLiteral("bob"));
            bob->Send(QStringLiteral("send-user-info-picture alice %1 7 0 %2 picture %1").arg(marked, picture));
            return gui::WaitFor([&] { return form->UploadSlotsEdit()->text() == marked; });
        };
        QVERIFY(answer("4", WritePicture(session.Home() + QStringLiteral("/tall.png"), 400, 1000)));
        QCOMPARE(ShownPicture(form).size(), QSize(160, 400));
        QVERIFY(answer("5", WritePicture(session.Home() + QStringLiteral("/thin.png"), 4000, 4)));
        QCOMPARE(ShownPicture(form).size(), QSize(800, 1));
        QVERIFY(answer("6", WriteBytes(session.Home() + QStringLiteral("/huge.jpg"), ClaimingJpeg(8000, 8000))));
        QCOMPARE(ShownPicture(form).size(), QSize(400, 400));
        QCOMPARE(EventsOf(form), 1);

        // Pictures that are not shown: the description is, and the tab says
        // why. A picture claiming more pixels than may be decoded (the PNG
        // unpacks every row to make even a small copy) is refused unread.
        auto refused = [&](const QString& marked, const QString& name, const QByteArray& bytes, const QString& why) {
            QElapsedTimer timer;
            timer.start();
            if (!answer(marked, WriteBytes(session.Home() + QLatin1Char('/') + name, bytes)) || timer.elapsed() > 10000)
                return false;
            const QString text = form->UserInfoText()->toPlainText();
            return !form->UserInfoText()->toHtml().contains(QStringLiteral("UserImage")) && text.contains(why)
                && text.contains(QStringLiteral("picture ") + marked);
        };
        QFile wideFile(wide);
        QVERIFY(wideFile.open(QIODevice::ReadOnly));
        const QByteArray widePng = wideFile.readAll();
        QVERIFY(refused("7", "bad.png", "not a picture", QStringLiteral("(13 bytes) is not shown: it could not be read")));
        QVERIFY(refused("8", "empty.png", QByteArray(), QStringLiteral("(0 bytes) is not shown: it could not be read")));
        QVERIFY(refused("9", "cut.png", widePng.left(widePng.size() / 2), QStringLiteral("could not be read")));
        QVERIFY(refused("10", "over.png", widePng + QByteArray(kMaxPictureLength, 'x'),
            QStringLiteral("(%1 bytes) is not shown: it is larger than the 8 MiB").arg(widePng.size() + kMaxPictureLength)));
        QVERIFY(refused("11", "bomb.png", BlackPng(40000, 40000),
            QStringLiteral("(40000 x 40000 pixels) is not shown: it is larger than the 64 million pixels")));
        QVERIFY(refused("12", "bomb.jpg", ClaimingJpeg(40000, 40000), QStringLiteral("(40000 x 40000 pixels)")));
        // Pixels past 2^31 (the widest a JPEG can claim): counted without
        // wrapping round.
        QVERIFY(refused("13", "widest.jpg", ClaimingJpeg(65500, 65500),
            QStringLiteral("(65500 x 65500 pixels) is not shown: it is larger than")));

        // One reply to each request: a hundred at once, each with a picture
        // of 5,000 x 5,000, show the first; the others are not decoded.
        eventToolBar->RemoveEvents(form);
        form->Init(QStringLiteral("bob"));
        UserInfoMessage flood;
        flood.hasPicture = true;
        flood.picture = BlackPng(5000, 5000);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 100; ++i) {
            flood.uploadSlots = 100 + i;
            peerMessenger->ProcessMessage(QStringLiteral("bob"), EncodeUserInfo(flood).GetBuffer());
        }
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(gui::WaitFor([&] { return form->UploadSlotsEdit()->text() == QLatin1String("100"); }));
        QCOMPARE(ShownPicture(form).size(), QSize(400, 400));
        QCOMPARE(EventsOf(form), 1);
    }

    // Descriptions are made safe before they are laid out: a plain one looks
    // as written; deep nesting, which took the layout seconds per level or
    // overflowed its stack, shows at once; only web links are links and only
    // they open; nothing local is loaded.
    void descriptionsMadeSafe()
    {
        UserInfoForm* form = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        userListForm->Tabs()->setCurrentIndex(1);
        userListForm->UserInfoTabs()->setCurrentWidget(form);
        QTextBrowser* view = form->UserInfoText();

        // (The driver's command line takes attributes in single quotes.)
        const QString normal = QStringLiteral(
            "Hi, I'm <b>bob</b> &amp; I <i>share</i> <font color='#aa0000' size='+1'>music</font><br>and "
            "<span style='color: blue; font-weight: 600'>films</span>, <u>see</u> <a "
            "href='https://example.org/bob?a=1&b=2'>my page</a>.<p align='center'>Thanks!</p>");
        QVERIFY(Show(form, normal) >= 0);
        QTextBrowser written;
        written.setHtml(normal);
        QCOMPARE(Body(Bare(view->toHtml())), Body(written.toHtml()));

        // 20 levels took a bare view 19 s; 4,000 overflowed the stack.
        const QString twenty = QStringLiteral("<table><tr><td>").repeated(20) + QStringLiteral("twenty")
            + QStringLiteral("</td></tr></table>").repeated(20);
        const QString deepest = QStringLiteral("<table border=1><tr><td>").repeated(4000) + QStringLiteral("deepest");
        for (const QString& deep : { twenty, deepest }) {
            const qint64 ms = Show(form, deep);
            QVERIFY2(ms >= 0 && ms < 5000, qPrintable(QString::number(ms)));
            QVERIFY(view->toPlainText().contains(deep.endsWith(QLatin1String("deepest")) ? "deepest" : "twenty"));
        }

        gui::UrlCatcher desktop;
        QVERIFY(Show(form,
                    QStringLiteral("<a href='http://example.org/web'>web</a> <a href='file:///etc/passwd'>local</a> "
                                   "<a href='ftp://example.org/f'>ftp</a> <a href='javascript:alert(1)'>script</a> "
                                   "<a href='passwd'>near</a>"))
            >= 0);
        for (const char* text : { "web", "local", "ftp", "script", "near" }) {
            QTextCursor at = view->document()->find(QString::fromLatin1(text));
            QVERIFY(!at.isNull());
            at.setPosition(at.selectionStart() + 1);
            const QPoint point = view->cursorRect(at).center();
            QCOMPARE(view->anchorAt(point).isEmpty(), qstrcmp(text, "web") != 0);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
        }
        emit view->anchorClicked(QUrl(QStringLiteral("file:///etc/passwd")));
        emit view->anchorClicked(QUrl(QStringLiteral("https://example.org/safe")));
        QCOMPARE(desktop.Urls(),
            (QList<QUrl> { QUrl(QStringLiteral("http://example.org/web")),
                QUrl(QStringLiteral("https://example.org/safe")) }));

        // Marks on one letter are bounded, preformatted text wraps within the
        // view, scripts and styles show nothing of themselves, and a cut never
        // leaves half a character.
        const QString hostile = QStringLiteral("<pre>") + QString(5000, QLatin1Char('p'))
            + QStringLiteral("</pre>a") + QString(3000, QChar(0x0301))
            + QStringLiteral("<script>alert(1)</script><STYLE>b{color:red}</STYLE >after");
        QVERIFY(Show(form, hostile) >= 0);
        const QString shown = view->toPlainText();
        QVERIFY(shown.contains(QLatin1String("after")));
        QVERIFY(!shown.contains(QString(TextBound::kMaxMarks + 1, QChar(0x0301))));
        QVERIFY(view->document()->size().width() <= view->viewport()->width());
        const QString bounded = RichTextBound::Html(hostile);
        for (const char* hidden : { "alert", "color:red", "<script", "<style" })
            QVERIFY2(!shown.contains(QLatin1String(hidden))
                    && !bounded.contains(QLatin1String(hidden), Qt::CaseInsensitive),
                hidden);
        const QString face = QString::fromUcs4(U"\U0001F600");
        QVERIFY(RichTextBound::Html(QString(RichTextBound::kMaxText - 1, QLatin1Char('x')) + face)
                    .isValidUtf16());

        // Nothing local is read, by a description or by the view itself.
        QElapsedTimer timer;
        timer.start();
        QVERIFY(Show(form, QStringLiteral("<img src='/dev/zero'><img src='file:///etc/passwd'>"
                                          "<div style='background-image: url(/dev/urandom)'>hostile</div>"))
            >= 0);
        QVERIFY(view->toPlainText().contains(QStringLiteral("hostile")));
        const int refused = form->UserInfoText()->RefusedLoads();
        view->setHtml(QStringLiteral("<img src=\"/dev/zero\"><img src=\"file:///etc/passwd\">"));
        view->document()->size();
        view->grab();
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(form->UserInfoText()->RefusedLoads() > refused);
        QVERIFY(!view->openLinks());
    }

    // A failed messaging connection shows the failure, a failed file
    // connection does not; a closed tab hears no late answer, leaves no item,
    // and a new request opens a new tab. Names show direction-isolated.
    void failureShowsAndClosedTabHearsNoLateAnswer()
    {
        const QString nobody = QString::fromUtf16(u"nobody & \u202Eonline");
        UserInfoForm* lost = userListForm->GetUserInfoForm(nobody);
        QTabWidget* tabs = userListForm->UserInfoTabs();
        // The tab reads the name as it is, "&" included.
        QVERIFY(gui::ShowsIsolated(tabs->tabText(tabs->indexOf(lost)).replace(QStringLiteral("&&"), QStringLiteral("&")), nobody));
        QVERIFY(!tabs->tabText(tabs->indexOf(lost)).contains(QStringLiteral("&&&")));
        emit peerMessenger->ConnectionToUserFailed(nobody, QStringLiteral("F"));
        QVERIFY(lost->IsWaiting());
        QCOMPARE(lost->UserInfoText()->toPlainText(), QStringLiteral("Requesting..."));
        QVERIFY(gui::WaitFor([&] { return !lost->IsWaiting(); }, 120000));
        QCOMPARE(lost->UserInfoText()->toPlainText(),
            QStringLiteral("A connection could not be successfully formed to the user."));
        QCOMPARE(EventsOf(lost), 1);

        QPointer<UserInfoForm> form = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        eventToolBar->AddEvent(QStringLiteral("bob"), QStringLiteral(":/icons/info_icon"), form, QString(), QString(), false);
        userListForm->OnUserInfoTabCloseRequested(tabs->indexOf(form));
        QVERIFY(!FindUser(QStringLiteral("bob")).IsConnected("user_info_form"));
        for (QAction* action : eventToolBar->EventActions())
            QVERIFY(action->text() != QLatin1String("bob"));
        bob->Send(QStringLiteral("send-user-info alice 9 9 1 late"));
        QVERIFY(bob->Sync());
        QVERIFY(gui::WaitFor([&] { return form.isNull(); }));

        UserInfoForm* again = userListForm->GetUserInfoForm(QStringLiteral("bob"));
        QVERIFY(again);
        QCOMPARE(again->UserInfoText()->toPlainText(), QStringLiteral("Requesting..."));
        QVERIFY(!bob->WaitFor(QStringLiteral("user-info-requested alice")).isEmpty());

        // Ten tabs closed while their 8,000 x 8,000 pictures are decoded: the
        // next tab's small picture is shown in less time than one of theirs
        // takes to decode.
        UserInfoMessage painting;
        painting.hasPicture = true;
        painting.picture = BlackPng(8000, 8000);
        QElapsedTimer oneBig;
        oneBig.start();
        QVERIFY(!PictureDecoder::Decode(painting.picture, QSize(800, 400)).image.isNull());
        const qint64 bigMs = oneBig.elapsed();
        for (int i = 0; i < 10; ++i) {
            const QString painter = QStringLiteral("painter%1").arg(i);
            UserInfoForm* closed = userListForm->GetUserInfoForm(painter);
            peerMessenger->ProcessMessage(painter, EncodeUserInfo(painting).GetBuffer());
            userListForm->OnUserInfoTabCloseRequested(tabs->indexOf(closed));
        }
        UserInfoForm* next = userListForm->GetUserInfoForm(QStringLiteral("painter10"));
        QFile small(WritePicture(session.Home() + QStringLiteral("/small.png"), 40, 20));
        QVERIFY(small.open(QIODevice::ReadOnly));
        painting.picture = small.readAll();
        painting.uploadSlots = 5;
        QElapsedTimer shown;
        shown.start();
        peerMessenger->ProcessMessage(QStringLiteral("painter10"), EncodeUserInfo(painting).GetBuffer());
        QVERIFY(gui::WaitFor([&] { return next->UploadSlotsEdit()->text() == QLatin1String("5"); }, 120000));
        QVERIFY2(shown.elapsed() < bigMs, qPrintable(QStringLiteral("%1 ms, one big picture %2 ms").arg(shown.elapsed()).arg(bigMs)));
        QCOMPARE(ShownPicture(next).size(), QSize(40, 20));
    }
};

GUI_TEST_MAIN(TestUserInfo)
#include "tst_userinfo.moc"
