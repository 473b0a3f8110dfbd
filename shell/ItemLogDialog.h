#pragma once
// A window with one item's log: the lines kept for the item, oldest first, and
// every new one as it is logged. It deletes itself when closed.
#include "ItemPtr.h"
#include <QDialog>

class QPlainTextEdit;
struct LogLine;

// A log line as the log views show it. Lines name peers and their files, so
// each line of the text is shown direction-isolated (IsolatedText): a name
// cannot run the rest of its line backwards.
QString ShownLogLine(const LogLine& line);

class ItemLogDialog : public QDialog {
    Q_OBJECT
public:
    explicit ItemLogDialog(ItemPtr item, QWidget* parent = nullptr);

    QPlainTextEdit* LogView() const { return m_view; }

private slots:
    void OnLineAdded(const QString& area, const LogLine& line, quint64 itemSerial);

private:
    // The creation number, not the handle: the item may go while the window
    // stays open.
    quint64 m_serial;
    QPlainTextEdit* m_view;
};
