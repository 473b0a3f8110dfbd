#pragma once
// Edits the login user name and password. The first-start variant is run
// modally by start-up and destroyed by its caller; the ordinary one, opened
// while logged out, destroys itself once it is closed, by OK or by Cancel.
#include <QDialog>
#include <memory>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

class Ui_ChangeUsernamePasswordDialog {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QLabel* label_2;
    QLineEdit* usernameEdit;
    QLabel* label_3;
    QLineEdit* passwordEdit;
    QDialogButtonBox* buttonBox;
};

class ChangeUsernamePasswordDialog : public QDialog {
    Q_OBJECT
public:
    ChangeUsernamePasswordDialog(bool firstStart, QWidget* parent = nullptr);
    ~ChangeUsernamePasswordDialog() override;

    Ui_ChangeUsernamePasswordDialog* Form() const { return m_ui.get(); }

    // Cancel, Escape or the close button: nothing is stored.
    void reject() override;

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui_ChangeUsernamePasswordDialog> m_ui;
    bool m_firstStart;
};
