#pragma once
// One message from the server's administrators, with the time it arrived.
// Display only; deleted when closed.
#include <QDialog>

class QLabel;
class QLineEdit;
class QTextBrowser;

class AdminMessageDialog : public QDialog {
    Q_OBJECT
public:
    AdminMessageDialog(const QString& message, QWidget* parent = nullptr);
    ~AdminMessageDialog() override;

    QLabel* label;
    QLineEdit* timeEdit;
    // A text browser so that web links can be followed; it loads nothing.
    QTextBrowser* textEdit;
};
