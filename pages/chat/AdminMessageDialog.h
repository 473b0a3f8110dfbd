#pragma once
// Messages from the server's administrators, each under the time it arrived.
// One window holds them all: a message that comes while it is open is added
// at its end, and only the newest kKeptMessages stay (the window says how
// many earlier ones it no longer shows). Display only; deleted when closed,
// and the next message opens a new one.
#include <QDialog>

class QLabel;
class QLineEdit;
class QTextBrowser;

class AdminMessageDialog : public QDialog {
    Q_OBJECT
public:
    AdminMessageDialog(const QString& message, QWidget* parent = nullptr);
    ~AdminMessageDialog() override;

    // Adds the message to the open window, or opens one (above other windows,
    // without the keyboard) for it.
    static void Add(const QString& message, QWidget* parent);
    // The open window, or null.
    static AdminMessageDialog* Open() { return s_open; }

    // Adds a message at the end, dropping the oldest beyond the bound.
    void Append(const QString& message);
    int MessageCount() const { return m_messages; }

    static constexpr int kKeptMessages = 100;

    QLabel* label;
    QLineEdit* timeEdit;
    // A text browser so that web links can be followed; it loads nothing.
    QTextBrowser* textEdit;

private:
    void DropOldest();

    static AdminMessageDialog* s_open;
    int m_messages = 0;
    int m_dropped = 0;
};
