#pragma once
// One private conversation: the chat with the partner above an input line.
// Lines follow the rules of every chat view (ChatLines); the tab logs them to
// the partner's log, raises an event for each, and reports the partner going
// away and coming back.
#include "ChatLines.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include "shell/TabWidget.h"
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QTextBrowser;
class QUrl;

class ChatForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    ChatForm(const QString& user, TabWidget* tabWidget, QWidget* parent = nullptr);
    ~ChatForm() override;

    // One line said by the partner or by the own user.
    void AddChat(const QString& user, const QString& text);
    // A line of the partner that waited for the tab (ChatsForm): shown with
    // the time it came, when it was logged; raises the tab's event.
    void AddWaitedChat(const QString& text, const QDateTime& when);
    // Writes a line said by the user in the conversation with the partner
    // to the partner's log.
    static void LogLine(const QString& partner, ItemPtr partnerItem, const QString& user, const QString& text);
    void AddStatusMessage(const QString& text);
    void LogChat(const QString& line);
    // Brings the tab forward and gives the input line the keyboard focus.
    void Focus();
    const QString& User() const { return m_user; }
    ChatLines& Lines() { return m_lines; }

    QTextBrowser* chatView;
    QLineEdit* chatEdit;

public slots:
    void OnEnter();
    void OnContextMenuRequested(QPoint position);
    void OnURLClicked(const QUrl& url);
    void OnActionTriggered(QWidget* widget, QString id);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shows the line; false for an action ("/me ...").
    bool ShowLine(const QString& user, const QString& text, const QDateTime& when);
    void RaiseEvent(const QString& user, const QString& text);
    void OnUserAway(ItemPtr user);
    void OnUserAvailable(ItemPtr user);

    QString m_user;
    ItemPtr m_userItem;
    ChatLines m_lines;
    QPointer<TabWidget> m_tabWidget;
};
