#pragma once
// A small report window of lines of text, shown after a rescan of the shared
// folders. It deletes itself when closed.
#include <QDialog>

class QDialogButtonBox;
class QPlainTextEdit;

class SharedFilesRescannedDialog : public QDialog {
    Q_OBJECT
public:
    explicit SharedFilesRescannedDialog(QWidget* parent = nullptr);

    // Adds one line as a new paragraph.
    void Append(const QString& line);

    QPlainTextEdit* plainTextEdit;
    QDialogButtonBox* buttonBox;
};
