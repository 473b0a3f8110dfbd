#include "UserInfoReply.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "store/InputStream.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {
const QString kArea = QStringLiteral("User Info");
}

QByteArray UserInfoReply::DescriptionBytes(const QString& description)
{
    QByteArray bytes = description.toUtf8();
    if (bytes.size() > qsizetype(kMaxStreamCount)) {
        qsizetype cut = kMaxStreamCount;
        // Never in the middle of a character.
        while (cut > 0 && (quint8(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}

bool UserInfoReply::Picture(QByteArray& bytes)
{
    const QString path = settings.Get("user_picture_file");
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (path == m_path && size == m_size && modified == m_modified) {
        bytes = m_bytes;
        return m_ok;
    }
    m_path = path;
    m_size = size;
    m_modified = modified;
    m_ok = false;
    m_bytes.clear();

    QString problem;
    if (!info.exists())
        problem = QStringLiteral("does not exist");
    else if (!info.isFile())
        problem = QStringLiteral("is not a regular file");
    else if (size > qint64(kMaxPictureLength))
        problem = QStringLiteral("is larger than %1 bytes").arg(kMaxPictureLength);
    else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            problem = QStringLiteral("can't be read");
        else {
            m_bytes = file.read(kMaxPictureLength + 1);
            QBuffer buffer(&m_bytes);
            buffer.open(QIODevice::ReadOnly);
            if (m_bytes.size() != size)
                problem = QStringLiteral("changed while it was read");
            else if (!QImageReader(&buffer).canRead())
                problem = QStringLiteral("is not an image");
        }
    }
    if (!problem.isEmpty()) {
        m_bytes.clear();
        Log(kArea, 1, QStringLiteral("The picture %1 %2; user information goes out without it.").arg(path, problem));
        return false;
    }
    m_ok = true;
    bytes = m_bytes;
    return true;
}

QByteArrayList UserInfoReply::Build()
{
    UserInfoMessage info;
    info.description = QString::fromUtf8(DescriptionBytes(settings.Get("user_description")));
    info.hasPicture = Picture(info.picture);
    info.uploadSlots = settings.GetInt("upload_slots");
    if (transferQueueManager) {
        info.queuedUploads = transferQueueManager->QueuedUploadCount();
        info.freeToUpload = transferQueueManager->IsFreeToUpload();
    }
    return EncodeUserInfoPieces(info);
}
