#pragma once
// Edits the plain listening port. The change is kept in "new_listening_port"
// and taken over by the peer network at the next start; the obfuscated port
// is the plain port plus 1, so the highest port accepted is 65534. The dialog
// destroys itself once it is closed, by OK or by Cancel.
#include <QDialog>
#include <memory>

class QDialogButtonBox;
class QLineEdit;

class Ui_ChangeListeningPortDialog {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QLineEdit* portEdit;
    QDialogButtonBox* buttonBox;
};

class ChangeListeningPortDialog : public QDialog {
    Q_OBJECT
public:
    explicit ChangeListeningPortDialog(QWidget* parent = nullptr);
    ~ChangeListeningPortDialog() override;

    static constexpr int kHighestPort = 65534;
    Ui_ChangeListeningPortDialog* Form() const { return m_ui.get(); }
    // Cancel, Escape or the close button: nothing is stored.
    void reject() override;

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui_ChangeListeningPortDialog> m_ui;
};
