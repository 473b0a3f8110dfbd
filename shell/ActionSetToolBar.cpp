#include "ActionSetToolBar.h"
#include "ApplicationIcon.h"
#include "Server.h"
#include "Settings.h"
#include "UpdateChecker.h"
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

ActionSetToolBar::ActionSetToolBar(QWidget* parent)
    : QToolBar(parent)
{
    actionBar = this;
    InitShellResources();
    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);

    m_setType = d.DeclareType("toolbar_action_set", kEntity);
    m_actionType = d.DeclareType("toolbar_action", kEntity, true);
    m_idType = d.DeclareType("toolbar_action_id", kEntity);
    m_orderType = d.DeclareType("toolbar_action_order", kAttribute);
    m_widgetType = d.DeclareType("toolbar_action_widget", kEntity);
    m_keyValuePairType = d.DeclareType("action_key_value_pair", kEntity, true);
    m_keyType = d.DeclareType("action_key", kLink);
    m_valueType = d.DeclareType("action_value", kAttribute);
    m_keyColumnPairType = d.DeclareType("action_key_column_pair", kEntity, true);
    m_columnType = d.DeclareType("action_column", kAttribute);
    m_activeKeyType = d.DeclareType("active_action_key", kEntity);
    m_activeValueType = d.DeclareType("active_action_value", kAttribute);
    m_widgetTextType = d.DeclareType("widget_action_text", kAttribute);
    m_widgetHiddenType = d.DeclareType("widget_action_hidden", kAttribute, true);
    m_objectType = d.DeclareType("toolbar_action_object", kLink);
    m_iconType = d.DeclareType("toolbar_action_icon", kAttribute);
    m_textType = d.DeclareType("toolbar_action_text", kAttribute);
    m_needsSelectionType = d.DeclareType("needs_list_selection", kAttribute, true);

    d.RelateTypes(m_setType, m_actionType, One, Many);
    d.RelateTypes(m_actionType, m_idType, Many, One);
    d.RelateTypes(m_actionType, m_orderType, Many, One);
    d.RelateTypes(m_actionType, m_iconType, Many, One);
    d.RelateTypes(m_actionType, m_textType, Many, One);
    d.RelateTypes(m_actionType, m_needsSelectionType, Many, One);
    d.RelateTypes(m_setType, m_widgetType, One, Many);
    d.RelateTypes(m_keyValuePairType, m_widgetType, Many, One);
    d.RelateTypes(m_keyValuePairType, m_keyType, Many, One);
    d.RelateTypes(m_keyValuePairType, m_valueType, Many, One);
    d.RelateTypes(m_keyColumnPairType, m_widgetType, Many, One);
    d.RelateTypes(m_keyColumnPairType, m_keyType, Many, One);
    d.RelateTypes(m_keyColumnPairType, m_columnType, Many, One);
    d.RelateTypes(m_activeKeyType, m_activeValueType, Many, One);
    d.RelateTypes(m_widgetTextType, m_widgetType, Many, Many);
    d.RelateTypes(m_widgetTextType, m_idType, Many, Many);
    d.RelateTypes(m_widgetHiddenType, m_widgetType, Many, One);
    d.RelateTypes(m_widgetHiddenType, m_idType, Many, One);
    d.RelateTypes(m_actionType, m_objectType, One, One);

    AddSupportMarrowbyButton();
}

ActionSetToolBar::~ActionSetToolBar()
{
    // Destroying the buttons below may move the focus: not to this half-gone bar.
    disconnect(qApp, nullptr, this, nullptr);
    if (actionBar == this)
        actionBar = nullptr;
}

bool ActionSetToolBar::event(QEvent* event)
{
    const bool handled = QToolBar::event(event);
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize)
        FitButtons();
    return handled;
}

void ActionSetToolBar::FitButtons()
{
    const Qt::ToolButtonStyle shown = toolButtonStyle();
    if (shown != Qt::ToolButtonTextBesideIcon && shown != Qt::ToolButtonTextOnly)
        return;
    // The widths the buttons take with their texts alone, and what their
    // icons add, whichever way they show now.
    const int iconRoom = iconSize().width() + 4; // as a tool button lays an icon beside its text
    const int spacing = qMax(0, layout()->spacing());
    const int frame = 2 * (style()->pixelMetric(QStyle::PM_ToolBarFrameWidth, nullptr, this)
                              + style()->pixelMetric(QStyle::PM_ToolBarItemMargin, nullptr, this));
    int texts = contentsMargins().left() + contentsMargins().right() + frame;
    int icons = 0;
    for (QAction* action : actions()) {
        QWidget* button = widgetForAction(action);
        if (!button || action == m_privilegesAction || !action->isVisible())
            continue;
        int width = qMax(0, button->sizeHint().width());
        if (qobject_cast<QToolButton*>(button) && !action->icon().isNull()) {
            icons += iconRoom;
            if (shown == Qt::ToolButtonTextBesideIcon)
                width -= iconRoom;
        }
        texts += width + spacing;
    }
    const int privileges = m_privilegesButton ? m_privilegesButton->sizeHint().width() : 0;
    // Icons go first, then the privileges button, before the set's own actions.
    const bool roomForIcons = texts + icons + privileges <= width();
    const Qt::ToolButtonStyle fitting = roomForIcons ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonTextOnly;
    if (fitting != shown)
        setToolButtonStyle(fitting);
    if (m_privilegesAction)
        m_privilegesAction->setVisible(texts + privileges <= width());
}

void ActionSetToolBar::Init()
{
    if (gp_server) {
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this, &ActionSetToolBar::OnReceivedOwnPrivilegesStatus,
            Qt::UniqueConnection);
        // Offline, the button says so rather than a status nobody sees.
        for (auto signal : { &Server::Connected, &Server::Disconnected })
            connect(gp_server, signal, this, &ActionSetToolBar::UpdateStatusButton, Qt::UniqueConnection);
        connect(gp_server, &Server::ConnectionFailed, this, &ActionSetToolBar::UpdateStatusButton,
            Qt::UniqueConnection);
    }
    m_started = true;
    UpdateStatusButton();
}

ItemPtr ActionSetToolBar::WidgetItem(const void* widget) const
{
    return widget ? m_widgetType->HasItem(AddressText(widget)) : ItemPtr();
}

ItemPtr ActionSetToolBar::IdItem(const QString& id) const { return m_idType->HasItem(Value(id)); }

ItemPtr ActionSetToolBar::ActionItem(const QAction* action) const
{
    return m_objectType->HasItem(AddressText(action))["toolbar_action"];
}

void ActionSetToolBar::AddSetAction(QString set, QString id, QString text, QString icon, bool needsListSelection)
{
    ItemPtr action = m_actionType->NewItem();
    m_setType->GetItem(Value(set)) += action;
    action += m_idType->GetItem(Value(id));
    action += m_orderType->GetItem(Value(m_nextOrder++));
    action += m_iconType->GetItem(Value(icon));
    action += m_textType->GetItem(Value(text));
    if (needsListSelection)
        action += m_needsSelectionType->GetGlobalNullItem();
}

void ActionSetToolBar::RegisterWidget(QWidget* widget, QString set)
{
    if (!widget)
        return;
    m_widgetType->GetItem(AddressText(widget)) += m_setType->GetItem(Value(set));
    connect(widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
}

void ActionSetToolBar::AddWidgetKey(QWidget* widget, QString key, QString value)
{
    AddKeyPair(widget, m_keyValuePairType, key, m_valueType->GetItem(Value(value)));
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* widget, QString key, int column)
{
    AddKeyPair(widget, m_keyColumnPairType, key, m_columnType->GetItem(Value(column)));
}

void ActionSetToolBar::AddKeyPair(QWidget* widget, Type* pairType, const QString& key, ItemPtr valueItem)
{
    ItemPtr widgetItem = WidgetItem(widget);
    if (!widgetItem)
        return;
    ItemPtr pair = pairType->NewItem();
    pair += widgetItem;
    pair += m_keyType->GetItem(Value(key));
    pair += valueItem;
}

void ActionSetToolBar::SetKeyValue(const QString& key, const QString& value)
{
    m_activeKeyType->GetItem(Value(key)) += m_activeValueType->GetItem(Value(value));
}

QString ActionSetToolBar::GetKey(QString key)
{
    return m_activeKeyType->HasItem(Value(key))["active_action_value"].AsString();
}

QAction* ActionSetToolBar::FindAction(const QString& id) const
{
    ItemPtr idItem = IdItem(id);
    if (!idItem)
        return nullptr;
    for (QAction* a : actions()) {
        if (ActionItem(a)["toolbar_action_id"] == idItem)
            return a;
    }
    return nullptr;
}

void ActionSetToolBar::SetWidgetActionText(QWidget* widget, QString id, QString text)
{
    if (g_showIsOver)
        return;
    ItemPtr widgetItem = WidgetItem(widget);
    ItemPtr idItem = IdItem(id);
    if (!widgetItem || !idItem)
        return;
    if (ItemPtr old = d.GetItem(widgetItem, idItem, "widget_action_text"))
        old.Disconnect(widgetItem);
    ItemPtr textItem = m_widgetTextType->GetItem(Value(text));
    textItem += widgetItem;
    textItem += idItem;
    if (widget != m_currentWidget)
        return;
    // Only actions that are on the bar now: their items are looked up by the
    // actions' own addresses.
    for (QAction* a : actions()) {
        if (ActionItem(a)["toolbar_action_id"] == idItem)
            a->setText(PlainLabel(text));
    }
}

void ActionSetToolBar::SetWidgetActionHidden(QWidget* widget, QString id, bool hidden)
{
    ItemPtr widgetItem = WidgetItem(widget);
    ItemPtr idItem = IdItem(id);
    if (!widgetItem || !idItem)
        return;
    ItemPtr marker = d.GetItem(widgetItem, idItem, "widget_action_hidden");
    if (hidden && !marker) {
        marker = m_widgetHiddenType->NewItem();
        marker += widgetItem;
        marker += idItem;
    } else if (!hidden && marker) {
        marker.Remove();
    }
    if (widget != m_currentWidget)
        return;
    for (QAction* a : actions()) {
        if (ActionItem(a)["toolbar_action_id"] == idItem)
            a->setVisible(!hidden);
    }
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget*, QWidget* ip_widget)
{
    if (!m_started || g_showIsOver || m_inFocusChange || !ip_widget)
        return;
    m_inFocusChange = true;

    // A tab widget or its tab bar stands for the page it shows.
    QWidget* start = ip_widget;
    for (;;) {
        QTabWidget* tabs = qobject_cast<QTabWidget*>(start);
        if (!tabs && qobject_cast<QTabBar*>(start))
            tabs = qobject_cast<QTabWidget*>(start->parentWidget());
        if (!tabs || !tabs->currentWidget())
            break;
        start = tabs->currentWidget();
    }

    m_currentTree = nullptr;
    QTreeWidget* tree = nullptr;
    for (QWidget* w = start; w; w = w->parentWidget()) {
        ItemPtr widgetItem = WidgetItem(w);
        if (!tree)
            tree = qobject_cast<QTreeWidget*>(w);
        if (!widgetItem)
            continue;
        m_currentWidgetItemAddress = reinterpret_cast<quintptr>(w);
        m_currentTree = tree;
        ChangeSet(w, widgetItem["toolbar_action_set"].AsString());
        for (ItemPtr pair : widgetItem.GetItems("action_key_value_pair"))
            SetKeyValue(pair["action_key"].AsString(), pair["action_value"].AsString());
        m_inFocusChange = false;
        return;
    }
    Clear();
    AddSupportMarrowbyButton();
    m_inFocusChange = false;
}

void ActionSetToolBar::ChangeSet(QWidget* widget, QString set)
{
    if (set == m_currentSet && widget == m_currentWidget)
        return;
    m_currentSet = set;
    m_currentWidget = widget;
    m_currentWidgetAddress = reinterpret_cast<quintptr>(widget);
    ClearAndDeleteActions();

    const ItemList ordered
        = m_setType->HasItem(Value(set)).GetItems("toolbar_action").SortNumericBy("toolbar_action_order", true);
    ItemPtr widgetItem = WidgetItem(widget);
    for (ItemPtr action : ordered) {
        ItemPtr idItem = action["toolbar_action_id"];
        QString text = action["toolbar_action_text"].AsString();
        if (ItemPtr replaced = d.GetItem(widgetItem, idItem, "widget_action_text"))
            text = replaced.AsString();
        auto* a = new QAction(KitIcon(action["toolbar_action_icon"].AsString()), PlainLabel(text), this);
        insertAction(m_tail, a);
        m_setActions.append(a);
        if (d.GetItem(widgetItem, idItem, "widget_action_hidden"))
            a->setVisible(false);
        connect(a, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        action += m_objectType->GetItem(AddressText(a));
    }
    AddSupportMarrowbyButton();
}

void ActionSetToolBar::Clear()
{
    m_currentSet.clear();
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    // Only the set's own buttons go. The status button, its label and the
    // right-hand part are made once and stay: a widget that left the window
    // would walk the window's whole focus chain, as long as the tabs are many.
    for (const QPointer<QAction>& a : std::as_const(m_setActions)) {
        if (!a)
            continue;
        removeAction(a);
        // Later: the action may be the one whose click is being reported.
        a->deleteLater();
    }
    m_setActions.clear();
    // The items name actions that are on the bar; none is any more.
    for (ItemPtr object : m_objectType->GetItems().ToList())
        object.Remove();

    if (!m_statusButton) {
        auto* status = new QPushButton;
        status->setFocusPolicy(Qt::NoFocus);
        m_statusButton = status;
        insertWidget(m_tail, status);
        connect(status, &QPushButton::clicked, this, &ActionSetToolBar::OnStatusButtonClicked);
        insertWidget(m_tail, new QLabel(QStringLiteral(" ")));
    }
    UpdateStatusButton();
}

void ActionSetToolBar::AddSupportMarrowbyButton()
{
    if (!m_tail) {
        m_tail = addAction(QString());
        auto* spacer = new QWidget;
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        addWidget(spacer);
        auto* button = new QPushButton;
        button->setFocusPolicy(Qt::NoFocus);
        m_privilegesButton = button;
        m_privilegesAction = addWidget(button);
        connect(button, &QPushButton::clicked, this, &ActionSetToolBar::OnSupportMarrowbyButtonClicked);
    }
    if (d.HasType("global"))
        LabelPrivilegesButton();
}

void ActionSetToolBar::UpdateStatusButton()
{
    if (!m_statusButton)
        return;
    const bool available = SettingText("availability_status") == QLatin1String("available");
    if (m_started && gp_server && !gp_server->IsConnected()) {
        m_statusButton->setIcon(KitIcon(QStringLiteral(":/icons/offline_icon")));
        m_statusButton->setText(tr("Offline"));
        m_statusButton->setToolTip(available ? tr("Not connected. You will be shown as Available when you connect.")
                                             : tr("Not connected. You will be shown as Away when you connect."));
    } else if (available) {
        m_statusButton->setIcon(KitIcon(QStringLiteral(":/icons/online_icon")));
        m_statusButton->setText(tr("Available"));
        m_statusButton->setToolTip(QString());
    } else {
        m_statusButton->setIcon(KitIcon(QStringLiteral(":/icons/away_icon")));
        m_statusButton->setText(tr("Away"));
        m_statusButton->setToolTip(QString());
    }
}

void ActionSetToolBar::LabelPrivilegesButton()
{
    if (!m_privilegesButton)
        return;
    const qint64 seconds = SettingText("privileges_time_left").toLongLong();
    if (SettingText("is_supporter") == QLatin1String("yes")) {
        m_privilegesButton->setIcon(KitIcon(QStringLiteral(":/icons/gold_star_icon")));
        m_privilegesButton->setToolTip(tr("Thank you for supporting Marrowby!"));
    } else {
        // Privileges that ran out take the star with them.
        m_privilegesButton->setIcon(QIcon());
        m_privilegesButton->setToolTip(QString());
        m_privilegesButton->setText(tr("Support Marrowby!"));
    }
    if (seconds > 0)
        m_privilegesButton->setText(tr("%1 Days Left").arg((seconds + 43200) / 86400));
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int) { LabelPrivilegesButton(); }

void ActionSetToolBar::OnActionTriggered(bool)
{
    if (g_showIsOver)
        return;
    auto* sent = qobject_cast<QAction*>(sender());
    ItemPtr action = sent ? ActionItem(sent) : ItemPtr();
    if (!action || !m_currentWidget)
        return;
    if (m_currentTree) {
        const QList<QTreeWidgetItem*> selected = m_currentTree->selectedItems();
        if (selected.isEmpty()) {
            if (action["needs_list_selection"])
                return;
        } else {
            QTreeWidgetItem* row = selected.first();
            ItemPtr widgetItem = WidgetItem(reinterpret_cast<const void*>(m_currentWidgetItemAddress));
            for (ItemPtr pair : widgetItem.GetItems("action_key_column_pair"))
                SetKeyValue(pair["action_key"].AsString(), row->text(pair["action_column"].AsInt()));
        }
    }
    emit ActionTriggered(m_currentWidget, action["toolbar_action_id"].AsString());
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    // The object is half destroyed: only its address is used.
    ItemPtr widgetItem = WidgetItem(ip_widget);
    if (widgetItem) {
        for (const char* type : { "action_key_value_pair", "action_key_column_pair", "widget_action_hidden" }) {
            for (ItemPtr owned : widgetItem.GetItems(type).ToList())
                owned.Remove();
        }
        widgetItem.Remove();
    }
    if (m_currentWidgetItemAddress == reinterpret_cast<quintptr>(ip_widget))
        m_currentWidgetItemAddress = 0;
    if (m_currentWidgetAddress && m_currentWidgetAddress == reinterpret_cast<quintptr>(ip_widget)) {
        m_currentWidgetAddress = 0;
        m_currentWidget = nullptr;
        m_currentTree = nullptr;
        Clear();
        AddSupportMarrowbyButton();
    }
}

void ActionSetToolBar::OnStatusButtonClicked()
{
    if (!d.HasType("global"))
        return;
    const bool wasAvailable = SettingText("availability_status") == QLatin1String("available");
    if (gp_server)
        gp_server->SetAvailabilityStatus(!wasAvailable);
    else
        settings.Set("availability_status", wasAvailable ? "away" : "available");
    UpdateStatusButton();
    const bool connected = gp_server && gp_server->IsConnected();
    if (wasAvailable) {
        if (connected && settings.IsYes("show_away_status_in_application_icon"))
            SetApplicationIcon(QStringLiteral(":/icons/away_icon"));
    } else if (connected) {
        SetApplicationIcon(QStringLiteral(":/icons/online_icon"));
    }
}

void ActionSetToolBar::OnSupportMarrowbyButtonClicked()
{
    // The privileges page on the maker's web host; the user name is sent
    // percent-encoded, so no name can change the address.
    QUrl url = UpdateChecker::VersionFileUrl();
    if (!url.isValid())
        url = QUrl(QStringLiteral("http://") + QStringLiteral(MARROWBY_DEFAULT_WEB));
    url.setPath(QStringLiteral("/qtlogin.php"));
    url.setQuery(QStringLiteral("username=") + QString::fromUtf8(QUrl::toPercentEncoding(SettingText("username"))),
        QUrl::StrictMode);
    QDesktopServices::openUrl(url);
}
