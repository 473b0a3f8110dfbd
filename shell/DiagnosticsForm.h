#pragma once
// The Diagnostics page: the log of one area at a time, chosen from the list of
// areas, and, once Init has run, the users whose status the server reports,
// from whom each user's own log opens ("See User Log").
//
// Cost: while the page is hidden, a logged line only marks the view stale, and
// the view is refilled from the sink when the page is shown. While it is shown,
// new lines are appended in one batch per turn of the event loop.
#include "Data.h"
#include <QStringList>
#include <QWidget>
#include <string>
#include <unordered_map>

class QAction;
class QComboBox;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
struct LogLine;

class DiagnosticsForm : public QWidget, public DataHandler {
    Q_OBJECT
public:
    // Declares the log types and sets the global diagnosticsForm.
    explicit DiagnosticsForm(QWidget* parent = nullptr);
    ~DiagnosticsForm() override;

    // Sets up the tracked-user list (users connected to `is_tracked`) and its
    // action. Needs the `user` and `is_tracked` types; without them the list
    // stays empty.
    void Init();
    // Relates the log items to the type, so that its items keep their own log.
    void RegisterLoggableItemType(std::string type);

    QString CurrentArea() const;
    void ShowArea(const QString& area);
    QPlainTextEdit* LogView() const { return m_view; }
    QListWidget* TrackedUserList() const { return m_users; }
    QAction* UserLogAction() const { return m_userLogAction; }

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnLineAdded(const QString& area, const LogLine& line, quint64 itemSerial);
    void OnAreaChanged();
    void FlushPending();
    void OnUserLog();

private:
    void AddArea(const QString& area);
    void Reload();
    void OnTrackedConnected(ConnectionInfo& info);
    void OnTrackedDisconnected(ConnectionInfo& info);
    void OnUserRemoved(ItemPtr user);
    void AddTrackedUser(ItemPtr user);
    void RemoveTrackedUser(ItemPtr user);

    QComboBox* m_areaBox;
    QPlainTextEdit* m_view;
    QListWidget* m_users;
    QAction* m_userLogAction;
    QStringList m_pending;
    bool m_stale = true;
    bool m_flushQueued = false;

    Type* m_userType = nullptr;
    Type* m_trackedType = nullptr;
    struct TrackedRow {
        ItemPtr user; // the row goes before its user does
        QListWidgetItem* row;
    };
    std::unordered_map<quint64, TrackedRow> m_rows; // by the user's creation number
};

extern DiagnosticsForm* diagnosticsForm;
