// The icons are compiled into the kit and reach a program that links it.
#include "helper_kit.h"
#include "shell/ApplicationIcon.h"
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>

class TestIcons : public QObject {
    Q_OBJECT
private slots:
    void everyNamedIconDraws()
    {
        InitShellResources();
        const char* names[] = { "browse_icon", "online_icon", "note_icon", "offline_icon", "room_icon",
            "wishlist_icon", "download_icon", "chat_icon", "transfer_icon", "search_icon", "info_icon", "users_icon",
            "away_icon", "alert_icon", "folder_icon", "empty_note_icon", "wipe_icon", "wall_icon", "upload_icon",
            "stop_icon", "play_icon", "circular_arrow_icon", "add_user_icon", "shutdown_icon", "remove_user_icon",
            "pause_icon", "gold_star_icon", "gift_icon", "forward_icon", "downloads_icon", "back_icon" };
        for (const char* name : names) {
            const QString path = QStringLiteral(":/icons/") + QLatin1String(name);
            QVERIFY2(QFile::exists(path), name);
            // Drawn, not just present: the SVG plugins are there and the file parses.
            const QImage image = QIcon(path).pixmap(16, 16).toImage();
            QVERIFY2(!image.isNull(), name);
            bool painted = false;
            for (int y = 0; y < image.height() && !painted; ++y)
                for (int x = 0; x < image.width() && !painted; ++x)
                    painted = qAlpha(image.pixel(x, y)) > 0;
            QVERIFY2(painted, name);
        }
    }
    void alertsShowOthersMarkupAsLetters()
    {
        const QString stranger = QStringLiteral("<a href=\"http://x\">win</a> & <img src=\"/etc\"> ") + QString(400, 'w');
        const QString body = ApplicationIcon::AlertBody(stranger);
        QVERIFY2(body.startsWith(QStringLiteral("&lt;a href=&quot;http://x&quot;&gt;win&lt;/a&gt; &amp; &lt;img")),
            qPrintable(body));
        QVERIFY(!body.contains(QLatin1Char('<')) && body.size() < 400);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
