#pragma once
// Tells the user that a newer build is out: the running and the newest build
// as dates, the new build's description (plain text, as the web host sent
// it), a "Download" button that opens the link and "Skip this version".
#include <QDialog>
#include <QStringList>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;

class Ui_NewVersionDialog {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QLabel* currentVersionLabel;
    QLineEdit* currentVersionEdit;
    QLabel* newVersionLabel;
    QLineEdit* newVersionEdit;
    QTextEdit* descriptionEdit;
    QPushButton* skipButton;
    QPushButton* downloadButton;
};

class NewVersionDialog : public QDialog {
    Q_OBJECT
public:
    NewVersionDialog(qint64 version, QString link, QStringList description, QWidget* parent = nullptr);
    ~NewVersionDialog() override;

    Ui_NewVersionDialog* Form() const { return m_ui.get(); }
    // The build offered.
    qint64 Version() const { return m_version; }
    // "Build m/d/yyyy" of a yyyymmdd build number.
    static QString BuildText(qint64 version);
    // The link, when it is one the browser may open (http or https).
    static QUrl DownloadUrl(const QString& link);

public slots:
    void OnDownloadButtonClicked();
    void OnSkipButtonClicked();

private:
    std::unique_ptr<Ui_NewVersionDialog> m_ui;
    qint64 m_version;
    QString m_link;
};
