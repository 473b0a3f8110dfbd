#pragma once
// Puts a typed-in user into the user list once the server has confirmed that
// a user of that name exists. Several may be open at once; each completes on
// the server's answer for its own name, or stops waiting when the connection
// goes.
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class AddUserDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddUserDialog(QWidget* parent = nullptr);

    QLineEdit* UserNameEdit() const { return m_userNameEdit; }
    QLineEdit* StatusEdit() const { return m_statusEdit; }
    QPushButton* AddButton() const { return m_addButton; }

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(QString user, bool exists);
    void OnDisconnected();

private:
    void SetWaiting(bool waiting);

    QLineEdit* m_userNameEdit;
    QLineEdit* m_statusEdit;
    QPushButton* m_addButton;
    QString m_waitingFor;
};
