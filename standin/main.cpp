// marrowby-server: a stand-in central server on 127.0.0.1 for tests and for
// trying the client locally. Everything it knows is kept in memory.

#include "StandinOptions.h"
#include "StandinServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

bool parseOptions(const QCoreApplication& app, StandinOptions& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in central server listening on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port; 0 picks a free one."),
        QStringLiteral("N"), QStringLiteral("2242"));
    const QCommandLineOption period(QStringLiteral("wishlist-period"),
        QStringLiteral("Wish-list search period sent after login, in seconds."), QStringLiteral("S"),
        QStringLiteral("720"));
    const QCommandLineOption wrongPort(QStringLiteral("wrong-port"),
        QStringLiteral("Answer address requests for USER with a port nobody listens on (repeatable)."),
        QStringLiteral("USER"));
    const QCommandLineOption wrongFilePort(QStringLiteral("wrong-file-port"),
        QStringLiteral("Give USER's port as one nobody listens on when asking others to open a file connection to "
                       "USER (repeatable)."),
        QStringLiteral("USER"));
    const QCommandLineOption privileged(QStringLiteral("privileged"),
        QStringLiteral("Give USER 30 days of privileges at start (repeatable)."), QStringLiteral("USER"));
    const QCommandLineOption motd(QStringLiteral("motd"),
        QStringLiteral("Administrator message sent after each login."), QStringLiteral("TEXT"));
    const QCommandLineOption treeOnly(QStringLiteral("tree-only"),
        QStringLiteral("Send searches only to branch roots of the distributed tree (code 93)."));
    parser.addOptions({ port, period, wrongPort, wrongFilePort, privileged, motd, treeOnly });
    parser.process(app);

    bool ok = false;
    const uint portValue = parser.value(port).toUInt(&ok);
    if (!ok || portValue > 65535) {
        std::fprintf(stderr, "marrowby-server: bad --port\n");
        return false;
    }
    options.port = quint16(portValue);
    options.wishlistPeriod = parser.value(period).toUInt(&ok);
    if (!ok) {
        std::fprintf(stderr, "marrowby-server: bad --wishlist-period\n");
        return false;
    }
    options.wrongPortUsers = parser.values(wrongPort);
    options.wrongFilePortUsers = parser.values(wrongFilePort);
    options.privilegedUsers = parser.values(privileged);
    options.motd = parser.value(motd);
    options.treeOnly = parser.isSet(treeOnly);
    return true;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("marrowby-server"));
    StandinOptions options;
    if (!parseOptions(app, options))
        return 2;
    StandinServer server(options);
    if (!server.listen()) {
        std::fprintf(stderr, "marrowby-server: cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("listening on %u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
