#pragma once
// The bar of pending events: one call, AddEvent, does all the alerting for
// something the user has not seen yet (a chat line, a finished download): it
// marks the page's tab, blinks the application icon while the window is
// inactive, shows a tray balloon and plays the event's sound while the user
// can't see the page, and puts a button on the bar that brings the page
// forward while the page is hidden.
//
// Buttons and widgets are kept as run-time store items keyed by address; the
// widgets themselves are held in QPointer, so a click never reaches a widget
// that is gone, and a destroyed widget's buttons go with it (a new widget at
// the same address starts with none).
#include "Data.h"
#include "DataLoadedEventHandler.h"
#include "Kit.h"
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <set>

class QSoundEffect;

class EventToolBar : public QToolBar, public DataLoadedEventHandler {
    Q_OBJECT
public:
    explicit EventToolBar(QWidget* parent = nullptr);
    ~EventToolBar() override;

    void DataLoaded() override { }

    // The button's text and the tray balloon's alert are shown as given: a
    // caller puts peers' names into them with IsolatedText (Kit.h), once. A
    // long text is cut to a label's width and shown whole in the tool tip.
    void AddEvent(QString text, QString icon, QWidget* widget, QString alert, QString sound, bool several);
    void RemoveEvents(QWidget* widget);

    // The sound file for a key, falling back to "default"; empty for none.
    static QString SoundFile(const QString& key);
    // The event buttons on the bar now (the placeholder is not one).
    QList<QAction*> EventActions() const;
    bool IsBlinking() const { return m_blinkTimer.isActive(); }

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_now);

private:
    void RemoveEventsAt(const std::string& address);
    void ShowPlaceholderIfEmpty();
    void PlaySound(const QString& file);

    bool m_placeholder = true;
    QAction* m_placeholderAction;
    std::set<QString> m_blinkingIcons;
    int m_blinkIndex = 0;
    QTimer m_blinkTimer;
    QSoundEffect* m_sound = nullptr;
    // The widgets that have buttons, by address.
    QHash<QString, QPointer<QWidget>> m_widgets;
    Type* m_actionType;
    Type* m_widgetType;
};
