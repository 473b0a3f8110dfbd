#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// One registered name and what the server keeps about it across logins.
struct Account {
    bool registered = false;
    QString password;
    qint64 privilegedUntilMs = 0;
    quint32 folders = 0;
    quint32 files = 0;
    quint32 averageSpeed = 0;
    quint64 uploads = 0;
    bool invitationsEnabled = true;
};

// The accounts of the server: the first login of a name registers its password.
class AccountBook {
public:
    enum class LoginCheck { Accepted, WrongPassword };

    LoginCheck checkLogin(const QString& user, const QString& password);
    bool exists(const QString& user) const;
    const Account* find(const QString& user) const;
    Account& ensure(const QString& user);

    qint64 privilegeSeconds(const QString& user) const;
    bool privileged(const QString& user) const { return privilegeSeconds(user) > 0; }
    void addPrivileges(const QString& user, qint64 seconds);
    // Moves the seconds from the giver to the receiver; refused when the giver
    // has fewer left or the receiver is not registered.
    bool giftPrivileges(const QString& from, const QString& to, qint64 seconds);
    QStringList privilegedUsers() const;

private:
    QHash<QString, Account> m_accounts;
};
