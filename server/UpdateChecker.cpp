#include "UpdateChecker.h"
#include "Server.h"

#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <QDate>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

const qint64 g_currentVersion = 20261207;

namespace {

const QString kArea = QStringLiteral("Update Check");
const QString kPath = QStringLiteral("/qtversion.txt");

bool IsDigits(const QString& s)
{
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return !s.isEmpty();
}

// Text that is not binary: no NUL, no control characters but tab and the
// line ends.
bool IsPlainText(const QString& s)
{
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
    , m_web(new QNetworkAccessManager(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &UpdateChecker::OnTimeout);
}

UpdateChecker::~UpdateChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

void UpdateChecker::Init()
{
    m_armed = true;
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UpdateChecker::Check, Qt::UniqueConnection);
}

QUrl UpdateChecker::VersionFileUrl()
{
    QString host = qEnvironmentVariable("MARROWBY_WEB").trimmed();
    if (host.isEmpty())
        host = QStringLiteral(MARROWBY_DEFAULT_WEB);
    const QUrl url(QStringLiteral("http://") + host + kPath, QUrl::StrictMode);
    // Only a host and a port may come from the setting: anything that turns
    // the address into another path, a query or a login is refused.
    if (!url.isValid() || url.host().isEmpty() || url.path() != kPath || url.hasQuery() || url.hasFragment()
        || !url.userInfo().isEmpty())
        return QUrl();
    return url;
}

std::optional<UpdateChecker::VersionFile> UpdateChecker::Parse(const QByteArray& bytes, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<VersionFile> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (bytes.size() > kMaxReplyBytes)
        return fail(QStringLiteral("the version file is too large"));
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    if (decode.hasError() || !IsPlainText(text))
        return fail(QStringLiteral("the version file is not text"));

    QStringList lines = text.split(u'\n');
    for (QString& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    if (lines.size() < 2)
        return fail(QStringLiteral("the version file lacks the build number or the link"));

    const QString number = lines[0].trimmed();
    if (number.size() != 8 || !IsDigits(number))
        return fail(QStringLiteral("the build number \"%1\" is not a date").arg(number.left(40)));
    const qint64 version = number.toLongLong();
    if (!QDate(int(version / 10000), int(version / 100 % 100), int(version % 100)).isValid())
        return fail(QStringLiteral("the build number \"%1\" is not a date").arg(number));

    const QString link = lines[1].trimmed();
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // The link is opened in the browser: nothing but a web address will do.
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return fail(QStringLiteral("the download link \"%1\" is not a web address").arg(link.left(200)));

    VersionFile file;
    file.version = version;
    file.link = link;
    file.description = lines.mid(2);
    return file;
}

void UpdateChecker::Check()
{
    if (!m_armed || m_reply)
        return;
    const QUrl url = VersionFileUrl();
    if (url.isEmpty()) {
        Log(kArea, 1,
            QStringLiteral("The web host \"%1\" is not a host name")
                .arg(qEnvironmentVariable("MARROWBY_WEB")));
        emit CheckFinished(false);
        return;
    }
    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_buffer.clear();
    m_abortReason.clear();
    m_reply = m_web->get(request);
    m_reply->setReadBufferSize(kMaxReplyBytes + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateChecker::OnReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::OnFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64, qint64 total) {
        if (total > kMaxReplyBytes)
            Abort(QStringLiteral("the version file is too large (%1 bytes)").arg(total));
    });
    m_timer->start(m_timeoutMs);
}

void UpdateChecker::OnReadyRead()
{
    if (!m_reply || !m_abortReason.isEmpty())
        return;
    m_buffer += m_reply->read(kMaxReplyBytes + 1 - m_buffer.size());
    if (m_buffer.size() > kMaxReplyBytes)
        Abort(QStringLiteral("the version file is too large"));
}

void UpdateChecker::OnTimeout()
{
    Abort(QStringLiteral("the web host did not answer within %1 s").arg(m_timeoutMs / 1000.0));
}

void UpdateChecker::Abort(const QString& reason)
{
    if (!m_reply || !m_abortReason.isEmpty())
        return;
    m_abortReason = reason;
    m_reply->abort(); // emits finished
}

void UpdateChecker::OnFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_timer->stop();
    if (m_abortReason.isEmpty() && reply->error() == QNetworkReply::NoError) {
        m_buffer += reply->read(kMaxReplyBytes + 1 - m_buffer.size());
        if (m_buffer.size() > kMaxReplyBytes)
            m_abortReason = QStringLiteral("the version file is too large");
    }
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;

    if (!m_abortReason.isEmpty()) {
        Log(kArea, 1, QStringLiteral("Version file ignored: %1").arg(m_abortReason));
        return Finish(false);
    }
    if (reply->error() != QNetworkReply::NoError) {
        Log(kArea, 1, QStringLiteral("Could not fetch the version file: %1").arg(reply->errorString()));
        return Finish(false);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200) {
        Log(kArea, 1,
            QStringLiteral("Could not fetch the version file: the web host answered %1").arg(status));
        return Finish(false);
    }
    QString error;
    const auto file = Parse(m_buffer, &error);
    m_buffer.clear();
    if (!file) {
        Log(kArea, 1, QStringLiteral("Version file ignored: %1").arg(error));
        return Finish(false);
    }
    const bool skipped
        = d.HasType("global") && settings.Get("skip_version") == QString::number(file->version);
    if (file->version > g_currentVersion && !skipped) {
        Log(kArea, 1, QStringLiteral("Build %1 is available").arg(file->version));
        emit NewVersion(file->version, file->link, file->description);
    }
    Finish(true);
}

void UpdateChecker::Finish(bool ok)
{
    emit CheckFinished(ok);
}
