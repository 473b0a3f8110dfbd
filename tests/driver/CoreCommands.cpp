// Commands of the core: the server connection, settings, searches, sync.
#include "Driver.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include <QCoreApplication>

void RegisterCoreCommands(Driver& driver)
{
    driver.AddCommand(QStringLiteral("help"), QStringLiteral("help"), QStringLiteral("Prints the commands."),
        0, [&driver](const QStringList&) {
            for (const QString& line : driver.HelpText().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                Driver::Print(QStringLiteral("help ") + line.trimmed());
        });
    driver.AddCommand(QStringLiteral("quit"), QStringLiteral("quit"), QStringLiteral("Ends the driver."), 0,
        [](const QStringList&) { QCoreApplication::quit(); });
    driver.AddCommand(QStringLiteral("echo"), QStringLiteral("echo <text...>"),
        QStringLiteral("Prints \"echo <text>\" once every earlier command has run."), 0,
        [](const QStringList& args) { Driver::Print(QStringLiteral("echo ") + Rest(args, 0)); });
    driver.AddCommand(QStringLiteral("log"), QStringLiteral("log <area...>"),
        QStringLiteral("Prints \"log <text>\" for each line of the log area kept."), 1, [](const QStringList& args) {
            for (const LogLine& line : LogSink::Instance().AreaLines(Rest(args, 0)))
                Driver::Print(QStringLiteral("log ") + line.text);
        });
    driver.AddCommand(QStringLiteral("connect"), QStringLiteral("connect"),
        QStringLiteral("Logs in to the server."), 0, [](const QStringList&) { gp_server->Connect(); });
    driver.AddCommand(QStringLiteral("disconnect"), QStringLiteral("disconnect"),
        QStringLiteral("Leaves the server."), 0, [](const QStringList&) { gp_server->Disconnect(); });
    driver.AddCommand(QStringLiteral("set"), QStringLiteral("set <key> <value...>"),
        QStringLiteral("Sets a setting."), 2,
        [](const QStringList& args) { settings.Set(args[0].toUtf8().constData(), Value(Rest(args, 1))); });
    driver.AddCommand(QStringLiteral("get"), QStringLiteral("get <key>"),
        QStringLiteral("Prints \"setting <key> <value>\"."), 1, [](const QStringList& args) {
            Driver::Print(
                QStringLiteral("setting %1 %2").arg(args[0], settings.Get(args[0].toUtf8().constData())));
        });
    driver.AddCommand(QStringLiteral("search"), QStringLiteral("search <query...>"),
        QStringLiteral("Searches the network; prints \"search-started <token> <query>\"."), 1,
        [](const QStringList& args) {
            const QString query = Rest(args, 0);
            const quint32 token = gp_server->FileSearch(query, false);
            Driver::Print(QStringLiteral("search-started %1 %2").arg(token).arg(query));
        });
    driver.AddCommand(QStringLiteral("stop-search"), QStringLiteral("stop-search <token>"),
        QStringLiteral("Marks a search stopped: later replies are dropped."), 1, [](const QStringList& args) {
            ItemPtr request = d.GetType("search_request")->HasItem(Value(args[0]));
            request.Connect(d.GetType("search_stopped")->GetGlobalNullItem());
        });
    driver.AddCommand(QStringLiteral("accept-children"), QStringLiteral("accept-children yes|no"),
        QStringLiteral("Tells the server whether to send us children."), 1,
        [](const QStringList& args) { gp_server->AcceptChildren(args[0] == QLatin1String("yes")); });

    QObject::connect(gp_server, &Server::Connected, [] { Driver::Print(QStringLiteral("connected")); });
    QObject::connect(gp_server, &Server::Disconnected, [] { Driver::Print(QStringLiteral("disconnected")); });
    QObject::connect(gp_server, &Server::ConnectionFailed,
        [](QString reason) { Driver::Print(QStringLiteral("server-failed ") + reason); });
}
