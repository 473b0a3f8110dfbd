#pragma once
// Gives the named user some days of the own account's privileges. Sending is
// possible only while logged in; the dialog closes once the gift is sent.
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class GiftPrivilegesDialog : public QDialog {
    Q_OBJECT
public:
    GiftPrivilegesDialog(QString user, QWidget* parent = nullptr);

    QLineEdit* DaysEdit() const { return m_daysEdit; }
    QPushButton* GiftButton() const { return m_giftButton; }

public slots:
    void OnGiftClicked();

private slots:
    void UpdateButton();

private:
    QString m_user;
    QLineEdit* m_daysEdit;
    QPushButton* m_giftButton;
};
