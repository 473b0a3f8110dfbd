#include "NewVersionDialog.h"
#include "Kit.h"
#include "RichTextBound.h"
#include "Settings.h"
#include "UpdateChecker.h"
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

void Ui_NewVersionDialog::setupUi(QDialog* dialog)
{
    dialog->setObjectName("NewVersionDialog");
    dialog->resize(429, 305);
    auto* layout = new QVBoxLayout(dialog);
    auto* versions = new QGridLayout;
    currentVersionLabel = new QLabel(dialog);
    currentVersionEdit = new QLineEdit(dialog);
    currentVersionEdit->setObjectName("currentVersionEdit");
    currentVersionEdit->setReadOnly(true);
    newVersionLabel = new QLabel(dialog);
    newVersionEdit = new QLineEdit(dialog);
    newVersionEdit->setObjectName("newVersionEdit");
    for (QLineEdit* edit : { currentVersionEdit, newVersionEdit }) {
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        edit->setMaximumWidth(100);
    }
    versions->addWidget(currentVersionLabel, 0, 0);
    versions->addWidget(currentVersionEdit, 0, 1);
    versions->addWidget(newVersionLabel, 1, 0);
    versions->addWidget(newVersionEdit, 1, 1);
    layout->addLayout(versions);
    descriptionEdit = new QTextEdit(dialog);
    descriptionEdit->setObjectName("descriptionEdit");
    descriptionEdit->setReadOnly(true);
    descriptionEdit->setAcceptRichText(false);
    layout->addWidget(descriptionEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    skipButton = new QPushButton(dialog);
    skipButton->setObjectName("skipButton");
    downloadButton = new QPushButton(dialog);
    downloadButton->setObjectName("downloadButton");
    // Neither is pressed by Return: the choice is made with the mouse or
    // with Space on the button that has the focus, never by a key meant for
    // another window.
    for (QPushButton* button : { skipButton, downloadButton }) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    retranslateUi(dialog);
}

void Ui_NewVersionDialog::retranslateUi(QDialog*)
{
    currentVersionLabel->setText(QDialog::tr("Currently Using"));
    newVersionLabel->setText(QDialog::tr("Newest Available"));
    skipButton->setText(QDialog::tr("Skip this version"));
    downloadButton->setText(QDialog::tr("Download"));
}

NewVersionDialog::NewVersionDialog(qint64 version, QString link, QStringList description, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui_NewVersionDialog>())
    , m_version(version)
    , m_link(link)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("MarrowbyQt Update"));
    m_ui->currentVersionEdit->setText(BuildText(g_currentVersion));
    m_ui->newVersionEdit->setText(BuildText(version));
    // The web host's words are shown as they are, never as markup, and no
    // longer than any text from outside.
    m_ui->descriptionEdit->setUpdatesEnabled(false);
    m_ui->descriptionEdit->setPlainText(RichTextBound::Plain(description.join(QLatin1Char('\n'))));
    m_ui->descriptionEdit->moveCursor(QTextCursor::Start);
    m_ui->descriptionEdit->ensureCursorVisible();
    m_ui->descriptionEdit->setUpdatesEnabled(true);
    // The window opens on its offer, not on a field that takes no keys.
    m_ui->downloadButton->setFocus();
    connect(m_ui->downloadButton, &QPushButton::clicked, this, &NewVersionDialog::OnDownloadButtonClicked);
    connect(m_ui->skipButton, &QPushButton::clicked, this, &NewVersionDialog::OnSkipButtonClicked);
}

NewVersionDialog::~NewVersionDialog() = default;

QString NewVersionDialog::BuildText(qint64 version)
{
    return QStringLiteral("Build %1/%2/%3").arg(version % 10000 / 100).arg(version % 100).arg(version / 10000);
}

QUrl NewVersionDialog::DownloadUrl(const QString& link)
{
    const QUrl url(link.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QUrl();
    return url;
}

void NewVersionDialog::OnDownloadButtonClicked()
{
    // A link that is not a web address (a local file, a program) is not opened.
    const QUrl url = DownloadUrl(m_link);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void NewVersionDialog::OnSkipButtonClicked()
{
    settings.Set("skip_version", Value(static_cast<long long>(m_version)));
    // With WA_DeleteOnClose, close() deletes the dialog later, not under the
    // button's signal.
    close();
}
