#include "EventToolBar.h"
#include "ApplicationIcon.h"
#include "DataSaver.h"
#include "Settings.h"
#include "TabWidget.h"
#include "WidgetFunctions.h"
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QSoundEffect>
#include <QUrl>

EventToolBar::EventToolBar(QWidget* parent)
    : QToolBar(parent)
{
    InitShellResources();
    eventToolBar = this;
    setMovable(false);
    m_actionType = d.DeclareType("event_toolbar_action", kEntity);
    m_widgetType = d.DeclareType("event_toolbar_widget", kEntity);
    d.RelateTypes(m_actionType, m_widgetType, Many, One);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_placeholderAction = new QAction(QString(), this);
    addAction(m_placeholderAction);
    m_blinkTimer.setInterval(1000);
    connect(&m_blinkTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
    hide();
    Type* sound = d.DeclareType("event_sound", kEntity);
    Type* soundFile = d.DeclareType("event_sound_file", kAttribute);
    d.RelateTypes(sound, soundFile, Many, One);
    if (dataSaver) {
        dataSaver->AddSavedType("event_sound");
        dataSaver->AddSavedType("event_sound_file");
    }
}

EventToolBar::~EventToolBar()
{
    // Destroying the buttons below may move the focus: not to this half-gone bar.
    disconnect(qApp, nullptr, this, nullptr);
    if (eventToolBar == this)
        eventToolBar = nullptr;
}

QList<QAction*> EventToolBar::EventActions() const
{
    QList<QAction*> list = actions();
    list.removeAll(m_placeholderAction);
    return list;
}

QString EventToolBar::SoundFile(const QString& key)
{
    Type* sound = d.HasType("event_sound");
    if (!sound)
        return QString();
    QString file = sound->GetItem(Value(key))["event_sound_file"].AsString();
    if (file.isEmpty())
        file = sound->GetItem("default")["event_sound_file"].AsString();
    return file;
}

void EventToolBar::PlaySound(const QString& file)
{
    if (!m_sound)
        m_sound = new QSoundEffect(this);
    m_sound->setSource(QUrl::fromLocalFile(file));
    m_sound->play();
}

void EventToolBar::AddEvent(QString text, QString icon, QWidget* widget, QString alert, QString sound, bool several)
{
    TabWidget::MarkTabActivity(widget);
    const bool windowActive = mainWindow && mainWindow->isActiveWindow();
    if (!windowActive) {
        if (m_blinkingIcons.empty()) {
            m_blinkIndex = 0;
            m_blinkTimer.start(1000);
        }
        m_blinkingIcons.insert(icon);
    }
    const bool visible = widget && widget->isVisible();
    if (windowActive && visible)
        return;
    if (!alert.isEmpty())
        PopupAlert(alert);
    if (!sound.isEmpty()) {
        const QString file = SoundFile(sound);
        if (!file.isEmpty())
            PlaySound(file);
    }
    if (visible || !widget)
        return;
    const std::string address = AddressText(widget);
    if (m_widgetType->HasItem(address) && !several)
        return;
    if (m_placeholder) {
        removeAction(m_placeholderAction);
        m_placeholder = false;
    }
    if (SettingText("show_event_buttons") != QLatin1String("yes"))
        return;
    const QString shown = ElidedLabel(text, fontMetrics());
    QAction* action = addAction(QIcon(icon), PlainLabel(shown));
    if (shown != text)
        action->setToolTip(PlainToolTip(text));
    connect(action, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    m_actionType->GetItem(AddressText(action)) += m_widgetType->GetItem(address);
    m_widgets.insert(QString::fromStdString(address), widget);
    connect(widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
    show();
}

void EventToolBar::ShowPlaceholderIfEmpty()
{
    if (!actions().isEmpty())
        return;
    addAction(m_placeholderAction);
    m_placeholder = true;
    hide();
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    ItemPtr actionItem = m_actionType->HasItem(AddressText(action));
    ItemPtr widgetItem = actionItem["event_toolbar_widget"];
    const QString address = widgetItem.AsString();
    removeAction(action);
    // Later: the action is the sender of the signal being handled.
    action->deleteLater();
    ShowPlaceholderIfEmpty();
    actionItem.Remove();
    QPointer<QWidget> widget = m_widgets.value(address);
    if (widgetItem && !widgetItem.IsConnected("event_toolbar_action")) {
        widgetItem.Remove();
        m_widgets.remove(address);
    }
    if (widget)
        FocusWidget(widget);
}

void EventToolBar::RemoveEvents(QWidget* widget)
{
    if (widget)
        RemoveEventsAt(AddressText(widget));
}

void EventToolBar::RemoveEventsAt(const std::string& address)
{
    ItemPtr widgetItem = m_widgetType->HasItem(address);
    if (!widgetItem)
        return;
    ItemSet actionItems = widgetItem.GetItems("event_toolbar_action");
    // Only actions that are on the bar are touched, found by their own address.
    for (QAction* action : EventActions()) {
        ItemPtr item = m_actionType->HasItem(AddressText(action));
        if (item && actionItems.Contains(item)) {
            removeAction(action);
            action->deleteLater();
        }
    }
    for (ItemPtr item : actionItems.ToList())
        item.Remove();
    ShowPlaceholderIfEmpty();
    widgetItem.Remove();
    m_widgets.remove(QString::fromStdString(address));
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    // Half destroyed: only its address is used.
    RemoveEventsAt(AddressText(ip_widget));
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_blinkingIcons.empty())
        return;
    auto it = m_blinkingIcons.begin();
    std::advance(it, std::min<size_t>(m_blinkIndex, m_blinkingIcons.size()));
    if (it == m_blinkingIcons.end()) {
        m_blinkIndex = 0;
        ResetApplicationIcon();
        return;
    }
    SetApplicationIcon(*it);
    ++m_blinkIndex;
}

void EventToolBar::OnApplicationFocusChanged(QWidget*, QWidget*)
{
    if (g_showIsOver)
        return;
    m_blinkingIcons.clear();
    m_blinkTimer.stop();
    ResetApplicationIcon();
}
