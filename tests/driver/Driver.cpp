#include "Driver.h"
#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

Driver::Driver(QObject* parent)
    : QObject(parent)
{
}

void Driver::AddCommand(
    const QString& name, const QString& usage, const QString& help, int minArgs, Handler handler)
{
    m_commands[name] = Command { usage, help, minArgs, std::move(handler) };
}

void Driver::Print(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString Driver::HelpText() const
{
    QString text;
    for (const auto& [name, command] : m_commands)
        text += QStringLiteral("  %1\n      %2\n").arg(command.usage, command.help);
    return text;
}

QString Rest(const QStringList& args, int n)
{
    return args.mid(n).join(QLatin1Char(' '));
}

void Driver::Run(const QString& line)
{
    const QStringList words = QProcess::splitCommand(line.trimmed());
    if (words.isEmpty())
        return;
    auto it = m_commands.find(words.first());
    if (it == m_commands.end()) {
        Print(QStringLiteral("error unknown command %1").arg(words.first()));
        return;
    }
    const QStringList args = words.mid(1);
    if (args.size() < it->second.minArgs) {
        Print(QStringLiteral("error usage: %1").arg(it->second.usage));
        return;
    }
    it->second.handler(args);
}

void Driver::StartReading()
{
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Driver::OnStdin);
}

void Driver::OnStdin()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        // The end of the input ends the driver.
        if (auto* notifier = findChild<QSocketNotifier*>())
            notifier->setEnabled(false);
        QCoreApplication::quit();
        return;
    }
    m_pending.append(buffer, n);
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
        Run(line);
    }
}
