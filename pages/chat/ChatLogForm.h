#pragma once
// A read-only view of one chat-log file that follows the log while it is
// open, with an incremental, case-insensitive find (highlight, back and
// forward) and the tool-bar actions "Clear Log" and "Open Log Folder".
//
// The find keeps no state in the view's cursor: the current match is a
// document cursor of its own, so finding goes on working after the log was
// cleared, after a failed search and while lines keep arriving.
#include <QTextCursor>
#include <QWidget>

class QLineEdit;
class QPushButton;
class QTextEdit;

class ChatLogForm : public QWidget {
    Q_OBJECT
public:
    ChatLogForm(const QString& path, QWidget* parent = nullptr);
    ~ChatLogForm() override;

    // Appends one log line (trimmed, isolated) as plain text.
    void AddLine(const QString& line);
    const QString& Path() const { return m_path; }
    // Brings the viewer forward with the keyboard in its find field.
    void Focus();

    QLineEdit* searchEdit;
    QPushButton* searchBackButton;
    QPushButton* searchForwardButton;
    QTextEdit* logEdit;

public slots:
    void OnSearchTextChanged(const QString& text);
    void OnSearchBack();
    void OnSearchForward();
    void OnActionTriggered(QWidget* widget, QString id);

private:
    void MarkFind(const QTextCursor& match);
    void MarkSearchButtons();
    void ClearFind();

    QString m_path;
    QTextCursor m_match;
};
