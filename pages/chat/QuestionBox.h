#pragma once
// The chat pages' confirmation questions: a box without a parent, Yes and No
// with No the default, the text shown as plain text (it may hold room or user
// names). True only for Yes.
#include <QMessageBox>

inline bool AskYes(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
