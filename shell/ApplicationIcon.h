#pragma once
// The one icon that the application, the main window and the tray icon share,
// the tray icon itself, and the tray balloons. The main window creates one
// instance after it exists and forwards its own SetApplicationIcon,
// ResetApplicationIcon, PopupAlert and OnTrayIconActivated to it; the kit's
// tool bars reach it through the free functions below.
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <memory>

class ApplicationIcon : public QObject {
    Q_OBJECT
public:
    explicit ApplicationIcon(QObject* parent = nullptr);
    ~ApplicationIcon() override;

    QSystemTrayIcon* TrayIcon() const { return m_tray.get(); }
    // The resource path shown now.
    QString IconPath() const { return m_path; }

    // Application, main-window and (when the desktop has a tray) tray icon.
    void SetApplicationIcon(QString iconPath);
    // The status icon: offline, online or away.
    void ResetApplicationIcon();
    static QString StatusIconPath();
    // A tray balloon; nothing on a desktop without a tray.
    void PopupAlert(QString text);
    // What the balloon says for the text: a bounded part, its markup escaped
    // (notification services may read the body as markup).
    static QString AlertBody(const QString& text);

public slots:
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QString m_path;
    // The window that has m_path already (set again only on a change).
    QPointer<QWidget> m_window;
    // The icons made so far, by path: each keeps the sizes drawn from its
    // picture, so a blinking icon is drawn once, not at every step.
    QHash<QString, QIcon> m_icons;
};

extern ApplicationIcon* applicationIcon;

// Forward to applicationIcon; nothing while there is none.
void SetApplicationIcon(QString iconPath);
void ResetApplicationIcon();
void PopupAlert(QString text);
