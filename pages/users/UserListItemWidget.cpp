#include "UserListItemWidget.h"
#include "shell/Kit.h"
#include "store/Data.h"

bool UserListItemWidget::IsOnline(const QString& user)
{
    return ::d.GetType("user")->HasItem(Value(user)).IsConnected("is_online");
}

void UserListItemWidget::SetUser(QTreeWidgetItem* row, const QString& user)
{
    row->setData(0, Qt::UserRole, user);
    row->setText(0, RowName(user));
}

QString UserListItemWidget::User(const QTreeWidgetItem* row)
{
    return row ? row->data(0, Qt::UserRole).toString() : QString();
}

bool UserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QString a = User(this);
    const QString b = User(&other);
    return Less(IsOnline(a), a, IsOnline(b), b);
}

bool UserListItemWidget::FoldedLess(const QString& a, const QString& b)
{
    // Plain ASCII folds to its lower case, compared in place; a name with
    // anything else is folded whole.
    const QChar* x = a.constData();
    const QChar* y = b.constData();
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t cx = x[i].unicode();
        char16_t cy = y[i].unicode();
        if (cx >= 0x80 || cy >= 0x80)
            return a.toCaseFolded() < b.toCaseFolded();
        if (cx >= u'A' && cx <= u'Z')
            cx += 32;
        if (cy >= u'A' && cy <= u'Z')
            cy += 32;
        if (cx != cy)
            return cx < cy;
    }
    // One is a prefix of the other; what follows it may still fold.
    for (qsizetype i = n; i < a.size(); ++i)
        if (x[i].unicode() >= 0x80)
            return a.toCaseFolded() < b.toCaseFolded();
    for (qsizetype i = n; i < b.size(); ++i)
        if (y[i].unicode() >= 0x80)
            return a.toCaseFolded() < b.toCaseFolded();
    return a.size() < b.size();
}
