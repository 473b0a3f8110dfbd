#pragma once
// The small question box the pages share before a step the user may regret
// (clearing a log, leaving a room, sharing a risky folder): a box without a
// parent, Yes and No with No the default, the text shown as plain text (it may
// hold room, user or folder names). True only for Yes. Shown only on the
// user's own action.
#include <QMessageBox>

inline bool AskYes(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
