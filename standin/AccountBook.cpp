#include "AccountBook.h"

#include <QDateTime>

#include <algorithm>

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

}

AccountBook::LoginCheck AccountBook::checkLogin(const QString& user, const QString& password)
{
    Account& account = ensure(user);
    if (!account.registered) {
        account.registered = true;
        account.password = password;
        return LoginCheck::Accepted;
    }
    return account.password == password ? LoginCheck::Accepted : LoginCheck::WrongPassword;
}

bool AccountBook::exists(const QString& user) const
{
    const Account* account = find(user);
    return account && account->registered;
}

const Account* AccountBook::find(const QString& user) const
{
    auto it = m_accounts.constFind(user);
    return it == m_accounts.cend() ? nullptr : &it.value();
}

Account& AccountBook::ensure(const QString& user)
{
    return m_accounts[user];
}

qint64 AccountBook::privilegeSeconds(const QString& user) const
{
    const Account* account = find(user);
    if (!account)
        return 0;
    return std::max<qint64>(0, (account->privilegedUntilMs - nowMs()) / 1000);
}

void AccountBook::addPrivileges(const QString& user, qint64 seconds)
{
    Account& account = ensure(user);
    account.privilegedUntilMs = std::max(account.privilegedUntilMs, nowMs()) + seconds * 1000;
}

bool AccountBook::giftPrivileges(const QString& from, const QString& to, qint64 seconds)
{
    if (seconds <= 0 || from == to || !exists(to) || privilegeSeconds(from) < seconds)
        return false;
    ensure(from).privilegedUntilMs -= seconds * 1000;
    addPrivileges(to, seconds);
    return true;
}

QStringList AccountBook::privilegedUsers() const
{
    QStringList users;
    for (auto it = m_accounts.cbegin(); it != m_accounts.cend(); ++it) {
        if (privileged(it.key()))
            users.append(it.key());
    }
    users.sort();
    return users;
}
