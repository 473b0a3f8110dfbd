#pragma once
// Stand-in for a private-chat tab until the chat page is built.
#include <QWidget>

class ChatForm : public QWidget {
    Q_OBJECT
public:
    explicit ChatForm(QWidget* parent = nullptr)
        : QWidget(parent)
    {
    }
    void AddChat(const QString& user, const QString& text)
    {
        m_lines.append(user + QStringLiteral(": ") + text);
    }
    const QStringList& Lines() const { return m_lines; }

private:
    QStringList m_lines;
};
