// marrowby-driver: see Driver.h. Configured by HOME (the data file) and
// MARROWBY_SERVER (host:port of the central server).
#include "Driver.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

// Each module registers its commands (and may construct its manager).
using Module = void (*)(Driver&);
const Module kModules[] = {
    RegisterCoreCommands,
    RegisterChatCommands,
    RegisterPeerCommands,
    RegisterSharedFolderCommands,
    RegisterUserCommands,
    RegisterBrowseCommands,
    RegisterTransferCommands, // last: it needs the share manager if a module makes one
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("marrowby-driver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Headless Marrowby client core for tests: commands on stdin, "
                                                    "events on stdout."));
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Show the options and the commands."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Plain listening port (0: any free one)."),
        QStringLiteral("N"));
    const QCommandLineOption obfuscatedPort(QStringLiteral("obfuscated-port"),
        QStringLiteral("Obfuscated listening port (0: any free one)."), QStringLiteral("N"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User name; logs in at start."),
        QStringLiteral("NAME"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password (default \"secret\")."),
        QStringLiteral("TEXT"), QStringLiteral("secret"));
    const QCommandLineOption preferObfuscated(QStringLiteral("prefer-obfuscated"),
        QStringLiteral("Connect to peers' obfuscated ports."));
    const QCommandLineOption rawFiles(QStringLiteral("raw-files"),
        QStringLiteral("The driver takes file connections itself (file-connect, file-connection-* events)."));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Copy every log line to stderr."));
    parser.addOptions({ help, port, obfuscatedPort, user, password, preferObfuscated, rawFiles, log });
    parser.process(app);

    if (parser.isSet(log)) {
        QObject::connect(&LogSink::Instance(), &LogSink::LineAdded, [](const QString& area, const LogLine& line, quint64) {
            std::fprintf(stderr, "log %s: %s\n", qPrintable(area), qPrintable(line.text));
        });
    }

    // The core, in the client's order.
    new TimerManager(&app);
    dataSaver = new DataSaver(&d);
    new Server(&app);
    Settings::CreateTypes();
    gp_server->CreateData();
    new PeerMessenger(&app);
    new DNetManager(&app);

    // Managers go before the server, as in the client, and before the
    // application: some wait for their workers when they go.
    const auto tearDown = [] {
        delete dnetManager;
        delete peerMessenger;
        delete gp_server;
    };
    Driver driver;
    driver.options.rawFiles = parser.isSet(rawFiles);
    driver.options.preferObfuscated = parser.isSet(preferObfuscated);
    for (Module module : kModules)
        module(driver);

    if (parser.isSet(help)) {
        std::printf("%s\nCommands (one per line on stdin):\n%s", qPrintable(parser.helpText()),
            qPrintable(driver.HelpText()));
        tearDown();
        return 0;
    }

    // No port mapping on the test machine's router, and the ports of the
    // command line from the first listen on.
    settings.Set("use_upnp", "no");
    if (parser.isSet(port))
        settings.Set("listening_port", parser.value(port));
    if (parser.isSet(obfuscatedPort))
        settings.Set("obfuscated_listening_port", parser.value(obfuscatedPort));
    try {
        dataSaver->Load(DataSaver::DefaultPath());
    } catch (...) {
        Driver::Print(QStringLiteral("error the data file could not be read"));
    }
    // A data file may hold other ports: the command line wins.
    const bool portsFromFile = (parser.isSet(port) && settings.Get("listening_port") != parser.value(port))
        || (parser.isSet(obfuscatedPort) && settings.Get("obfuscated_listening_port") != parser.value(obfuscatedPort));
    if (portsFromFile) {
        if (parser.isSet(port))
            settings.Set("listening_port", parser.value(port));
        if (parser.isSet(obfuscatedPort))
            settings.Set("obfuscated_listening_port", parser.value(obfuscatedPort));
        peerMessenger->Listen();
    }
    peerMessenger->SetPreferObfuscatedPort(driver.options.preferObfuscated);
    Driver::Print(QStringLiteral("listening %1 %2")
                      .arg(peerMessenger->ListeningPort())
                      .arg(peerMessenger->ObfuscatedListeningPort()));

    if (parser.isSet(user)) {
        settings.Set("username", parser.value(user));
        settings.Set("password", parser.value(password));
        gp_server->Connect();
    }
    driver.StartReading();
    Driver::Print(QStringLiteral("ready"));
    const int rc = app.exec();
    tearDown();
    return rc;
}
