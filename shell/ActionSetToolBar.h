#pragma once
// The main tool bar. Pages declare named action sets, bind their widgets to a
// set, and the bar shows the set of whichever bound widget holds the keyboard
// focus. A click is reported as ActionTriggered(widget, action id); the
// handler reads the values it needs (a room name, a column of the selected
// row) as keys with GetKey. Besides the set, the bar carries the own
// availability button on the left and the privileges button on the right.
//
// Everything is kept as run-time items of the store (never saved). Widgets
// and actions are found by their address written as decimal text; an address
// is never turned back into a pointer. A bound widget that is destroyed takes
// its binding, keys, texts and hidden marks with it, so a new widget that
// happens to get the same address starts clean.
#include "Data.h"
#include "Kit.h"
#include <QPointer>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>

class ActionSetToolBar : public QToolBar {
    Q_OBJECT
public:
    explicit ActionSetToolBar(QWidget* parent = nullptr);
    ~ActionSetToolBar() override;

    // Follows the server's privileges reports and starts following the focus.
    void Init();

    void AddSetAction(QString set, QString id, QString text, QString icon, bool needsListSelection = false);
    void RegisterWidget(QWidget* widget, QString set);
    void AddWidgetKey(QWidget* widget, QString key, QString value);
    void AddWidgetColumnKey(QWidget* widget, QString key, int column);
    // The key's value set last by any widget; empty when never set.
    QString GetKey(QString key);
    void SetWidgetActionText(QWidget* widget, QString id, QString text);
    void SetWidgetActionHidden(QWidget* widget, QString id, bool hidden);
    void ChangeSet(QWidget* widget, QString set);
    void Clear();
    void ClearAndDeleteActions();
    void AddSupportMarrowbyButton();

    // What the bar shows now, for the window and its tests.
    QString CurrentSet() const { return m_currentSet; }
    QWidget* CurrentWidget() const { return m_currentWidget; }
    QPushButton* StatusButton() const { return m_statusButton; }
    QPushButton* PrivilegesButton() const { return m_privilegesButton; }
    // The bar's action showing the id, or null.
    QAction* FindAction(const QString& id) const;

signals:
    void ActionTriggered(QWidget* ip_widget, QString i_action);

public slots:
    void OnActionTriggered(bool);
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnSupportMarrowbyButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnStatusButtonClicked();

protected:
    bool event(QEvent* event) override;

private:
    // Text beside the icons while every button fits so, the texts alone
    // otherwise, and the privileges button only while there is room for it:
    // no action of the set is hidden in the bar's overflow.
    void FitButtons();
    ItemPtr WidgetItem(const void* widget) const; // never creates
    ItemPtr IdItem(const QString& id) const; // never creates
    ItemPtr ActionItem(const QAction* action) const; // the declared action shown by it
    void AddKeyPair(QWidget* widget, Type* pairType, const QString& key, ItemPtr valueItem);
    void SetKeyValue(const QString& key, const QString& value);
    void UpdateStatusButton();
    void LabelPrivilegesButton();

    Type* m_setType;
    Type* m_actionType;
    Type* m_idType;
    Type* m_orderType;
    Type* m_widgetType;
    Type* m_keyValuePairType;
    Type* m_keyType;
    Type* m_valueType;
    Type* m_keyColumnPairType;
    Type* m_columnType;
    Type* m_activeKeyType;
    Type* m_activeValueType;
    Type* m_widgetTextType;
    Type* m_widgetHiddenType;
    Type* m_objectType;
    Type* m_iconType;
    Type* m_textType;
    Type* m_needsSelectionType;

    QString m_currentSet;
    // The current widget item is found again by this address when needed: a
    // handle kept across events could outlive its item.
    quintptr m_currentWidgetItemAddress = 0;
    QPointer<QTreeWidget> m_currentTree;
    QPointer<QWidget> m_currentWidget;
    quintptr m_currentWidgetAddress = 0; // compared when it is being destroyed
    quint64 m_nextOrder = 0;
    bool m_inFocusChange = false;
    QPointer<QPushButton> m_privilegesButton;
    QAction* m_privilegesAction = nullptr; // the bar's place of the privileges button
    QPointer<QPushButton> m_statusButton;
    // The empty action that begins the right-hand part; the set's buttons go before it.
    QAction* m_tail = nullptr;
    QList<QPointer<QAction>> m_setActions;
    bool m_started = false;
};
