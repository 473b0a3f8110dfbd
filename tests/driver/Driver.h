#pragma once
// marrowby-driver: one client's core without widgets, for end-to-end tests.
//
// It reads one command per line on stdin and prints one event per line on
// stdout. Commands live in a table: each module of the driver (the peer
// network's here; the shared folders and the transfer engine add theirs)
// registers its commands and connects its events in a function listed in
// kModules (driver_main.cpp). A module may also construct its manager there:
// modules run after the core exists and before the data file is loaded.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

class Driver : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QStringList& args)>;
    struct Command {
        QString usage; // e.g. "send <user> <code> [text...]"
        QString help;
        int minArgs = 0;
        Handler handler;
    };

    // Command-line options that modules may read.
    struct Options {
        bool rawFiles = false; // the driver takes file connections itself
        bool preferObfuscated = false;
    };

    explicit Driver(QObject* parent = nullptr);

    void AddCommand(
        const QString& name, const QString& usage, const QString& help, int minArgs, Handler handler);
    // One event line on stdout (flushed).
    static void Print(const QString& line);
    // Every command with its usage and help, for --help and "help".
    QString HelpText() const;
    // Runs one input line; unknown commands and missing arguments print
    // "error ...".
    void Run(const QString& line);
    // Starts reading stdin; the program quits at its end or on "quit".
    void StartReading();

    Options options;

private:
    void OnStdin();

    std::map<QString, Command> m_commands;
    QByteArray m_pending;
};

// The words after the first n arguments, joined by single spaces.
QString Rest(const QStringList& args, int n);

// Modules.
void RegisterCoreCommands(Driver& driver);
void RegisterPeerCommands(Driver& driver);
void RegisterSharedFolderCommands(Driver& driver);
void RegisterBrowseCommands(Driver& driver);
void RegisterTransferCommands(Driver& driver);
void RegisterUserCommands(Driver& driver);
void RegisterChatCommands(Driver& driver);
