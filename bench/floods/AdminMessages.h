// A row of the floods benchmark: 5,000 messages of the server's
// administrators arriving at once; shown when the last one is in the window
// that holds them.
#pragma once
#include "FloodRun.h"
#include "pages/chat/AdminMessageDialog.h"
#include <QTextBrowser>

inline void AddAdminMessagesRow(FloodRun& run)
{
    constexpr int kMessages = 5000;
    auto burst = std::make_shared<QByteArray>();
    for (int i = 0; i < kMessages; ++i) {
        MemStream m;
        m.WriteString(QStringLiteral("Message %1 of the administrators: the server restarts at noon, "
                                     "<b>please</b> finish your transfers.")
                          .arg(i));
        *burst += ServerFrame(SM_ADMIN_MESSAGE, m);
    }
    const QString lastWords = QStringLiteral("Message %1 of").arg(kMessages - 1);
    run.Add(
        QStringLiteral("admin_messages_5000"), [burst] { gp_server->ProcessIncoming(*burst); },
        [lastWords] {
            const AdminMessageDialog* window = AdminMessageDialog::Open();
            return window && window->textEdit->toPlainText().contains(lastWords);
        });
    run.Memory(QStringLiteral("admin_messages_5000"));
}
