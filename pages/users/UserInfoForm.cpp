#include "UserInfoForm.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/PictureDecoder.h"
#include "shell/RichTextBound.h"
#include "WidgetFunctions.h"
#include <QDesktopServices>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
const QString kPictureName = QStringLiteral("UserImage");
} // namespace

UserInfoBrowser::UserInfoBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &UserInfoBrowser::OnAnchorClicked);
}

QVariant UserInfoBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::ImageResource && name.toString() == kPictureName && !m_picture.isNull())
        return m_picture;
    ++m_refused;
    // Never nothing: for an image that came back empty the document would
    // read the named file itself (a device such as /dev/zero never ends).
    if (type == QTextDocument::ImageResource) {
        QImage blank(1, 1, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
    return QString();
}

void UserInfoBrowser::OnAnchorClicked(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        QDesktopServices::openUrl(url);
}

UserInfoForm::UserInfoForm(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("UserInfoForm"));
    resize(620, 412);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto field = [this, row](const QString& label, const char* name) {
        row->addWidget(new QLabel(label, this));
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setReadOnly(true);
        edit->setMaximumWidth(50);
        row->addWidget(edit);
        return edit;
    };
    m_uploadSlotsEdit = field(tr("Upload slots"), "uploadSlotsEdit");
    row->addSpacing(30);
    m_freeToUploadEdit = field(tr("Free to upload?"), "freeToUploadEdit");
    row->addSpacing(30);
    m_queuedUploadsEdit = field(tr("Queued uploads"), "queuedUploadsEdit");
    row->addStretch();
    layout->addLayout(row);
    m_userInfoText = new UserInfoBrowser(this);
    m_userInfoText->setObjectName(QStringLiteral("userInfoText"));
    layout->addWidget(m_userInfoText);
    RegisterWidgetForTabFocus(m_userInfoText, 1);
    m_decoding = new QFutureWatcher<PictureDecoder::Result>(this);
    connect(m_decoding, &QFutureWatcherBase::finished, this, &UserInfoForm::OnPictureDecoded);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this, &UserInfoForm::OnUserInfoReceived);
}

UserInfoForm::~UserInfoForm()
{
    m_decoding->cancel();
}

void UserInfoForm::Init(const QString& user)
{
    m_user = user;
    if (peerMessenger)
        peerMessenger->GetUserInfo(user);
    m_waiting = true;
    m_asked = true;
    m_userInfoText->setHtml(tr("Requesting..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &UserInfoForm::OnConnectionToUserFailed);
}

void UserInfoForm::Detach()
{
    if (peerMessenger)
        disconnect(peerMessenger, nullptr, this, nullptr);
    disconnect(m_decoding, nullptr, this, nullptr);
    m_decoding->cancel();
    m_waiting = false;
}

void UserInfoForm::OnUserInfoReceived(QString user, QString description, bool hasPicture, char* picture,
    int pictureLength, int uploadSlots, int queuedUploads, bool freeToUpload)
{
    // One reply to each request; any other costs nothing.
    if (user != m_user || !m_asked)
        return;
    m_asked = false;
    m_waiting = false;
    m_reply = { description, hasPicture, pictureLength, uploadSlots, queuedUploads, freeToUpload };
    if (!hasPicture)
        return Show(QImage(), QString());
    if (!picture)
        return Show(QImage(),
            tr("The picture (%1 bytes) is not shown: it is larger than the %2 MiB accepted.")
                .arg(pictureLength)
                .arg(kMaxPictureLength / (1024 * 1024)));
    // A picture of an earlier reply still being decoded is not shown now.
    m_decoding->cancel();
    m_decoding->setFuture(PictureDecoder::Start(
        QByteArray(picture, pictureLength), QSize(kMaxPictureWidth, kMaxPictureHeight)));
}

void UserInfoForm::OnPictureDecoded()
{
    const PictureDecoder::Result result = m_decoding->result();
    QString refusal;
    if (result.image.isNull() && result.TooLarge())
        refusal = tr("The picture (%1 x %2 pixels) is not shown: it is larger than the %3 million pixels accepted.")
                      .arg(result.claimed.width())
                      .arg(result.claimed.height())
                      .arg(PictureDecoder::kMaxPixels / (1024 * 1024));
    else if (result.image.isNull())
        refusal = tr("The picture (%1 bytes) is not shown: it could not be read as an image.").arg(m_reply.pictureLength);
    Show(result.image, refusal);
}

void UserInfoForm::Show(const QImage& image, const QString& refusal)
{
    m_uploadSlotsEdit->setText(QString::number(m_reply.uploadSlots));
    m_queuedUploadsEdit->setText(QString::number(m_reply.queuedUploads));
    m_freeToUploadEdit->setText(m_reply.freeToUpload ? tr("Yes") : tr("No"));

    QString html;
    m_userInfoText->SetPicture(image);
    if (!image.isNull()) {
        m_userInfoText->document()->addResource(QTextDocument::ImageResource, QUrl(kPictureName), image);
        html += QStringLiteral("<img src=\"%1\" /><p>").arg(kPictureName);
    } else if (!refusal.isEmpty()) {
        html += QStringLiteral("<p><i>%1</i></p>").arg(refusal.toHtmlEscaped());
    }
    if (m_reply.description.isEmpty() && !m_reply.hasPicture)
        html += tr("No user info.");
    else
        html += RichTextBound::Html(QString(m_reply.description).replace(QLatin1Char('\n'), QStringLiteral("<br>")));
    m_userInfoText->setHtml(html);
    QTextCursor cursor = m_userInfoText->textCursor();
    cursor.setPosition(0);
    m_userInfoText->setTextCursor(cursor);
    RaiseEvent(QStringLiteral("user_info"));
}

void UserInfoForm::OnConnectionToUserFailed(QString user, QString connectionType)
{
    if (!m_waiting || user != m_user || connectionType != QLatin1String("P"))
        return;
    m_waiting = false;
    if (!gp_server || !gp_server->IsConnected())
        m_userInfoText->setPlainText(
            tr("Not connected to the server, so the user could not be reached. Close this "
               "tab and ask again once the client is connected."));
    else
        m_userInfoText->setPlainText(tr("A connection could not be successfully formed to the user."));
    RaiseEvent(QString());
}

void UserInfoForm::RaiseEvent(const QString& sound)
{
    if (eventToolBar)
        eventToolBar->AddEvent(
            IsolatedText(m_user), QStringLiteral(":/icons/info_icon"), this, QString(), sound, false);
}

void UserInfoForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}
