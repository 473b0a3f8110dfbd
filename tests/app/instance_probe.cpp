// Starts like the client does: takes the single-instance id (from
// MARROWBY_INSTANCE_ID) and prints "primary", then every message it receives
// as "message <text>"; a second start prints "secondary sent" (or "secondary
// unsent") after handing its first argument to the first, and exits with 0.
#include "Application.h"
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    Application app(argc, argv, qEnvironmentVariable("MARROWBY_INSTANCE_ID", QStringLiteral("MarrowbyQt")));
    QTextStream out(stdout);
    if (app.IsRunning()) {
        const bool sent = app.SendMessage(app.arguments().value(1, QStringLiteral("activate")));
        out << (sent ? "secondary sent" : "secondary unsent") << Qt::endl;
        return 0;
    }
    QObject::connect(&app, &Application::MessageReceived,
        [&out](const QString& message) { out << "message " << message << Qt::endl; });
    out << "primary" << Qt::endl;
    return app.exec();
}
