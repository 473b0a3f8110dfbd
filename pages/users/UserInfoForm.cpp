#include "UserInfoForm.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/RichTextBound.h"
#include "WidgetFunctions.h"
#include <QBuffer>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
const QString kPictureName = QStringLiteral("UserImage");

// The largest size within the box with the picture's proportions, and never
// less than a pixel high or wide (a long thin strip stays visible).
QSize FittedSize(const QSize& size)
{
    const QSize box(UserInfoForm::kMaxPictureWidth, UserInfoForm::kMaxPictureHeight);
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// The picture decoded at most at the size it is shown: a huge image is never
// decoded whole.
QImage DecodePicture(const char* data, int length)
{
    QByteArray bytes = QByteArray::fromRawData(data, length);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && FittedSize(size) != size)
        reader.setScaledSize(FittedSize(size));
    QImage image = reader.read();
    if (!image.isNull() && FittedSize(image.size()) != image.size())
        image = image.scaled(FittedSize(image.size()), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}
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
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this, &UserInfoForm::OnUserInfoReceived);
}

void UserInfoForm::Init(const QString& user)
{
    m_user = user;
    if (peerMessenger)
        peerMessenger->GetUserInfo(user);
    m_waiting = true;
    m_userInfoText->setHtml(tr("Requesting..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &UserInfoForm::OnConnectionToUserFailed);
}

void UserInfoForm::Detach()
{
    if (peerMessenger)
        disconnect(peerMessenger, nullptr, this, nullptr);
    m_waiting = false;
}

void UserInfoForm::OnUserInfoReceived(QString user, QString description, bool hasPicture, char* picture,
    int pictureLength, int uploadSlots, int queuedUploads, bool freeToUpload)
{
    if (user != m_user)
        return;
    m_waiting = false;
    m_uploadSlotsEdit->setText(QString::number(uploadSlots));
    m_queuedUploadsEdit->setText(QString::number(queuedUploads));
    m_freeToUploadEdit->setText(freeToUpload ? tr("Yes") : tr("No"));

    QString html;
    if (hasPicture) {
        const QImage image = picture && pictureLength > 0 ? DecodePicture(picture, pictureLength) : QImage();
        if (image.isNull())
            return;
        m_userInfoText->SetPicture(image);
        m_userInfoText->document()->addResource(QTextDocument::ImageResource, QUrl(kPictureName), image);
        html += QStringLiteral("<img src=\"%1\" /><p>").arg(kPictureName);
    }
    if (description.isEmpty() && !hasPicture)
        html += tr("No user info.");
    else
        html += RichTextBound::Html(QString(description).replace(QLatin1Char('\n'), QStringLiteral("<br>")));
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
