// Runs a PortForwarder in a process of its own, so that a test can start it
// inside a network namespace. Arguments: use_upnp ("yes" or "no"), the
// listening port, the obfuscated listening port and, optionally, how long
// discovery waits for answers in ms. Discovery goes through MARROWBY_UPNP_IF
// when set.
//
// Prints one line per event:
//   init true|false <ms that Init() held the caller>
//   gateway <local address> | nogateway
//   mapped <port> ok|fail   | unmapped <port> ok|fail
//   log <text>              (the "Port Forwarding" log, at the end)
//   done
// Reads commands from stdin: "renew" (the hourly renewal) and "quit"
// (shutdown, which deletes the mappings); end of input also quits.
#include "server/PortForwarder.h"
#include "store/LogSink.h"
#include "store/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTextStream>
#include <unistd.h>

namespace {

void Say(const QString& line)
{
    QTextStream out(stdout);
    out << line << Qt::endl;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 5) {
        Say(QStringLiteral("usage: upnp_driver yes|no port obfuscated_port [discovery_ms]"));
        return 2;
    }
    Settings::CreateTypes();
    settings.Set("use_upnp", args[1]);
    settings.Set("listening_port", args[2]);
    settings.Set("obfuscated_listening_port", args[3]);

    auto* forwarder = new PortForwarder;
    if (args.size() == 5)
        forwarder->SetDiscoveryOptions(qEnvironmentVariable("MARROWBY_UPNP_IF"), args[4].toInt());
    QObject::connect(
        forwarder, &PortForwarder::GatewayFound, [](const QString& lan) { Say("gateway " + lan); });
    QObject::connect(forwarder, &PortForwarder::GatewayNotFound, [] { Say(QStringLiteral("nogateway")); });
    QObject::connect(forwarder, &PortForwarder::PortMapped,
        [](int port, bool ok) { Say(QStringLiteral("mapped %1 %2").arg(port).arg(ok ? "ok" : "fail")); });
    QObject::connect(forwarder, &PortForwarder::PortUnmapped,
        [](int port, bool ok) { Say(QStringLiteral("unmapped %1 %2").arg(port).arg(ok ? "ok" : "fail")); });

    QElapsedTimer clock;
    clock.start();
    const bool queued = forwarder->Init();
    Say(QStringLiteral("init %1 %2").arg(queued ? "true" : "false").arg(clock.elapsed()));

    auto quit = [forwarder] {
        delete forwarder; // shuts down
        for (const LogLine& line : LogSink::Instance().AreaLines(QStringLiteral("Port Forwarding")))
            Say("log " + line.text);
        Say(QStringLiteral("done"));
        QCoreApplication::quit();
    };

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (n <= 0) {
            input.setEnabled(false);
            quit();
            return;
        }
        const QByteArray text(buffer, int(n));
        for (const QByteArray& command : text.split('\n')) {
            if (command.trimmed() == "renew")
                forwarder->OnHourTimer();
            else if (command.trimmed() == "quit") {
                input.setEnabled(false);
                quit();
                return;
            }
        }
    });
    return app.exec();
}
