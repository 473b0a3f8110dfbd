#pragma once
// Stand-in for the administrator-message dialog until the chat page is built:
// the message as plain text, deleted when closed.
#include <QDialog>

class AdminMessageDialog : public QDialog {
    Q_OBJECT
public:
    AdminMessageDialog(const QString& message, QWidget* parent = nullptr);
};
