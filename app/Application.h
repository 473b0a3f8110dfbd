#pragma once
// The application object, and the guard that lets one instance run per user.
//
// The instance id ("MarrowbyQt") and the user's id name a lock file and a
// local socket in the user's runtime folder. The first instance holds the lock
// and listens on the socket; a later start finds the lock held by a live
// process, IsRunning() is true, and main hands its message to the first
// instance and exits with status 0:
//
//     Application app(argc, argv);
//     if (app.IsRunning()) {
//         app.SendMessage(QStringLiteral("activate"));
//         return 0;
//     }
//     QObject::connect(&app, &Application::MessageReceived, window, ...raise...);
//
// A run that crashed leaves its lock and socket behind: the lock names a
// process that no longer exists and is taken over, and the dead socket is
// removed before listening again.
//
// Saving before logout: when the desktop asks running programs to save
// (QGuiApplication::commitDataRequest), commitData calls the save handler. main
// sets it once the main window exists:
//
//     app.SetSaveHandler([] { if (mainWindow) mainWindow->SaveData(); });
#include <QApplication>
#include <QSessionManager>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv, const QString& id = QStringLiteral("MarrowbyQt"));
    ~Application() override;

    // True when another live instance of this user holds the id.
    bool IsRunning() const { return m_running; }
    // Hands a message to the running instance (which emits MessageReceived);
    // false when it could not be reached within the time-out. Meant for the
    // second start, which has no window yet.
    bool SendMessage(const QString& message, int timeoutMs = 3000);
    QString Id() const { return m_id; }
    // Where the first instance listens.
    QString SocketPath() const { return m_socketPath; }

    void SetSaveHandler(std::function<void()> handler) { m_saveHandler = std::move(handler); }

    // Messages are at most this many bytes of UTF-8.
    static constexpr int kMaxMessageBytes = 131072;

signals:
    void MessageReceived(const QString& message);

public slots:
    // The desktop asks running programs to save before the user logs out.
    void commitData(QSessionManager& manager);

private slots:
    void OnNewConnection();

private:
    void Listen();

    QString m_id;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    bool m_running = false;
    std::function<void()> m_saveHandler;
};
