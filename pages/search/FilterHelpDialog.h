#pragma once
// The help on the result-filter language. One exists at a time for the whole
// program (filterHelpDialog); it deletes itself when closed. The results tabs
// and the share browser open it.
#include <QDialog>

class QTextEdit;

class FilterHelpDialog : public QDialog {
    Q_OBJECT
public:
    explicit FilterHelpDialog(QWidget* parent = nullptr);
    ~FilterHelpDialog() override;
    QTextEdit* textEdit() const { return m_text; }

    // Shows the one dialog, making it with that parent when there is none.
    static FilterHelpDialog* Open(QWidget* parent);

private:
    QTextEdit* m_text;
};

extern FilterHelpDialog* filterHelpDialog;
