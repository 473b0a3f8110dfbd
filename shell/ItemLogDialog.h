#pragma once
// A window with one item's log: the lines kept for the item, oldest first, and
// every new one as it is logged. It deletes itself when closed.
#include "ItemPtr.h"
#include <QDialog>

class QPlainTextEdit;
struct LogLine;

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
